// Field names and descriptions: name to field number and back, the field-number
// check of the by-number field calls, and the field specifications handed to the
// host (name, type, width, decimals).

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/failure.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr std::size_t kLongestName = 10;

// The stored name, never longer than the in-memory name array.
std::string_view stored_name(const Field& f) { return {f.name, strnlen(f.name, sizeof f.name)}; }

bool field_in_range(const TablePacket& t, int16_t field) { return field >= 0 && field < t.field_count; }

// Copies the name and its NUL into a zeroed name array of a field specification.
void copy_name(char (&to)[DB_FIELDSPEC_NAME_LEN], std::string_view name) {
    std::memset(to, 0, sizeof to);
    std::memcpy(to, name.data(), std::min(name.size(), sizeof to - 1));
}

void describe(const Field& f, DBFieldSpec& spec) {
    copy_name(spec.name, stored_name(f));
    spec.type = static_cast<signed char>(f.type);  // widened with its sign
    spec.length = static_cast<int32_t>(f.length);
    spec.decimals = f.decimals;  // for C fields above 255: the high byte of the length
}

int32_t find_field(const TablePacket& t, const char* name, int16_t& field) {
    for (int16_t i = 0; i < t.field_count; ++i) {
        char stored[sizeof(Field::name) + 1] = {};
        const std::string_view n = stored_name(t.field(i));
        std::memcpy(stored, n.data(), n.size());
        if (_DBstricmp(name, stored) == 0) {
            field = i;
            return 0;
        }
    }
    field = t.field_count;
    return fail(DB_ERR_FIELD_NAME);
}

}  // namespace

int32_t _DBVerifyField(int32_t handle, int16_t field) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!field_in_range(*t, field)) return fail(DB_ERR_FIELD_COUNT);
    return 0;
}

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

// The whole of both names is compared without regard to case: "PRICE " is not PRICE.
int32_t DBGetFieldNumber(int32_t handle, int16_t* field, const char* name) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!field || !name) return fail(DB_ERR_NULL);
    if (int32_t r = find_field(*t, name, *field); r < 0) return fail(r);
    return 0;
}

// A foreign descriptor may fill all 11 name bytes; such a name does not fit the
// caller's 11 bytes with its NUL and is refused like its description.
int32_t DBGetFieldName(int32_t handle, char* name, int16_t field) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!name) return fail(DB_ERR_NULL);
    if (!field_in_range(*t, field)) return fail(DB_ERR_FIELD_COUNT);
    const std::string_view stored = stored_name(t->field(field));
    if (stored.size() > kLongestName) return fail(DB_ERR_FIELD_LENGTH);
    std::memcpy(name, stored.data(), stored.size());
    name[stored.size()] = '\0';
    return 0;
}

int32_t DBGetFieldDescription(int32_t handle, int16_t field, DBFieldSpec* spec) {
    if (int32_t r = _DBVerifyField(handle, field); r < 0) return fail(r);
    if (!spec) return fail(DB_ERR_NULL);
    const Field& f = DBxbd->field(field);
    if (stored_name(f).size() > kLongestName) return fail(DB_ERR_FIELD_LENGTH);
    describe(f, *spec);
    return 0;
}

// longest receives the greatest field width, not the number of fields.
int32_t DBGetFileDescription(int32_t handle, int32_t* longest, DBFieldSpec* fields) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!longest || !fields) return fail(DB_ERR_NULL);
    uint32_t widest = 0;
    for (int16_t i = 0; i < t->field_count; ++i) {
        describe(t->field(i), fields[i]);
        widest = std::max(widest, t->field(i).length);
    }
    *longest = static_cast<int32_t>(widest);
    return 0;
}

}  // extern "C"
