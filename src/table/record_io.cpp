// Record I/O: reading a record into the record buffer, appending or rewriting it,
// marking records deleted or active, and the position queries.
//
// Three ways a record reaches the file:
//   - unbuffered tables write every record at once (with the end mark and the
//     header's date and count after an append);
//   - shared tables do the same, while the lock that guards the write is held, so
//     another process that takes the lock next sees the change; their cache only
//     serves reads;
//   - other tables collect appends and changes in the cache, written by the next
//     flush as one block.
#include <cstring>

#include "os/file_io.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr uint8_t kHeaderLocked = 0x02;  // lock state bit: header lock held
constexpr uint8_t kFileLocked = 4;       // lock state value: whole file locked
constexpr char kActive = ' ';
constexpr char kDeleted = '*';
constexpr int32_t kHeaderLock = 0;       // "record" number naming the header lock

bool write_through(const TablePacket& t) { return t.family_word != 0; }
bool writes_at_once(const TablePacket& t) { return t.unbuffered() || t.shared(); }

bool holds_header_or_file(const TablePacket& t) {
    return (t.lock_state & kHeaderLocked) || t.lock_state == kFileLocked;
}

bool holds_record_or_file(const TablePacket& t, int32_t number) {
    return t.lock_state == kFileLocked || _DBIsRecordLocked(t, number);
}

std::span<char> record_bytes(char* record, const TablePacket& t) {
    return {record, t.record_length()};
}

bool in_range(const TablePacket& t, int32_t number) {
    return number >= 1 && static_cast<int64_t>(number) <= static_cast<int64_t>(t.record_count());
}

// On a shared table the count may have grown in another process.
int32_t refresh_count(TablePacket& t) {
    if (!(t.flags & kFlagCountStale)) return 0;
    if (int32_t code = _DBGetFileHeader(t); code < 0) return fail(code);
    return 0;
}

// The lock a write on a shared table needs (the header lock for an append, the
// record's lock for a rewrite). When the caller holds none, automatic locking
// takes it for the write (took is set), otherwise the write is refused.
int32_t acquire(TablePacket& t, int32_t record, bool* took) {
    *took = false;
    if (!t.shared()) return 0;
    const bool held = record == kHeaderLock ? holds_header_or_file(t) : holds_record_or_file(t, record);
    if (held) return 0;
    if (!t.auto_lock()) return fail(DB_ERR_NOT_LOCKED);
    const int32_t code = record == kHeaderLock ? take_header_lock(t) : _DBLockRecord(t, record);
    if (code < 0) return fail(code);
    *took = true;
    return 0;
}

// Releases a lock that acquire took; the write's own failure comes first.
int32_t release(TablePacket& t, int32_t record, bool took, int32_t code) {
    if (!took) return code;
    // The host layer answers a successful unlock with whatever DBerrno holds.
    DBerrno = 0;
    const int32_t released = record == kHeaderLock ? _DBUnLockHeader(t) : _DBUnLockRecord(t, record);
    return code < 0 ? code : released;
}

// Writes the date bytes, under the header lock when the table is shared and this
// process holds no lock at all.
int32_t write_update_date(TablePacket& t) {
    if (int32_t code = stamp_today(t); code < 0) return fail(code);
    bool took = false;
    if (t.shared() && t.lock_state == 0) {
        if (int32_t code = take_header_lock(t); code < 0) return fail(code);
        took = true;
    }
    const int32_t code = release(t, kHeaderLock, took, write_header_stamp(t, 3));
    return code < 0 ? fail(code) : 0;
}

int32_t write_record(TablePacket& t, int32_t number) {
    if (int32_t code = os::write_at(t.fd, t.record_offset(number), record_bytes(t.record, t),
                                    write_through(t));
        code < 0)
        return fail(code);
    refresh_cached_record(t, number, t.record);
    return 0;
}

// Record, end mark, date and count, all written now.
int32_t append_at_once(TablePacket& t, int32_t number) {
    if (int32_t code = write_record(t, number); code < 0) return fail(code);
    if (int32_t code = write_end_mark(t); code < 0) return fail(code);
    if (int32_t code = stamp_today(t); code < 0) return fail(code);
    if (int32_t code = write_header_stamp(t, 7); code < 0) return fail(code);
    return 0;
}

// Adds the record to the cached block when it extends it; otherwise the block
// is written back first and the record starts a new one.
int32_t append_to_cache(TablePacket& t, int32_t number) {
    const bool extends = t.cache_count > 0 && t.cache_count < t.cache_capacity &&
                         number == static_cast<int64_t>(t.cache_first) + t.cache_count;
    if (!extends) {
        if (t.cache_dirty)
            if (int32_t code = _DBFlushFile(t); code < 0) return fail(code);
        t.cache_count = 0;
        t.cache_first = number;
    }
    std::memcpy(t.cache_slot(t.cache_count), t.record, t.record_length());
    ++t.cache_count;
    t.cache_dirty = true;
    t.pending |= kPendingAppend;
    return 0;
}

int32_t append_locked(TablePacket& t, int32_t* number) {
    bool took = false;
    if (int32_t code = acquire(t, kHeaderLock, &took); code < 0) return fail(code);
    int32_t code = _DBAppendRecord(t, number);
    code = release(t, kHeaderLock, took, code);
    return code < 0 ? fail(code) : 0;
}

int32_t update_locked(TablePacket& t, int32_t number) {
    if (int32_t code = refresh_count(t); code < 0) return fail(code);
    if (!in_range(t, number)) return fail(DB_ERR_SEEK);
    bool took = false;
    if (int32_t code = acquire(t, number, &took); code < 0) return fail(code);
    t.current = number;
    int32_t code = _DBUpdateRecord(t);
    code = release(t, number, took, code);
    return code < 0 ? fail(code) : 0;
}

// Reads the record and, unless its deletion byte already is mark, rewrites it
// with mark. An already marked record is not written again.
int32_t mark_locked(TablePacket& t, int32_t number, char mark) {
    bool took = false;
    if (int32_t code = acquire(t, number, &took); code < 0) return fail(code);
    int32_t code = _DBGetRecord(t, t.record, number);
    if (code >= 0 && t.record[0] != mark) {
        t.record[0] = mark;
        code = _DBUpdateRecord(t);
    }
    code = release(t, number, took, code);
    return code < 0 ? fail(code) : 0;
}

int32_t _del_undel(int32_t handle, int32_t number, char mark) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (t->read_only()) return fail(DB_ERR_READ_ONLY);
    if (int32_t code = refresh_count(*t); code < 0) return fail(code);
    if (!in_range(*t, number)) return fail(DB_ERR_SEEK);
    if (int32_t code = mark_locked(*t, number, mark); code < 0) return fail(code);
    DBerrno = 0;
    return 0;
}

// Converts every field of the record buffer into the host record structure:
// the deletion byte, then one item per field of host_item_size bytes.
int32_t record_to_host(TablePacket& t, char* host) {
    host[0] = t.record[0];
    int64_t at = 1;
    for (int16_t i = 0; i < t.field_count; ++i) {
        if (int32_t code = get_host_item(t, host + at, i); code < 0) return fail(code);
        at += host_item_size(t.field(i));
    }
    return 0;
}

int32_t host_to_record(TablePacket& t, const char* host) {
    t.record[0] = host[0];
    int64_t at = 1;
    for (int16_t i = 0; i < t.field_count; ++i) {
        if (int32_t code = put_host_item(t, host + at, i); code < 0) return fail(code);
        at += host_item_size(t.field(i));
    }
    return 0;
}

}  // namespace

int32_t _DBGetRecord(TablePacket& t, char* destination, int32_t number) {
    // A record this process holds locked in a shared table is read from the file:
    // a cached copy may predate another process's last change.
    if (t.unbuffered() || (t.shared() && holds_record_or_file(t, number))) {
        if (int32_t code = os::read_at(t.fd, t.record_offset(number), record_bytes(destination, t));
            code < 0)
            return fail(code);
        refresh_cached_record(t, number, destination);
    } else {
        if (int32_t code = _DBFillCache(t, number); code < 0) return fail(code);
        std::memcpy(destination, t.cache_slot(number - t.cache_first), t.record_length());
    }
    t.current = number;
    if (destination[0] != kActive) return DBerrno = DB_WARN_DELETED;
    return 0;
}

int32_t _DBAppendRecord(TablePacket& t, int32_t* number) {
    const uint32_t old_count = t.record_count();
    if (old_count >= INT32_MAX) return fail(DB_ERR_SEEK);
    const auto appended = static_cast<int32_t>(old_count + 1);
    t.record[0] = kActive;  // an appended record is always active
    if (writes_at_once(t)) {
        t.set_record_count(old_count + 1);
        if (int32_t code = append_at_once(t, appended); code < 0) {
            // The file's header still holds the old count; so does memory again.
            t.set_record_count(old_count);
            return fail(code);
        }
    } else {
        // The cached block may be written back first, still with the old count.
        if (int32_t code = append_to_cache(t, appended); code < 0) return fail(code);
        t.set_record_count(old_count + 1);
    }
    t.current = appended;
    *number = appended;
    return 0;
}

int32_t _DBUpdateRecord(TablePacket& t) {
    if (writes_at_once(t)) {
        if (int32_t code = write_record(t, t.current); code < 0) return fail(code);
        if (int32_t code = write_update_date(t); code < 0) return fail(code);
        return 0;
    }
    if (int32_t code = _DBFillCache(t, t.current); code < 0) return fail(code);
    std::memcpy(t.cache_slot(t.current - t.cache_first), t.record, t.record_length());
    t.cache_dirty = true;
    t.pending |= kPendingChange;
    return 0;
}

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBSetBufferAddress(int32_t handle, char* buffer) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!buffer) return fail(DB_ERR_NULL);
    t->record = buffer;
    return DBerrno;
}

int32_t DBClearBuffer(int32_t handle) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    std::memset(t->record, kActive, t->record_length());
    return DBerrno;
}

int32_t DBGetRecordNumber(int32_t handle, int32_t* number) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!number) return fail(DB_ERR_NULL);
    *number = t->current;
    return DBerrno = 0;
}

int32_t DBGetRecordCount(int32_t handle, int32_t* count) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!count) return fail(DB_ERR_NULL);
    if (int32_t code = refresh_count(*t); code < 0) return fail(code);
    *count = static_cast<int32_t>(t->record_count());
    return DBerrno;
}

int32_t DBIsBeginningOfFile(int32_t handle) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    return t->current < 2 ? 1 : 0;
}

int32_t DBIsEndOfFile(int32_t handle) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (int32_t code = refresh_count(*t); code < 0) return fail(code);
    return static_cast<int64_t>(t->current) == static_cast<int64_t>(t->record_count()) ? 1 : 0;
}

int32_t DBIsRecordDeleted(int32_t handle) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (t->record[0] == kDeleted) DBerrno = DB_WARN_DELETED;
    return DBerrno;
}

int32_t DBGetRecordToBuffer(int32_t handle, void* host_buffer, int32_t number) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (t->shared())
        if (int32_t code = _DBGetFileHeader(*t); code < 0) return fail(code);
    if (!in_range(*t, number)) return fail(DB_ERR_SEEK);
    const int32_t result = _DBGetRecord(*t, t->record, number);
    if (result < 0) return fail(result);
    if (host_buffer)
        if (int32_t code = record_to_host(*t, static_cast<char*>(host_buffer)); code < 0)
            return fail(code);
    return DBerrno = result;
}

int32_t DBGetRecord(int32_t handle, int32_t number) {
    if (int32_t code = DBGetRecordToBuffer(handle, nullptr, number); code < 0) return fail(code);
    return DBerrno;
}

int32_t DBPutRecordFromBuffer(int32_t handle, void* host_buffer, int32_t* number,
                              int32_t command) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!number) return fail(DB_ERR_NULL);
    if (t->read_only()) return fail(DB_ERR_READ_ONLY);
    if (command != DB_PUT_APPEND && command != DB_PUT_UPDATE) return fail(DB_ERR_COMMAND);
    if (host_buffer)
        if (int32_t code = host_to_record(*t, static_cast<const char*>(host_buffer)); code < 0)
            return fail(code);
    const int32_t code = command == DB_PUT_APPEND ? append_locked(*t, number)
                                                  : update_locked(*t, *number);
    if (code < 0) return fail(code);
    return DBerrno = 0;
}

int32_t DBPutRecord(int32_t handle, int32_t* number, int32_t command) {
    if (int32_t code = DBPutRecordFromBuffer(handle, nullptr, number, command); code < 0)
        return fail(code);
    return DBerrno;
}

int32_t DBMarkRecordInActive(int32_t handle, int32_t number) {
    return _del_undel(handle, number, kDeleted);
}

int32_t DBMarkRecordActive(int32_t handle, int32_t number) {
    return _del_undel(handle, number, kActive);
}

}  // extern "C"
