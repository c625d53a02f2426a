// The expression loop: terms are read left to right and folded into the result.
//
//   term \ result   ' ' (none yet)     'C'            'N', 'F'              'D', 'L', 'M'
//   'C'             appended           appended       -207                  -207
//   'N', 'F'        taken over         -207           added or subtracted   ignored
//   'D', 'L', 'M'   taken over         ignored        ignored               ignored
//
// '+' and '-' both concatenate text; between numbers they add and subtract, and a
// numeric term with no operator in front is dropped.
#include <algorithm>
#include <cstring>

#include "core/failure.hpp"
#include "date/dates.hpp"
#include "expr/frame.hpp"
#include "table/table.hpp"

namespace xbdb::expr {

DBEvalResult DBeval_pr{nullptr, ' ', 0};
StoredDate DBeval_pr_date;
Frame DBeval_fr;
int32_t DBeval_dbf = DB_NO_HANDLE;

double Value::number() const {
    double d = 0.0;
    if (buffer) std::memcpy(&d, buffer.get(), sizeof d);
    return d;
}

namespace {

enum class Operator { none, add, subtract };

bool is_number(int16_t type) { return type == 'N' || type == 'F'; }
bool is_text(int16_t type) { return type == 'C' || type == 'D'; }

// Marks the frame busy for one evaluation over text; on the way out, whatever a
// failed term left in the frame is released and the cursor forgotten, so that a
// stray DBProcessTable afterwards cannot read a text that is gone.
class EvaluationScope {
public:
    explicit EvaluationScope(const char* text) {
        DBeval_fr = Frame{};
        DBeval_fr.pub.cursor = const_cast<char*>(text);  // hosts must not write through it
        DBeval_fr.begin = text;
        DBeval_fr.end = text + std::strlen(text);
        DBeval_fr.active = true;
    }
    ~EvaluationScope() {
        release(DBeval_fr.pub.value);
        DBeval_fr = Frame{};
    }
    EvaluationScope(const EvaluationScope&) = delete;
    EvaluationScope& operator=(const EvaluationScope&) = delete;
};

Operator read_operator() {
    char*& cursor = DBeval_fr.pub.cursor;
    if (*cursor == '+') return ++cursor, Operator::add;
    if (*cursor == '-') return ++cursor, Operator::subtract;
    return Operator::none;
}

// Grows block to size bytes; the old block stays on failure.
bool grow(HostBlock& block, std::size_t size) {
    void* raw = block.release();
    const bool ok = reallocate(&raw, size);
    block.reset(static_cast<char*>(raw));
    return ok;
}

int32_t append_text(Value& result, const Value& term) {
    if (result.type != ' ' && result.type != 'C') return fail(DB_ERR_KEY_EXPR);
    const std::string_view add = term.text();
    const std::size_t old_length = static_cast<std::size_t>(result.length);
    const std::size_t total = old_length + add.size();
    if (total > kMaxValueLength) return fail(DB_ERR_KEY_EXPR);
    if (!grow(result.buffer, total + 1)) return fail(DB_ERR_MEMORY);
    std::memcpy(result.buffer.get() + old_length, add.data(), add.size());
    result.buffer[total] = '\0';
    result.length = static_cast<int16_t>(total);
    result.type = 'C';
    return 0;
}

void add_number(Value& result, const Value& term, Operator op) {
    double sum = result.number();
    if (op == Operator::add) sum += term.number();
    if (op == Operator::subtract) sum -= term.number();
    std::memcpy(result.buffer.get(), &sum, sizeof sum);
}

int32_t combine(Value& result, Value&& term, Operator op) {
    if (term.type == 'C') return append_text(result, term);
    if (result.type == ' ') {
        result = std::move(term);
        return 0;
    }
    if (!is_number(term.type)) return 0;
    if (result.type == 'C') return fail(DB_ERR_KEY_EXPR);
    if (is_number(result.type)) add_number(result, term, op);
    return 0;
}

// The result before the first term: no type, an empty text.
int32_t start_result(Value& result) {
    result = Value{};
    result.buffer = allocate_block(1);
    return result.buffer ? 0 : fail(DB_ERR_MEMORY);
}

int32_t run_expression(Value& result) {
    if (int32_t code = start_result(result); code < 0) return fail(code);
    while (at_cursor() != '\0') {
        const Operator op = read_operator();
        if (int32_t code = process_term(); code < 0) return fail(code);
        if (int32_t code = combine(result, take_term(), op); code < 0) return fail(code);
    }
    return 0;
}

}  // namespace

// ---- the frame's value -----------------------------------------------------------------

Value take_term() {
    DBEvalFrame& pub = DBeval_fr.pub;
    Value term;
    term.buffer.reset(pub.value);
    term.type = pub.type;
    term.length = pub.length;
    if (term.type == 'D') term.date = DBeval_fr.date;
    if (is_text(term.type))
        term.length = term.buffer ? static_cast<int16_t>(std::strlen(term.buffer.get())) : 0;
    pub.value = nullptr;
    return term;
}

int32_t put_term(Value&& value) {
    DBEvalFrame& pub = DBeval_fr.pub;
    if (is_text(value.type) && value.buffer && std::strlen(value.buffer.get()) > kMaxValueLength)
        return fail(DB_ERR_KEY_EXPR);
    pub.type = value.type;
    pub.length = value.length;
    DBeval_fr.date = value.type == 'D' ? value.date : StoredDate{};
    pub.value = value.buffer.release();
    return 0;
}

int32_t put_text(std::string_view text, std::size_t width) {
    width = std::max(width, text.size());
    if (width > kMaxValueLength) return fail(DB_ERR_KEY_EXPR);
    Value value;
    value.buffer = allocate_block(width + 1);
    if (!value.buffer) return fail(DB_ERR_MEMORY);
    std::memcpy(value.buffer.get(), text.data(), text.size());
    std::memset(value.buffer.get() + text.size(), ' ', width - text.size());
    value.type = 'C';
    value.length = static_cast<int16_t>(width);
    return put_term(std::move(value));
}

int32_t step_over() {
    if (at_cursor() == '\0') return fail(DB_ERR_KEY_EXPR);
    ++DBeval_fr.pub.cursor;
    return 0;
}

// ---- whole expressions -----------------------------------------------------------------

int32_t evaluate(int32_t handle, const char* expression, Value& result, std::source_location where) {
    if (!expression) return fail(DB_ERR_NULL, where);
    // A registered function must not start an evaluation of its own: the frame is shared.
    if (DBeval_fr.active) return fail(DB_ERR_KEY_EXPR, where);
    if (!table::_DBLockDataStruc(handle)) return fail(DB_ERR_HANDLE, where);
    DBeval_dbf = handle;
    EvaluationScope scope(expression);
    Value value;
    if (int32_t code = run_expression(value); code < 0) return fail(code, where);
    result = std::move(value);
    DBerrno = 0;
    return 0;
}

int32_t stored_date(const Value& value, std::span<char, kStoredDateLength + 1> out) {
    if (value.type != 'D' || !value.buffer) return fail(DB_ERR_KEY_EXPR);
    if (value.date.known()) {
        std::memcpy(out.data(), value.date.ymd, out.size());
        return 0;
    }
    dates::Ymd ymd;
    const int32_t parsed = dates::parse_date(value.text(), DBdate_style, ymd);
    if (parsed < 0) return fail(parsed);
    if (parsed == DB_WARN_EMPTY) {
        std::memset(out.data(), ' ', kStoredDateLength);
        out[kStoredDateLength] = '\0';
        DBerrno = 0;
        return 0;
    }
    char text[DB_DATE_TEXT_LEN];
    if (int32_t code = dates::format_date(text, DB_DATE_YYYYMMDD, ymd); code < 0) return fail(code);
    std::memcpy(out.data(), text, out.size());
    return 0;
}

int32_t _DBEvaluateStr(int32_t handle, const char* expression) {
    // The previous result belongs to whoever took it; it is forgotten, not released.
    DBeval_pr = DBEvalResult{nullptr, ' ', 0};
    DBeval_pr_date = StoredDate{};
    Value value;
    if (int32_t code = evaluate(handle, expression, value); code < 0) return fail(code);
    DBeval_pr.type = value.type;
    DBeval_pr.length = value.length;
    DBeval_pr_date = value.date;
    DBeval_pr.value = value.buffer.release();
    return DBerrno;
}

}  // namespace xbdb::expr

extern "C" int32_t DBEvaluateStr(int32_t handle, const char* expression, DBEvalResult* result) {
    if (!expression || !result) return xbdb::fail(DB_ERR_NULL);
    const int32_t code = xbdb::expr::_DBEvaluateStr(handle, expression);
    *result = xbdb::expr::DBeval_pr;
    return code < 0 ? xbdb::fail(code) : code;
}
