// The index lock of a shared index, and how cached pages stay true to the file.
//
// Several processes may open one index, each with its own page cache. Updates are
// serialised by an exclusive lock on a byte range of the index file; a process that
// keeps pages cached across that lock must not trust them afterwards, since another
// process may have rewritten them meanwhile. So:
//
//   taking the lock:    write our own dirty pages, then read the header's changing
//                       fields; when the file changed since we last saw it, drop
//                       every cached page so the next reads fetch the current ones;
//   releasing the lock: flush our dirty pages and the header first, so the next
//                       holder finds the file complete; then unlock and mark the
//                       header stale, to be read again before the next use.
//
// Each family supplies the pieces that differ: where its lock lives, how it reads
// its header fields and tells whether the file changed (an update counter, or, for
// families without one, always), and how it flushes.
#pragma once

#include <cstdint>

#include "index/page_cache.hpp"

namespace xbdb::index {

constexpr uint8_t kIndexLocked = 4;  // lock state while the index lock is held

struct LockSpan {
    uint32_t offset;
    int32_t length;
};

class LockableIndex {
public:
    virtual int32_t lock_descriptor() const = 0;
    virtual LockSpan lock_span() const = 0;
    virtual uint8_t& lock_state_byte() = 0;
    virtual uint8_t& flags_byte() = 0;
    virtual PageCache& page_cache() = 0;
    // Reads the header fields that other processes change; changed is true when the
    // file is not as this process last saw it (the fields are then taken over).
    virtual int32_t reread_header(bool& changed) = 0;
    // Writes dirty pages and the header when anything changed.
    virtual int32_t flush_changes() = 0;

protected:
    ~LockableIndex() = default;
};

// Takes the lock (with the host layer's retry rules) and brings the cache up to
// date. The lock state is 4 afterwards and the header no longer stale.
int32_t take_index_lock(LockableIndex& index);
// Flushes, then releases the lock; nothing happens when it is not held. A failed
// flush keeps the lock and returns the failure.
int32_t release_index_lock(LockableIndex& index);
// Writes own dirty pages, re-reads the header fields and drops the cache when the
// file changed.
int32_t sync_with_file(LockableIndex& index);
// The bare lock and unlock of the byte range, without touching the cache.
int32_t lock_range(LockableIndex& index);
int32_t unlock_range(LockableIndex& index);

}  // namespace xbdb::index
