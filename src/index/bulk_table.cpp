// The table during a bulk build: locked when shared, given a record cache when it
// has none, read a cache block at a time, and afterwards exactly as it was (record
// buffer, current record, cache size, unbuffered mode), except that a shared table
// holds no lock any more.
#include <cstring>

#include "core/failure.hpp"
#include "index/bulk_build.hpp"

namespace xbdb::index::bulk {

int32_t TableForBuild::begin() {
    begun_ = true;
    saved_current_ = t_.current;
    saved_record_ = allocate_block(t_.record_length());
    if (!saved_record_) return fail(DB_ERR_MEMORY);
    std::memcpy(saved_record_.get(), t_.record, t_.record_length());
    // Under the lock the record count is read again: records appended by another
    // process until then are part of the build, later ones cannot be made.
    if (t_.shared())
        if (int32_t code = table::_DBLockFile(t_); code < 0) return fail(code);
    if (t_.unbuffered()) {
        if (int32_t code = table::_DBAllocCache(t_); code < 0) return fail(code);
        t_.flags &= static_cast<uint8_t>(~table::kFlagUnbuffered);
        gave_cache_ = true;
    }
    saved_cache_records_ = t_.cache_capacity;
    return 0;
}

void TableForBuild::set_cache_records(int32_t records) {
    const int32_t saved = DBerrno;
    int32_t wanted = records;
    DBGetSetCacheSize(handle_, &wanted, DB_CACHE_SET);
    resized_cache_ = true;
    // A shared table's cache may hold records read before the lock was taken.
    if (!t_.cache_dirty) t_.cache_count = 0;
    DBerrno = saved;
}

int32_t TableForBuild::record(int32_t n, const char*& bytes) {
    if (int32_t code = table::_DBFillCache(t_, n); code < 0) return fail(code);
    // A table left without cache memory holds no record to point at.
    if (n < t_.cache_first || n - static_cast<int64_t>(t_.cache_first) >= t_.cache_count)
        return fail(DB_ERR_MEMORY);
    bytes = t_.cache_slot(n - t_.cache_first);
    return 0;
}

void TableForBuild::make_current(const char* bytes, int32_t n) {
    std::memcpy(t_.record, bytes, t_.record_length());
    t_.current = n;
}

void TableForBuild::end() {
    if (!begun_) return;
    begun_ = false;
    const int32_t saved = DBerrno;
    if (resized_cache_ && !gave_cache_) {
        int32_t records = saved_cache_records_;
        DBGetSetCacheSize(handle_, &records, DB_CACHE_SET);
    }
    if (saved_record_) std::memcpy(t_.record, saved_record_.get(), t_.record_length());
    saved_record_.reset();
    t_.current = saved_current_;
    if (gave_cache_) {
        table::_DBFreeCache(t_);
        t_.flags |= table::kFlagUnbuffered;
        gave_cache_ = false;
    }
    if (t_.shared())
        if (int32_t code = table::_DBUnLockAll(t_); code < 0) log_again(code);
    resized_cache_ = false;
    DBerrno = saved;
}

}  // namespace xbdb::index::bulk
