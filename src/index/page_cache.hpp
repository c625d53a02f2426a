// The page cache that every index family reads and writes its pages through.
//
// A fixed number of page buffers ("frames") hold whole pages of one file, keyed by
// the page's byte offset in the file (families that address pages by block number
// multiply first). The cache is most-recently-used: a miss takes a free frame (the
// first in frame order), or else the frame used longest ago, writing its page back
// first when it is dirty.
//
// A cache sized for a whole index has tens of thousands of frames, so neither a hit
// nor a miss looks at every frame: a hash table (open addressing, linear probing)
// maps offsets to the frames that hold them, and the frames that hold pages are
// linked from least to most recently used.
//
// In buffered mode a changed page is only marked dirty and reaches the file on
// eviction or flush; in write-through mode the family writes it at once with
// write(). Every page that arrives from the file can be handed to the family's
// checker before anyone reads it, so that counts and offsets inside a page are
// validated once, where the bytes enter the library.
//
// An operation that works on several pages at once (a page, its parent and a
// sibling) holds a PageRef for each: a held frame is pinned and is never chosen
// for another page, so its buffer cannot change under the holder, whatever the
// cache size. Pins last only for one operation; between calls no frame is pinned,
// which is what allows the cache to be resized.
#pragma once

#include <cstdint>

#include "core/memory.hpp"

namespace xbdb::index {

// The family's validation of a page read from the file: 0, or the code to fail with
// (-206 for a damaged page).
class PageChecker {
public:
    virtual int32_t check_page(int64_t offset, const char* bytes) const = 0;

protected:
    ~PageChecker() = default;
};

// One page buffer. Frames do not move while an operation runs.
struct Frame {
    int64_t offset = 0;    // file offset of the page held, when valid
    char* data = nullptr;  // page_size bytes from the library's allocator
    uint32_t last_use = 0; // cache clock at the last fetch
    uint16_t pins = 0;     // PageRefs that hold this frame
    uint8_t state = 0;     // kValid | kDirty | kChecked
    int16_t older = -1;    // recency list of the frames holding pages (-1: none)
    int16_t newer = -1;
};

constexpr uint8_t kValid = 0x20;    // holds a page
constexpr uint8_t kDirty = 0x02;    // changed since it was read or written
constexpr uint8_t kChecked = 0x01;  // passed the family's checker

class PageCache;

// A pinned page: the frame stays with its page (and its buffer unchanged) until the
// reference goes away. Move-only.
class PageRef {
public:
    PageRef() = default;
    PageRef(PageCache* cache, Frame* frame);
    PageRef(PageRef&& other) noexcept;
    PageRef& operator=(PageRef&& other) noexcept;
    PageRef(const PageRef&) = delete;
    PageRef& operator=(const PageRef&) = delete;
    ~PageRef() { reset(); }

    void reset();
    explicit operator bool() const { return frame_ != nullptr; }
    char* data() const { return frame_->data; }
    int64_t offset() const { return frame_->offset; }
    Frame* frame() const { return frame_; }

private:
    PageCache* cache_ = nullptr;
    Frame* frame_ = nullptr;
};

// Where and how pages are written: the descriptor, the page size and whether every
// write is followed by a flush to disk (the write-through word of the packet).
struct PageFile {
    int fd = -1;
    int32_t page_size = 0;
    bool flush_writes = false;
};

class PageCache {
public:
    PageCache() = default;
    ~PageCache();
    PageCache(const PageCache&) = delete;
    PageCache& operator=(const PageCache&) = delete;

    // Sets the file and allocates up to buffers page buffers, one at a time, stopping
    // at the first failure. Returns the number allocated (the caller decides whether
    // that is enough).
    int16_t open(const PageFile& file, int16_t buffers, const PageChecker* checker);
    void set_flush(bool flush_writes) { file_.flush_writes = flush_writes; }

    int16_t buffers() const { return count_; }
    int16_t in_use() const;
    int32_t page_size() const { return file_.page_size; }

    // The page at offset, read from the file on a miss; check asks for the family's
    // checker (pages of the free chain are fetched unchecked).
    int32_t fetch(int64_t offset, PageRef& out, bool check = true);
    // A frame for a page that is being set up from nothing: zeroed, valid, dirty.
    int32_t fresh(int64_t offset, PageRef& out);
    // The frame holding offset, or null.
    Frame* find(int64_t offset) const;

    void mark_dirty(Frame& frame) { frame.state |= kDirty; }
    // Writes the frame's page now and clears its dirty bit.
    int32_t write(Frame& frame);
    // Forgets the page: the next fetch reads it again.
    void forget(Frame& frame);
    // Writes every dirty page (clearing the dirty bits).
    int32_t write_dirty();
    bool has_dirty() const;
    // Forgets every page (dirty ones included: write them first).
    void drop_all();

    // Resizing, only between operations (no page held). grow adds buffers one at a
    // time up to count and reports false when memory ran out first; shrink drops
    // every page and frees the buffers above count.
    bool grow(int16_t count);
    void shrink(int16_t count);

    // Frames, for integrity checks and tests.
    const Frame* frames() const { return frames_.get(); }

private:
    friend class PageRef;
    Frame* victim();
    int32_t load(Frame& frame, int64_t offset);
    int32_t validate(Frame& frame);
    void release_buffers(int16_t from);

    // Bookkeeping of the frames that hold pages: holds() enters a frame that now
    // holds the page at offset (most recently used), empties() takes one out,
    // touch() makes one the most recently used.
    void holds(Frame& frame, int64_t offset, uint8_t state);
    void empties(Frame& frame);
    void touch(Frame& frame);
    void unlink(Frame& frame);
    int16_t index_of(const Frame& frame) const { return static_cast<int16_t>(&frame - frames_.get()); }
    uint32_t home_slot(int64_t offset) const;
    void hash_insert(int16_t index);
    void hash_erase(int16_t index);
    bool resize_slots(int32_t frames);

    PageFile file_;
    const PageChecker* checker_ = nullptr;
    HostPtr<Frame[]> frames_;
    int16_t count_ = 0;
    uint32_t clock_ = 0;
    HostPtr<int16_t[]> slots_;  // frame index + 1 per hash slot, 0 for an empty slot
    uint32_t slot_mask_ = 0;    // slot count - 1 (a power of two)
    int slot_shift_ = 64;       // 64 - log2(slot count)
    int16_t oldest_ = -1;       // recency list ends
    int16_t newest_ = -1;
    int16_t free_hint_ = 0;     // every frame below this one holds a page
    int16_t empty_count_ = 0;   // frames that hold no page
};

}  // namespace xbdb::index
