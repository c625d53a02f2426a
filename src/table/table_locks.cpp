// Record, header and whole-file locks of a table.
//
// The ranges come from the table's lock scheme (lock_scheme.cpp); the host lock,
// its retry and the process lock table are the file layer's. Per table this code
// keeps:
//
//   lock state   bit 0: at least one record lock; bit 1: the header lock;
//                the value 4: the whole file is locked (and nothing else)
//   lock count   exclusive locks held: records, header and file together
//   stale flag   set when a header or file lock ends: another process may append
//                from then on, so the record count is re-read before its next use
//
// Exclusive locks are entered in the process lock table, which is how a table
// knows which records it holds. Read (shared) locks are not counted, not entered
// and not released by the unlock calls: they end when the table is closed, or when
// an exclusive lock and release cover the same range.
//
// The unlock calls act on shared tables only, while the header and file locks are
// taken on any table (a program may lock an unshared table against others).
#include "core/failure.hpp"
#include "table/table.hpp"
#include "os/file_io.hpp"

namespace xbdb::table {
namespace {

constexpr uint8_t kStateRecord = DB_LOCKSTATE_RECORD;
constexpr uint8_t kStateHeader = DB_LOCKSTATE_HEADER;
constexpr uint8_t kStateFile = DB_LOCKSTATE_FILE;

bool holds(const TablePacket& t, LockRange range) {
    return DBosTestLock(t.fd, range.offset, range.length) == 1;
}

int32_t host_lock(const TablePacket& t, int32_t mode, LockRange range,
                  std::source_location where = std::source_location::current()) {
    const int32_t code = os::lock_data(t.fd, mode, range.offset, range.length);
    return code < 0 ? fail(code, where) : 0;
}

// Re-reads the record count after a header or file lock was taken. A failure
// leaves the count marked stale, so that it is read again before its next use.
int32_t reread_count(TablePacket& t) {
    if (const int32_t code = _DBGetFileHeader(t); code < 0) {
        t.flags |= kFlagCountStale;
        return fail(code);
    }
    t.flags &= static_cast<uint8_t>(~kFlagCountStale);
    return 0;
}

bool holds_any(const TablePacket& t) { return t.lock_state != 0 || t.lock_count != 0; }

int32_t release_all_if_held(TablePacket& t) {
    if (!holds_any(t)) return 0;
    if (const int32_t code = _DBUnLockAll(t); code < 0) return fail(code);
    return 0;
}

// Without several record locks a new record lock first drops every other lock.
// When the one lock held is already this record's, it is kept: releasing it and
// taking it again would open a window in which another process could take it.
int32_t drop_other_locks(TablePacket& t, int32_t number) {
    if ((t.flags & kFlagMultiLock) || t.lock_state == 0) return 0;
    if (t.lock_state == kStateRecord && t.lock_count == 1 &&
        holds(t, _lock_adrs(t, LockKind::record, number)))
        return 0;
    if (const int32_t code = _DBUnLockAll(t); code < 0) return fail(code);
    return 0;
}

}  // namespace

int32_t _DBLockRecord(TablePacket& t, int32_t number) {
    if (t.lock_state == kStateFile) return 0;
    const LockRange range = _lock_adrs(t, LockKind::record, number);
    if (holds(t, range)) return 0;
    if (const int32_t code = host_lock(t, DB_LOCK_EXCLUSIVE, range); code < 0)
        return fail(code);
    t.lock_state |= kStateRecord;
    ++t.lock_count;
    return 0;
}

int32_t _DBUnLockRecord(TablePacket& t, int32_t number) {
    const LockRange range = _lock_adrs(t, LockKind::record, number);
    if (!(t.lock_state & kStateRecord) || !holds(t, range)) return 0;
    if (const int32_t code = host_lock(t, DB_LOCK_RELEASE, range); code < 0)
        return fail(code);
    t.lock_state &= static_cast<uint8_t>(~kStateRecord);
    --t.lock_count;
    // Other record locks remain when more locks are held than the header lock alone.
    const bool header = t.lock_state & kStateHeader;
    if (t.lock_count > 1 || (t.lock_count == 1 && !header)) t.lock_state |= kStateRecord;
    return 0;
}

int32_t _DBLockHeader(TablePacket& t) {
    if (t.lock_state == kStateFile || (t.lock_state & kStateHeader)) return 0;
    if (const int32_t code = host_lock(t, DB_LOCK_EXCLUSIVE, _lock_adrs(t, LockKind::header));
        code < 0)
        return fail(code);
    t.lock_state |= kStateHeader;
    ++t.lock_count;
    // The lock stays taken when the count cannot be re-read; the caller learns of
    // the failure and releases it.
    if (const int32_t code = reread_count(t); code < 0) return fail(code);
    return 0;
}

int32_t _DBUnLockHeader(TablePacket& t) {
    if (!(t.lock_state & kStateHeader)) return 0;
    if (const int32_t code = host_lock(t, DB_LOCK_RELEASE, _lock_adrs(t, LockKind::header));
        code < 0)
        return fail(code);
    t.lock_state &= static_cast<uint8_t>(~kStateHeader);
    t.flags |= kFlagCountStale;
    --t.lock_count;
    return 0;
}

int32_t _DBLockFile(TablePacket& t) {
    if (t.lock_state == kStateFile) return 0;
    if (const int32_t code = release_all_if_held(t); code < 0) return fail(code);
    if (const int32_t code = host_lock(t, DB_LOCK_EXCLUSIVE, _lock_adrs(t, LockKind::file));
        code < 0)
        return fail(code);
    t.lock_state = kStateFile;
    ++t.lock_count;
    if (const int32_t code = reread_count(t); code < 0) return fail(code);
    return 0;
}

// Releases every lock-table entry of this table's descriptor, in table order. A
// release removes its entry, so the walk stays at the same place after one.
int32_t _DBUnLockAll(TablePacket& t) {
    int32_t i = 0;
    while (i < DBbase.locks_used) {
        const LockEntry entry = DBbase.locks[i];
        if (entry.fd != t.fd) {
            ++i;
            continue;
        }
        const int32_t before = DBbase.locks_used;
        if (const int32_t code = host_lock(t, DB_LOCK_RELEASE, {entry.offset, entry.length});
            code < 0)
            return fail(code);
        if (DBbase.locks_used == before) ++i;
    }
    if ((t.lock_state & kStateHeader) || t.lock_state == kStateFile) t.flags |= kFlagCountStale;
    t.lock_state = 0;
    t.lock_count = 0;
    return 0;
}

int32_t _DBReadLockRecord(TablePacket& t, int32_t number) {
    if (const int32_t code =
            host_lock(t, DB_LOCK_SHARED, _lock_adrs(t, LockKind::record, number));
        code < 0)
        return fail(code);
    return 0;
}

int32_t _DBReadLockHeader(TablePacket& t) {
    if (const int32_t code = host_lock(t, DB_LOCK_SHARED, _lock_adrs(t, LockKind::header));
        code < 0)
        return fail(code);
    if (const int32_t code = reread_count(t); code < 0) return fail(code);
    return 0;
}

int32_t _DBReadLockFile(TablePacket& t) {
    if (const int32_t code = release_all_if_held(t); code < 0) return fail(code);
    if (const int32_t code = host_lock(t, DB_LOCK_SHARED, _lock_adrs(t, LockKind::file));
        code < 0)
        return fail(code);
    if (const int32_t code = reread_count(t); code < 0) return fail(code);
    // Holding only a read lock, this process may not append; others may as soon as
    // it ends, so the count is taken as stale.
    t.flags |= kFlagCountStale;
    return 0;
}

bool _DBIsRecordLocked(const TablePacket& t, int32_t number) {
    return holds(t, _lock_adrs(t, LockKind::record, number));
}

namespace {

int32_t lock_record(TablePacket& t, int32_t number) {
    if (const int32_t code = drop_other_locks(t, number); code < 0) return fail(code);
    if (const int32_t code = _DBLockRecord(t, number); code < 0) return fail(code);
    return 0;
}

int32_t read_lock_record(TablePacket& t, int32_t number) {
    if (!(t.flags & kFlagMultiLock) && t.lock_state != 0) {
        if (const int32_t code = _DBUnLockAll(t); code < 0) return fail(code);
    }
    if (const int32_t code = _DBReadLockRecord(t, number); code < 0) return fail(code);
    return 0;
}

int32_t count_entries(const TablePacket& t) {
    int32_t n = 0;
    for (int32_t i = 0; i < DBbase.locks_used; ++i) n += DBbase.locks[i].fd == t.fd;
    return n;
}

// The list holds one pair per lock-table entry of the table, counted before the
// array is sized, so list and count always agree with each other.
int32_t list_locks(const TablePacket& t, DBLockInfo** list, int32_t* count) {
    const int32_t entries = count_entries(t);
    if (entries == 0) {
        *list = nullptr;
        *count = 0;
        return 0;
    }
    auto* pairs = static_cast<DBLockInfo*>(allocate(sizeof(DBLockInfo) * entries));
    if (!pairs) return fail(DB_ERR_MEMORY);
    DBLockInfo* next = pairs;
    for (int32_t i = 0; i < DBbase.locks_used; ++i) {
        const LockEntry& e = DBbase.locks[i];
        if (e.fd == t.fd) *next++ = describe_lock(t, {e.offset, e.length});
    }
    *list = pairs;
    *count = entries;
    return 0;
}

// The exported calls differ only in the table they accept and the work they do:
// check the handle, skip an unshared table where only shared tables take part,
// pass on a failure from this location.
enum class Tables { any, shared_only };

template <class Work>
int32_t on_table(int32_t handle, Tables which, Work work,
                 std::source_location where = std::source_location::current()) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE, where);
    if (which == Tables::shared_only && !t->shared()) return DBerrno;
    if (const int32_t code = work(*t); code < 0) return fail(code, where);
    return DBerrno;
}

}  // namespace
}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBLockRecord(int32_t handle, int32_t number) {
    return on_table(handle, Tables::shared_only,
                    [number](TablePacket& t) { return lock_record(t, number); });
}

int32_t DBUnLockRecord(int32_t handle, int32_t number) {
    return on_table(handle, Tables::shared_only,
                    [number](TablePacket& t) { return _DBUnLockRecord(t, number); });
}

int32_t DBLockHeader(int32_t handle) {
    return on_table(handle, Tables::any, _DBLockHeader);
}

int32_t DBUnLockHeader(int32_t handle) {
    return on_table(handle, Tables::shared_only, _DBUnLockHeader);
}

int32_t DBLockFile(int32_t handle) {
    return on_table(handle, Tables::any, _DBLockFile);
}

int32_t DBUnLockAll(int32_t handle) {
    return on_table(handle, Tables::shared_only, _DBUnLockAll);
}

int32_t DBReadLockRecord(int32_t handle, int32_t number) {
    return on_table(handle, Tables::any,
                    [number](TablePacket& t) { return read_lock_record(t, number); });
}

int32_t DBReadLockHeader(int32_t handle) {
    return on_table(handle, Tables::any, _DBReadLockHeader);
}

int32_t DBReadLockFile(int32_t handle) {
    return on_table(handle, Tables::any, _DBReadLockFile);
}

int32_t DBIsRecordLocked(int32_t handle, int32_t number) {
    return on_table(handle, Tables::shared_only, [number](TablePacket& t) {
        DBerrno = _DBIsRecordLocked(t, number) ? 1 : 0;
        return 0;
    });
}

int32_t DBGetLockInfo(int32_t handle, DBLockInfo** list, int32_t* count) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!list || !count) return fail(DB_ERR_NULL);
    if (t->lock_count == 0) return DBerrno;
    if (const int32_t code = list_locks(*t, list, count); code < 0) return fail(code);
    return DBerrno;
}

}  // extern "C"
