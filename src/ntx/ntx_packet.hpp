// The open NTX file: its packet, and the internal operations that the NTX calls
// share (page access, header, lock, search and moves).
#pragma once

#include <cstdint>

#include "core/memory.hpp"
#include "core/state.hpp"
#include "index/index_lock.hpp"
#include "index/key_compare.hpp"
#include "index/open_mode.hpp"
#include "index/page_cache.hpp"
#include "index/path_stack.hpp"
#include "ntx/ntx_format.hpp"

namespace xbdb::ntx {

constexpr int16_t kDefaultBuffers = 100;
constexpr int16_t kUnbufferedBuffers = 3;
constexpr int16_t kFewestBuffers = 3;
// The index lock: one byte far beyond any real file size.
constexpr uint32_t kLockOffset = 1000000000;

struct NtxPacket final : Packet, index::LockableIndex, index::PageChecker {
    // Packet: flags (0x01 read-only, 0x02 unbuffered, 0x04 shared, 0x08 lock around
    // updates, 0x20 header stale), fd, family_word (the write-through word), name,
    // lock_state (4 while the index lock is held).
    int32_t file_length = 0;
    Header header;
    Geometry geometry;
    index::PageCache cache;
    index::PathStack path;
    uint32_t saved_recno = 0;  // shared unbuffered mode: position between calls
    HostBlock saved_key;       // key_size + 1 bytes, shared unbuffered mode only
    bool modified = false;     // a page or the header changed since the last flush

    bool unbuffered() const { return flags & index::kFlagUnbuffered; }
    bool shared_unbuffered() const { return unbuffered() && shared(); }
    bool locked() const { return lock_state != 0; }
    bool header_stale() const { return flags & index::kFlagHeaderStale; }
    int32_t key_size() const { return geometry.key_size; }

    // LockableIndex
    int32_t lock_descriptor() const override { return fd; }
    index::LockSpan lock_span() const override { return {kLockOffset, 1}; }
    uint8_t& lock_state_byte() override { return lock_state; }
    uint8_t& flags_byte() override { return flags; }
    index::PageCache& page_cache() override { return cache; }
    int32_t reread_header(bool& changed) override;
    int32_t flush_changes() override;
    // PageChecker
    int32_t check_page(int64_t offset, const char* bytes) const override;
};

// The packet of the last NTX call.
extern NtxPacket* DBcli;

// The NTX handle check: the packet (now current, DBerrno 0), or null.
NtxPacket* _DBclLockIndexStruc(int32_t handle);

// ---- pages (ntx_pages.cpp) ----
// Reads a page through the cache: -204 for an offset outside the file, -206 for a
// damaged page.
int32_t read_page(NtxPacket& x, int64_t offset, index::PageRef& out);
// Marks the page changed (buffered) or writes it at once (unbuffered).
int32_t write_page(NtxPacket& x, index::PageRef& page);
// The child of entry i of a page, checked to be a page of the file (else -206).
int32_t child_of(const NtxPacket& x, const Page& page, int32_t i, int64_t& child);
// Shared unbuffered mode: forget every page and the position.
void _DBclClearPageBuffer(NtxPacket& x);

// ---- header, flush, lock (ntx_header.cpp) ----
int32_t _DBclGetIndexHeader(NtxPacket& x);
// Re-reads the header when another process may have changed it (flag 0x20).
int32_t refresh_if_stale(NtxPacket& x);
int32_t _DBclFlushIndex(NtxPacket& x);
int32_t _DBclLockIndex(NtxPacket& x);
int32_t _DBclUnLockIndex(NtxPacket& x);
// Writes version (+1) and root at once (unbuffered updates).
int32_t write_version_and_root(NtxPacket& x);
// Writes free_page at once (unbuffered updates).
int32_t write_free_page(NtxPacket& x);

// ---- search and moves (ntx_search.cpp, ntx_moves.cpp) ----
int32_t _DBclKeySearch(NtxPacket& x, const index::SearchKey& key);
int32_t _DBclGoFirstKey(NtxPacket& x);
int32_t _DBclGoLastKey(NtxPacket& x);
int32_t _DBclGoNextKey(NtxPacket& x);
int32_t _DBclGoPreviousKey(NtxPacket& x);
// Copies the key (key_size bytes and a NUL) and record number at the position;
// 203 when there is no position.
int32_t report_position(NtxPacket& x, char* key, uint32_t* recno);

// ---- numeric keys (ntx_keys.cpp) ----
// The key text of value for key_size and decimals: the magnitude rounded to
// decimals, zero-padded, the last key_size characters up to the last decimal; for
// a negative value every character but the point complemented (0x5C - c).
void numeric_key(char* out, double value, int32_t key_size, int32_t decimals);

}  // namespace xbdb::ntx
