// The read/write cache of a buffered table: a block of consecutive records, read
// from the file in one go and, when changed or appended to, written back as one
// block by the next flush. Slot i holds record cache_first + i at i * record length.
#include <algorithm>
#include <cstring>

#include "os/file_io.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr int32_t kDefaultRecords = 8;
constexpr int64_t kLeastBytes = 512;
constexpr int64_t kMostDefaultBytes = 16384;
// A requested cache size is cut to this many bytes.
constexpr int64_t kMostBytes = 16 * 1024 * 1024;

// 8 records, unless that is more than 16 KiB or less than 512 bytes; never fewer
// than one record, however long the records are.
int32_t default_capacity(int64_t record_length) {
    int64_t capacity = kDefaultRecords;
    if (capacity * record_length > kMostDefaultBytes) capacity = kMostDefaultBytes / record_length;
    else if (capacity * record_length < kLeastBytes) capacity = kLeastBytes / record_length;
    return static_cast<int32_t>(std::max<int64_t>(capacity, 1));
}

// Resizes the cache to records records (at least 1, at most kMostBytes).
// Without memory the old cache stays and the warning 209 is the answer.
int32_t resize_cache(TablePacket& t, int32_t* records) {
    if (t.cache_dirty)
        if (int32_t code = _DBFlushFile(t); code < 0) return fail(code);
    const int64_t length = t.record_length();
    const int64_t wanted = std::clamp<int64_t>(*records, 1, std::max<int64_t>(kMostBytes / length, 1));
    void* block = t.cache.release();
    const bool resized = reallocate(&block, static_cast<std::size_t>(wanted * length));
    t.cache.reset(static_cast<char*>(block));
    if (!resized) {
        *records = t.cache_capacity;
        return DBerrno = DB_WARN_PARTIAL_ALLOC;
    }
    t.cache_capacity = static_cast<int32_t>(wanted);
    t.cache_size = static_cast<int32_t>(wanted * length);
    t.cache_count = std::min(t.cache_count, t.cache_capacity);
    *records = t.cache_capacity;
    return 0;
}

}  // namespace

int32_t _DBAllocCache(TablePacket& t) {
    const int32_t capacity = default_capacity(t.record_length());
    const int64_t size = static_cast<int64_t>(capacity) * t.record_length();
    t.cache = allocate_block(static_cast<std::size_t>(size));
    if (!t.cache) return fail(DB_ERR_MEMORY);
    t.cache_capacity = capacity;
    t.cache_size = static_cast<int32_t>(size);
    t.cache_count = 0;
    t.cache_first = 0;
    t.cache_dirty = false;
    return 0;
}

void _DBFreeCache(TablePacket& t) {
    t.cache.reset();
    t.cache_capacity = 0;
    t.cache_size = 0;
    t.cache_count = 0;
    t.cache_first = 0;
    t.cache_dirty = false;
}

int32_t _DBFillCache(TablePacket& t, int32_t number) {
    if (t.cache_count > 0 && number >= t.cache_first &&
        number - static_cast<int64_t>(t.cache_first) < t.cache_count)
        return 0;
    if (t.cache_dirty)
        if (int32_t code = _DBFlushFile(t); code < 0) return fail(code);
    const int64_t available = static_cast<int64_t>(t.record_count()) - number + 1;
    if (number < 1 || available < 1) return fail(DB_ERR_SEEK);
    const int64_t records = std::min<int64_t>(t.cache_capacity, available);
    // Whatever a failed read left in the cache is not a record.
    t.cache_count = 0;
    const std::span<char> block(t.cache.get(), static_cast<std::size_t>(records * t.record_length()));
    if (int32_t code = os::read_at(t.fd, t.record_offset(number), block); code < 0)
        return fail(code);
    t.cache_first = number;
    t.cache_count = static_cast<int32_t>(records);
    return 0;
}

void refresh_cached_record(TablePacket& t, int32_t number, const char* record) {
    if (!t.cache || t.cache_count <= 0 || number < t.cache_first ||
        number - static_cast<int64_t>(t.cache_first) >= t.cache_count)
        return;
    std::memcpy(t.cache_slot(number - t.cache_first), record, t.record_length());
}

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBGetSetCacheSize(int32_t handle, int32_t* records, int32_t command) {
    TablePacket* t = _DBLockDataStruc(handle);
    if (!t) return fail(DB_ERR_HANDLE);
    if (!records) return fail(DB_ERR_NULL);
    if (t->unbuffered()) {
        *records = 0;
        return DBerrno;
    }
    if (command == DB_CACHE_GET) {
        *records = t->cache_capacity;
        return DBerrno;
    }
    if (command != DB_CACHE_SET) return fail(DB_ERR_COMMAND);
    if (int32_t code = resize_cache(*t, records); code < 0) return fail(code);
    return DBerrno;
}

}  // extern "C"
