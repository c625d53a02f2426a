// What the host can ask about an open table: its open state, record layout and
// the date of its last update.
#include <cstring>

#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr uint32_t kInfoReadOnly = 0x01;
constexpr uint32_t kInfoShared = 0x02;
constexpr uint32_t kInfoUnbuffered = 0x04;

// This library writes the year byte as year - 2000. Bytes 120..127 only come
// from programs that write year - 1900 (2020..2027); every other byte is read
// as 2000 plus the byte taken as a signed number.
int32_t update_year(uint8_t byte) {
    if (byte >= 120 && byte <= 127) return 1900 + byte;
    return 2000 + static_cast<int8_t>(byte);
}

}  // namespace

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBGetFileInfo(int32_t handle, DBFileInfo* info) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!info) return fail(DB_ERR_NULL);
    info->flags = (t->read_only() ? kInfoReadOnly : 0) | (t->shared() ? kInfoShared : 0) |
                  (t->unbuffered() ? kInfoUnbuffered : 0);
    std::memcpy(info->name, t->name, sizeof info->name);
    info->name[sizeof info->name - 1] = '\0';
    info->dialect = t->dialect_number();
    info->memo = (t->dialect & kDialectMemoBit) ? 1 : 0;
    info->production = t->header[kProductionAt];
    info->byte14 = t->header[14];
    info->byte15 = t->header[15];
    info->lock_state = t->lock_state;
    info->lock_count = t->lock_count;
    return DBerrno;
}

int32_t DBGetRecordInfo(int32_t handle, DBRecordInfo* info) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!info) return fail(DB_ERR_NULL);
    info->record_length = static_cast<int32_t>(t->record_length());
    info->field_count = t->field_count;
    info->buffer = t->record;
    return DBerrno;
}

int32_t DBGetLastUpdate(int32_t handle, char* text, int32_t style) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!text) return fail(DB_ERR_NULL);
    const uint8_t* date = t->header + kDateAt;
    if (int32_t code = DBDate3ToStr(text, style, update_year(date[0]), date[1], date[2]); code < 0)
        return fail(code);
    return DBerrno = 0;
}

}  // extern "C"
