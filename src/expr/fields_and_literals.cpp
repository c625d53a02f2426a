// Field names and literals in key expressions.
//
// A name runs from the cursor to the next ',', ')', '+' or '-' (or the end of the
// text) and has 1 to 10 characters; blanks belong to it. A name of a field of the
// table gives that field's value in the current record; any other name is a
// literal: a number when it has only digits and full stops, else its own text.
#include <cstdlib>
#include <cstring>

#include "core/failure.hpp"
#include "date/dates.hpp"
#include "expr/frame.hpp"
#include "table/table.hpp"

namespace xbdb::expr {
namespace {

// How a field's value is held: its buffer size (0: the field width + 1) and its
// length (0: the text length). The typed field read writes at most this much.
struct FieldForm {
    char type;
    uint8_t size;
    uint8_t length;
};

constexpr FieldForm kFieldForms[] = {
    {'C', 0, 0},    // text of the field width
    {'D', DB_DATE_TEXT_LEN, 0},  // date text in the default style
    {'N', 8, 8},    // double
    {'F', 8, 8},    // double
    {'B', 8, 8},    // double
    {'L', 1, 1},    // 1, 0 or '?'
    {'M', 4, 4},    // memo block number
    {'I', 4, 4},    // 32-bit integer
    {'T', 8, 8},    // two 32-bit words
    {'Y', 8, 8},    // two 32-bit words
    {1, 2, 2}, {2, 2, 2}, {3, 4, 4}, {4, 4, 4}, {11, 4, 4}, {13, 8, 8},  // raw binary
};
// Any other type: the read converts nothing; the buffer stays zero.
constexpr FieldForm kOtherForm{'?', DB_DATE_TEXT_LEN, 0};

const FieldForm& form_of(char type) {
    for (const FieldForm& form : kFieldForms)
        if (form.type == type) return form;
    return kOtherForm;
}

bool is_numeric_literal(std::string_view name) {
    return name.find_first_not_of("0123456789.") == std::string_view::npos;
}

int32_t literal(const char* name) {
    if (!is_numeric_literal(name)) return put_text(name);
    Value value;
    value.buffer = allocate_block(sizeof(double));
    if (!value.buffer) return fail(DB_ERR_MEMORY);
    const double number = std::strtod(name, nullptr);
    std::memcpy(value.buffer.get(), &number, sizeof number);
    value.type = 'N';
    value.length = sizeof(double);
    return put_term(std::move(value));
}

// The stored yyyymmdd of a date field, written back in its canonical form: the
// field's first 8 bytes as the date read takes them, 8 blanks for an empty date.
StoredDate stored_date_of(const table::Field& field, const char* record, const char* shown) {
    char raw[kStoredDateLength];
    std::memset(raw, ' ', sizeof raw);
    std::memcpy(raw, record + field.offset, std::min<std::size_t>(field.length, sizeof raw));
    dates::Ymd ymd;
    const int32_t parsed = dates::parse_date(std::string_view(raw, sizeof raw), DB_DATE_YYYYMMDD, ymd);
    char canonical[DB_DATE_TEXT_LEN];
    if (parsed == DB_WARN_EMPTY)
        std::memset(canonical, ' ', kStoredDateLength);
    else if (parsed < 0 || dates::format_date(canonical, DB_DATE_YYYYMMDD, ymd) < 0)
        return StoredDate{};
    StoredDate date;
    std::memcpy(date.ymd, canonical, kStoredDateLength);
    std::string_view(shown).copy(date.shown, sizeof date.shown - 1);
    return date;
}

int32_t field_value(int16_t number) {
    table::TablePacket* t = table::_DBLockDataStruc(DBeval_dbf);
    if (!t) return fail(DB_ERR_HANDLE);
    const table::Field& field = t->field(number);
    const FieldForm& form = form_of(field.type);
    const std::size_t size = form.size ? form.size : field.length + std::size_t{1};
    Value value;
    value.buffer = allocate_block(size);
    if (!value.buffer) return fail(DB_ERR_MEMORY);
    // A blank field is no error here: its value is the empty form of its type.
    if (int32_t code = DBGetFieldData(DBeval_dbf, number, value.buffer.get()); code < 0)
        return fail(code);
    value.type = static_cast<uint8_t>(field.type);
    value.length = form.length;
    if (field.type == 'C' || field.type == 'D')
        value.length = static_cast<int16_t>(std::min(std::strlen(value.buffer.get()), kMaxValueLength));
    if (field.type == 'D') value.date = stored_date_of(field, t->record, value.buffer.get());
    DBerrno = 0;
    return put_term(std::move(value));
}

}  // namespace

int32_t _DBProcessField() {
    char*& cursor = DBeval_fr.pub.cursor;
    const std::size_t length = std::strcspn(cursor, ",)+-");
    if (length == 0 || length > kMaxNameLength) return fail(DB_ERR_KEY_EXPR);
    char name[kMaxNameLength + 1] = {};
    std::memcpy(name, cursor, length);
    cursor += length;
    int16_t number = 0;
    // The lookup logs the miss; for an expression it only means a literal.
    const int32_t found = DBGetFieldNumber(DBeval_dbf, &number, name);
    if (found == DB_ERR_FIELD_NAME) {
        DBerrno = 0;
        return literal(name);
    }
    if (found < 0) return fail(found);
    return field_value(number);
}

}  // namespace xbdb::expr
