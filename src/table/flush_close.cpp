// Writing a table's pending changes back (flush), re-reading its record count,
// closing it, and the two header flags that a production index sets.
//
// A buffered table collects appended and changed records in its cache; the file
// is brought up to date by a flush: the cached block, then header bytes 1..7 (the
// date of the last update and the record count), then, after appends, the end
// mark. Only those header bytes are ever rewritten, so whatever other programs
// keep in the reserved bytes of the header survives.
#include <algorithm>

#include "os/file_io.hpp"
#include "table/dialects.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr uint8_t kHeaderLocked = 0x02;  // lock state bit: header lock held
constexpr uint8_t kFileLocked = 4;       // lock state value: whole file locked

bool holds_header_or_file(const TablePacket& t) {
    return (t.lock_state & kHeaderLocked) || t.lock_state == kFileLocked;
}

bool write_through(const TablePacket& t) { return t.family_word != 0; }

// The host layer answers a successful lock call with whatever DBerrno holds, so an
// unlock that follows a failure starts from a clear DBerrno.
int32_t unlock_header(TablePacket& t) {
    DBerrno = 0;
    if (int32_t code = _DBUnLockHeader(t); code < 0) return fail(code);
    return 0;
}

// The record count that the file holds now: the header's count, or for the
// dialects that do not keep it there, what the file length gives.
int32_t file_record_count(TablePacket& t, uint32_t* count) {
    if (!dialect_rules(t.dialect_number()).count_from_length) {
        char bytes[4];
        if (int32_t code = os::read_at(t.fd, kCountAt, bytes); code < 0) return fail(code);
        *count = le32(bytes);
        return 0;
    }
    const int32_t saved = DBerrno;
    DBerrno = 0;
    int32_t length = 0;
    if (int32_t code = os::file_length(t.fd, &length); code < 0) return fail(code);
    DBerrno = saved;
    const int64_t records = static_cast<int64_t>(length) - t.header_length();
    *count = records > 0 ? static_cast<uint32_t>(records / t.record_length()) : 0;
    return 0;
}

int32_t write_cached_records(TablePacket& t) {
    if (!t.cache_dirty || t.cache_count <= 0) return 0;
    const std::span<const char> block(t.cache.get(),
                                      static_cast<std::size_t>(t.cache_count) * t.record_length());
    if (int32_t code = os::write_at(t.fd, t.record_offset(t.cache_first), block, write_through(t));
        code < 0)
        return fail(code);
    return 0;
}

// Header date and count, under the header lock on a shared table that holds no
// lock. The count written is never smaller than the one the file already holds:
// another process may have appended since this one last looked.
int32_t write_header_under_lock(TablePacket& t) {
    bool took = false;
    if (t.shared() && t.lock_state == 0) {
        const uint32_t ours = t.record_count();
        if (int32_t code = take_header_lock(t); code < 0) return fail(code);
        took = true;
        uint32_t theirs = 0;
        if (int32_t code = file_record_count(t, &theirs); code < 0) {
            unlock_header(t);
            return fail(code);
        }
        t.set_record_count(std::max(ours, theirs));
    }
    int32_t code = write_header_stamp(t, 7);
    if (code >= 0 && (t.pending & kPendingAppend)) code = write_end_mark(t);
    if (took) {
        const int32_t released = unlock_header(t);
        if (code >= 0) code = released;
    }
    return code < 0 ? fail(code) : 0;
}

// Writes the table's pending changes and closes its descriptor; the packet stays.
int32_t _close_file(TablePacket& t) {
    if (!t.unbuffered())
        if (int32_t code = _DBFlushFile(t); code < 0) return fail(code);
    if (t.lock_state != 0 || t.lock_count != 0)
        if (int32_t code = _DBUnLockAll(t); code < 0) return fail(code);
    const int32_t saved = DBerrno;
    DBerrno = 0;
    if (int32_t code = os::close_file(t.fd); code < 0) return fail(code);
    DBerrno = saved;
    t.fd = -1;
    return 0;
}

// Writes one byte at position under the header lock of a shared table that holds
// neither the header nor the file lock. A refused lock writes nothing.
int32_t write_flag_byte(TablePacket& t, int64_t position, uint8_t value) {
    bool took = false;
    if (t.shared() && !holds_header_or_file(t)) {
        if (int32_t code = take_header_lock(t); code < 0) return fail(code);
        took = true;
    }
    const char byte = static_cast<char>(value);
    int32_t code = os::write_at(t.fd, position, std::span(&byte, 1), write_through(t));
    if (took) {
        const int32_t released = unlock_header(t);
        if (code >= 0) code = released;
    }
    return code < 0 ? fail(code) : 0;
}

}  // namespace

int32_t take_header_lock(TablePacket& t) {
    const bool held = t.lock_state & kHeaderLocked;
    if (int32_t code = _DBLockHeader(t); code < 0) {
        if (!held && (t.lock_state & kHeaderLocked)) unlock_header(t);
        return fail(code);
    }
    return 0;
}

int32_t stamp_today(TablePacket& t) {
    const int32_t saved = DBerrno;
    int32_t year = 0, month = 0, day = 0, weekday = 0;
    if (int32_t code = DBGetDate3(&year, &month, &day, &weekday); code < 0) return fail(code);
    // The year byte is year - 2000 for 2000..2207, kept in one byte.
    t.header[kDateAt] = static_cast<uint8_t>((year + 48) & 0xFF);
    t.header[kDateAt + 1] = static_cast<uint8_t>(month);
    t.header[kDateAt + 2] = static_cast<uint8_t>(day);
    DBerrno = saved;
    return 0;
}

int32_t write_header_stamp(TablePacket& t, int bytes) {
    const std::span<const char> stamp(reinterpret_cast<const char*>(t.header + kDateAt),
                                      static_cast<std::size_t>(bytes));
    if (int32_t code = os::write_at(t.fd, kDateAt, stamp, write_through(t)); code < 0)
        return fail(code);
    return 0;
}

int32_t write_end_mark(TablePacket& t) {
    const int64_t position = t.record_offset(static_cast<int64_t>(t.record_count()) + 1);
    if (dialect_rules(t.dialect_number()).end_mark == EndMark::one_byte) {
        if (int32_t code = os::write_at(t.fd, position, std::span(&kEndOfFile, 1), write_through(t));
            code < 0)
            return fail(code);
        return 0;
    }
    HostBlock mark = allocate_block(t.record_length());
    if (!mark) return fail(DB_ERR_MEMORY);
    std::fill_n(mark.get(), t.record_length(), kEndOfFile);
    if (int32_t code = os::write_at(t.fd, position, std::span(mark.get(), t.record_length()),
                                    write_through(t));
        code < 0)
        return fail(code);
    return 0;
}

int32_t _DBGetFileHeader(TablePacket& t) {
    // Records still waiting in the cache of an unshared table belong to the count;
    // they reach the file first, so the count read back includes them.
    if (t.pending && !t.shared() && !t.read_only())
        if (int32_t code = _DBFlushFile(t); code < 0) return fail(code);
    uint32_t count = 0;
    if (int32_t code = file_record_count(t, &count); code < 0) return fail(code);
    t.set_record_count(count);
    return 0;
}

int32_t _DBFlushFile(TablePacket& t) {
    if (t.pending) {
        if (int32_t code = write_cached_records(t); code < 0) return fail(code);
        if (int32_t code = stamp_today(t); code < 0) return fail(code);
        if (int32_t code = write_header_under_lock(t); code < 0) return fail(code);
        t.pending = 0;
        t.cache_dirty = false;
    }
    const int32_t saved = DBerrno;
    if (int32_t code = os::flush_file(t.fd); code < 0) return fail(code);
    DBerrno = saved;
    return 0;
}

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBFlushFile(int32_t handle) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (t->read_only()) return fail(DB_ERR_READ_ONLY);
    if (t->unbuffered()) return DBerrno = DB_WARN_NOT_BUFFERED;
    if (int32_t code = _DBFlushFile(*t); code < 0) return fail(code);
    // Other processes change a shared table: the next read goes to the file.
    if (t->shared()) {
        t->cache_count = 0;
        t->cache_first = 0;
    }
    return DBerrno;
}

int32_t DBCloseFile(int32_t handle) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (int32_t code = _close_file(*t); code < 0) return fail(code);
    if (DBxbd == t) DBxbd = nullptr;
    release_slot(handle);
    DBerrno = 0;
    return 0;
}

int32_t DBGetFileHeader(int32_t handle) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (t->shared())
        if (int32_t code = _DBGetFileHeader(*t); code < 0) return fail(code);
    return DBerrno;
}

int32_t DBSetProductionIndex(int32_t handle, int32_t flag) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (t->read_only()) return fail(DB_ERR_READ_ONLY);
    const uint8_t value = flag == '1' ? 1 : 0;
    if (int32_t code = write_flag_byte(*t, kProductionAt, value); code < 0) return fail(code);
    t->header[kProductionAt] = value;
    return DBerrno;
}

int32_t DBSetFieldIndexed(int32_t handle, int16_t field) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!dialect_rules(t->dialect_number()).indexed_flags || t->production_flag() == 0)
        return fail(DB_ERR_VERSION);
    if (field < 0 || field >= t->field_count) return fail(DB_ERR_FIELD_COUNT);
    if (t->read_only()) return fail(DB_ERR_READ_ONLY);
    constexpr int kIndexedAt = kDescriptorSize - 1;
    t->fields[field].raw[kIndexedAt] = 1;
    const int64_t position = kHeaderSize + int64_t{kDescriptorSize} * field + kIndexedAt;
    if (int32_t code = write_flag_byte(*t, position, 1); code < 0) return fail(code);
    return DBerrno;
}

}  // extern "C"
