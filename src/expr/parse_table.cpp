// The parse table of host-registered functions, and the reading of one term.
//
// The table is an array of entries sorted by name (compared as unsigned bytes). A
// name is compared with the text at the cursor over the name's own length, so an
// entry matches every text that starts with it, case-sensitively; registered names
// are tried before the built-in functions, so a host may replace one (an entry named
// "LEFT(" replaces the built-in LEFT). Room for 20 entries is taken with the first
// one and grows by 10; the array is released with its last entry, and at shut-down.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/failure.hpp"
#include "core/state.hpp"
#include "expr/frame.hpp"

namespace xbdb::expr {

struct parse_entry {
    char* name;  // copy of the name's characters, no NUL
    DBParseFunction function;
    int32_t name_length;
};

parse_entry* DBeval_tbl = nullptr;
int16_t DBeval_cnt = 0;
int16_t DBeval_size = 0;

namespace {

constexpr int16_t kFirstCapacity = 20;
constexpr int16_t kCapacityStep = 10;

std::span<parse_entry> entries() {
    return {DBeval_tbl, static_cast<std::size_t>(DBeval_cnt)};
}

// <0, 0, >0 as text is below, equal to or above the entry over the entry's length.
// Stops at the text's NUL, which no name holds.
int compare(const char* text, const parse_entry& entry) {
    for (int32_t i = 0; i < entry.name_length; ++i) {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(entry.name[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    return 0;
}

void release_parse_table() {
    for (parse_entry& e : entries()) release(e.name);
    release(DBeval_tbl);
    DBeval_tbl = nullptr;
    DBeval_cnt = 0;
    DBeval_size = 0;
}

int32_t make_room() {
    if (!DBeval_tbl) {
        DBeval_tbl = static_cast<parse_entry*>(allocate(sizeof(parse_entry) * kFirstCapacity));
        if (!DBeval_tbl) return fail(DB_ERR_MEMORY);
        DBeval_size = kFirstCapacity;
        register_shutdown(&release_parse_table);
        return 0;
    }
    if (DBeval_cnt < DBeval_size) return 0;
    if (DBeval_size > INT16_MAX - kCapacityStep) return fail(DB_ERR_MEMORY);
    const int16_t capacity = static_cast<int16_t>(DBeval_size + kCapacityStep);
    void* grown = DBeval_tbl;
    if (!reallocate(&grown, sizeof(parse_entry) * static_cast<std::size_t>(capacity)))
        return fail(DB_ERR_MEMORY);
    DBeval_tbl = static_cast<parse_entry*>(grown);
    DBeval_size = capacity;
    return 0;
}

int32_t insert_entry(int32_t at, const char* name, std::size_t length, DBParseFunction function) {
    char* copy = static_cast<char*>(allocate(length));
    if (!copy) return fail(DB_ERR_MEMORY);
    std::memcpy(copy, name, length);
    parse_entry* slot = DBeval_tbl + at;
    std::memmove(slot + 1, slot, sizeof(parse_entry) * static_cast<std::size_t>(DBeval_cnt - at));
    *slot = parse_entry{copy, function, static_cast<int32_t>(length)};
    ++DBeval_cnt;
    return 0;
}

// The registered function whose name starts the text at the cursor, called with the
// frame once the cursor is past the name; empty when none matches.
std::optional<int32_t> run_registered() {
    int32_t index = 0;
    if (DBeval_cnt == 0 || !_DBFindParseEntry(DBeval_fr.pub.cursor, &index)) return std::nullopt;
    const parse_entry& entry = DBeval_tbl[index];
    DBeval_fr.pub.cursor += entry.name_length;
    DBeval_fr.pub.value = nullptr;
    const int32_t status = entry.function(&DBeval_fr.pub);
    DBerrno = status;
    return status;
}

// What a registered function left in the frame must be usable: a cursor still inside
// the text, a value, a text no longer than a value may be. A D value keeps the
// stored date read for it only when its text is still the one read.
int32_t check_registered_result() {
    Frame& f = DBeval_fr;
    if (f.pub.cursor < f.begin || f.pub.cursor > f.end) {
        f.pub.cursor = const_cast<char*>(f.end);
        return fail(DB_ERR_KEY_EXPR);
    }
    if (!f.pub.value) return fail(DB_ERR_KEY_EXPR);
    if ((f.pub.type == 'C' || f.pub.type == 'D') && std::strlen(f.pub.value) > kMaxValueLength)
        return fail(DB_ERR_KEY_EXPR);
    if (f.pub.type == 'D' && std::strcmp(f.pub.value, f.date.shown) != 0) f.date = StoredDate{};
    return 0;
}

// Counts the nesting of terms for as long as one is being read.
class Nesting {
public:
    Nesting() { ++DBeval_fr.depth; }
    ~Nesting() { --DBeval_fr.depth; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
    bool too_deep() const { return DBeval_fr.depth > kMaxDepth; }
};

bool evaluating() {
    const Frame& f = DBeval_fr;
    return f.active && f.pub.cursor && f.pub.cursor >= f.begin && f.pub.cursor <= f.end;
}

}  // namespace

int32_t _DBFindParseEntry(const char* text, int32_t* index) {
    int32_t low = 0;
    int32_t high = DBeval_cnt - 1;
    while (low <= high) {
        const int32_t probe = low + (high - low) / 2;
        const int order = compare(text, DBeval_tbl[probe]);
        if (order == 0) {
            *index = probe;
            return 1;
        }
        if (order < 0) high = probe - 1;
        else low = probe + 1;
    }
    *index = low;
    return 0;
}

int32_t process_term() {
    if (!evaluating()) return fail(DB_ERR_KEY_EXPR);
    Nesting nesting;
    if (nesting.too_deep()) return fail(DB_ERR_KEY_EXPR);
    DBeval_fr.date = StoredDate{};
    if (std::optional<int32_t> status = run_registered()) {
        if (*status < 0) return fail(*status);
        if (int32_t code = check_registered_result(); code < 0) return fail(code);
        return *status;
    }
    if (std::optional<int32_t> status = run_builtin()) return *status < 0 ? fail(*status) : *status;
    const int32_t status = _DBProcessField();
    return status < 0 ? fail(status) : status;
}

int32_t get_value(int16_t& number) {
    if (!evaluating()) return fail(DB_ERR_KEY_EXPR);
    if (int32_t code = step_over(); code < 0) return fail(code);
    char*& cursor = DBeval_fr.pub.cursor;
    const std::size_t length = std::strcspn(cursor, ",)");
    if (cursor[length] == '\0' || length == 0) return fail(DB_ERR_KEY_EXPR);
    // Only the low 16 bits of the number are kept.
    number = static_cast<int16_t>(std::strtol(cursor, nullptr, 10));
    cursor += length;
    DBerrno = 0;
    return 0;
}

}  // namespace xbdb::expr

using namespace xbdb;
using namespace xbdb::expr;

extern "C" {

int32_t DBProcessTable(void) {
    const int32_t status = process_term();
    if (status < 0) return fail(status);
    DBerrno = status;
    return status;
}

int32_t DBGetValue(int16_t* number) {
    if (!number) return fail(DB_ERR_NULL);
    int16_t value = 0;
    if (int32_t code = get_value(value); code < 0) return fail(code);
    *number = value;
    return 0;
}

int32_t DBAddParseEntry(const char* name, DBParseFunction function) {
    if (!name || !function) return fail(DB_ERR_NULL);
    const std::size_t length = std::strlen(name);
    // An empty name would match every text and take over every term.
    if (length == 0 || length > INT32_MAX) return fail(DB_ERR_COMMAND);
    DBerrno = 0;
    int32_t at = 0;
    if (DBeval_cnt > 0 && _DBFindParseEntry(name, &at)) return fail_unlogged(DB_WARN_EXISTS);
    if (int32_t code = make_room(); code < 0) return fail(code);
    if (int32_t code = insert_entry(at, name, length, function); code < 0) return fail(code);
    DBerrno = 0;
    return 0;
}

int32_t DBDeleteParseEntry(const char* name) {
    if (!name) return fail(DB_ERR_NULL);
    int32_t at = 0;
    if (DBeval_cnt == 0 || !_DBFindParseEntry(name, &at)) return fail_unlogged(DB_WARN_KEY_NOT_FOUND);
    DBerrno = 0;
    parse_entry* slot = DBeval_tbl + at;
    release(slot->name);
    std::memmove(slot, slot + 1, sizeof(parse_entry) * static_cast<std::size_t>(DBeval_cnt - at - 1));
    --DBeval_cnt;
    if (DBeval_cnt == 0) release_parse_table();
    return 0;
}

int32_t DBGetEntryStr(char* name, int32_t index) {
    if (!name) return fail(DB_ERR_NULL);
    if (index < 0 || index >= DBeval_cnt) return fail_unlogged(DB_WARN_NO_MORE_KEYS);
    const parse_entry& entry = DBeval_tbl[index];
    std::memcpy(name, entry.name, static_cast<std::size_t>(entry.name_length));
    name[entry.name_length] = '\0';
    DBerrno = 0;
    return 0;
}

int32_t DBGetTableInfo(int32_t* count, int32_t* longest) {
    if (!count || !longest) return fail(DB_ERR_NULL);
    *count = DBeval_cnt;
    if (DBeval_cnt == 0) return fail_unlogged(DB_WARN_EMPTY);
    int32_t most = 0;
    for (const parse_entry& e : entries()) most = std::max(most, e.name_length);
    *longest = most;
    DBerrno = 0;
    return 0;
}

}  // extern "C"
