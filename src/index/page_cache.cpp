#include "index/page_cache.hpp"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "os/file_io.hpp"

namespace xbdb::index {

// ---- PageRef ------------------------------------------------------------------

PageRef::PageRef(PageCache* cache, Frame* frame) : cache_(cache), frame_(frame) {
    if (frame_) ++frame_->pins;
}

PageRef::PageRef(PageRef&& other) noexcept
    : cache_(std::exchange(other.cache_, nullptr)), frame_(std::exchange(other.frame_, nullptr)) {}

PageRef& PageRef::operator=(PageRef&& other) noexcept {
    if (this != &other) {
        reset();
        cache_ = std::exchange(other.cache_, nullptr);
        frame_ = std::exchange(other.frame_, nullptr);
    }
    return *this;
}

void PageRef::reset() {
    if (frame_) --frame_->pins;
    frame_ = nullptr;
    cache_ = nullptr;
}

// ---- PageCache ----------------------------------------------------------------

PageCache::~PageCache() { release_buffers(0); }

void PageCache::release_buffers(int16_t from) {
    for (int16_t i = from; i < count_; ++i) {
        if (!(frames_[i].state & kValid)) --empty_count_;
        release(frames_[i].data);
        frames_[i] = Frame{};
    }
    if (from < count_) count_ = from;
}

int16_t PageCache::open(const PageFile& file, int16_t buffers, const PageChecker* checker) {
    file_ = file;
    checker_ = checker;
    grow(buffers);
    return count_;
}

int16_t PageCache::in_use() const {
    int16_t n = 0;
    for (int16_t i = 0; i < count_; ++i) n += (frames_[i].state & kValid) ? 1 : 0;
    return n;
}

// ---- bookkeeping: offset hash and recency list ---------------------------------

uint32_t PageCache::home_slot(int64_t offset) const {
    // Fibonacci hashing: page offsets are multiples of the page size, the multiply
    // spreads them over the high bits.
    return static_cast<uint32_t>((static_cast<uint64_t>(offset) * 0x9E3779B97F4A7C15ull) >> slot_shift_);
}

void PageCache::hash_insert(int16_t index) {
    uint32_t i = home_slot(frames_[index].offset);
    while (slots_[i]) i = (i + 1) & slot_mask_;
    slots_[i] = static_cast<int16_t>(index + 1);
}

// Removes the frame's slot and moves later slots of the probe run back into the gap,
// so that every entry stays reachable from its home slot without tombstones.
void PageCache::hash_erase(int16_t index) {
    uint32_t i = home_slot(frames_[index].offset);
    while (slots_[i] != index + 1) i = (i + 1) & slot_mask_;
    for (uint32_t j = (i + 1) & slot_mask_; slots_[j]; j = (j + 1) & slot_mask_) {
        const uint32_t home = home_slot(frames_[slots_[j] - 1].offset);
        // The entry at j may fill the gap at i unless its home lies in (i, j].
        const bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
        if (stays) continue;
        slots_[i] = slots_[j];
        i = j;
    }
    slots_[i] = 0;
}

// A slot table for up to frames frames, at most half full, holding the frames that
// hold pages now. False (and nothing changed) without memory.
bool PageCache::resize_slots(int32_t frames) {
    int bits = 4;
    while ((1 << bits) < 2 * frames) ++bits;
    const std::size_t size = std::size_t{1} << bits;
    HostPtr<int16_t[]> table(static_cast<int16_t*>(allocate(sizeof(int16_t) * size)));
    if (!table) return false;
    std::memset(table.get(), 0, sizeof(int16_t) * size);
    slots_ = std::move(table);
    slot_mask_ = static_cast<uint32_t>(size - 1);
    slot_shift_ = 64 - bits;
    for (int16_t i = 0; i < count_; ++i)
        if (frames_[i].state & kValid) hash_insert(i);
    return true;
}

// Takes a frame that is on the recency list off it.
void PageCache::unlink(Frame& frame) {
    (frame.older >= 0 ? frames_[frame.older].newer : oldest_) = frame.newer;
    (frame.newer >= 0 ? frames_[frame.newer].older : newest_) = frame.older;
    frame.older = frame.newer = -1;
}

void PageCache::touch(Frame& frame) {
    const int16_t index = index_of(frame);
    if (newest_ == index) return;
    if (frame.older >= 0 || frame.newer >= 0 || oldest_ == index) unlink(frame);
    frame.older = newest_;
    if (newest_ >= 0) frames_[newest_].newer = index;
    newest_ = index;
    if (oldest_ < 0) oldest_ = index;
}

void PageCache::holds(Frame& frame, int64_t offset, uint8_t state) {
    if (frame.state & kValid) empties(frame);
    frame.offset = offset;
    frame.state = state;
    --empty_count_;
    hash_insert(index_of(frame));
    touch(frame);
}

void PageCache::empties(Frame& frame) {
    if (frame.state & kValid) {
        hash_erase(index_of(frame));
        unlink(frame);
        ++empty_count_;
    }
    frame.state = 0;
    free_hint_ = std::min(free_hint_, index_of(frame));
}

Frame* PageCache::find(int64_t offset) const {
    if (!slots_) return nullptr;
    for (uint32_t i = home_slot(offset); slots_[i]; i = (i + 1) & slot_mask_) {
        Frame& f = frames_[slots_[i] - 1];
        if (f.offset == offset) return &f;
    }
    return nullptr;
}

// A frame for a new page: the first empty one that nobody holds, else the least
// recently used page that nobody holds.
Frame* PageCache::victim() {
    if (empty_count_ > 0) {
        while (free_hint_ < count_ && (frames_[free_hint_].state & kValid)) ++free_hint_;
        for (int16_t i = free_hint_; i < count_; ++i) {
            Frame& f = frames_[i];
            if (!(f.state & kValid) && !f.pins) return &f;
        }
    }
    for (int16_t i = oldest_; i >= 0; i = frames_[i].newer)
        if (!frames_[i].pins) return &frames_[i];
    return nullptr;
}

int32_t PageCache::write(Frame& frame) {
    std::span<const char> bytes(frame.data, static_cast<std::size_t>(file_.page_size));
    if (int32_t code = os::write_at(file_.fd, frame.offset, bytes, file_.flush_writes); code < 0)
        return fail(code);
    frame.state &= static_cast<uint8_t>(~kDirty);
    return 0;
}

int32_t PageCache::load(Frame& frame, int64_t offset) {
    if ((frame.state & (kValid | kDirty)) == (kValid | kDirty)) {
        if (int32_t code = write(frame); code < 0) return fail(code);
    }
    empties(frame);
    std::span<char> bytes(frame.data, static_cast<std::size_t>(file_.page_size));
    if (int32_t code = os::read_at(file_.fd, offset, bytes); code < 0) return fail(code);
    holds(frame, offset, kValid);
    return 0;
}

int32_t PageCache::validate(Frame& frame) {
    if (frame.state & kChecked) return 0;
    if (checker_) {
        if (int32_t code = checker_->check_page(frame.offset, frame.data); code < 0) {
            forget(frame);
            return fail(code);
        }
    }
    frame.state |= kChecked;
    return 0;
}

int32_t PageCache::fetch(int64_t offset, PageRef& out, bool check) {
    out.reset();
    Frame* frame = find(offset);
    if (!frame) {
        frame = victim();
        if (!frame) return fail(DB_ERR_NO_PAGES);
        if (int32_t code = load(*frame, offset); code < 0) return fail(code);
    }
    if (check) {
        if (int32_t code = validate(*frame); code < 0) return fail(code);
    }
    frame->last_use = ++clock_;
    touch(*frame);
    out = PageRef(this, frame);
    return 0;
}

int32_t PageCache::fresh(int64_t offset, PageRef& out) {
    out.reset();
    Frame* frame = find(offset);
    if (!frame) frame = victim();
    if (!frame) return fail(DB_ERR_NO_PAGES);
    if (frame->offset != offset && (frame->state & kDirty) && (frame->state & kValid)) {
        if (int32_t code = write(*frame); code < 0) return fail(code);
    }
    std::memset(frame->data, 0, static_cast<std::size_t>(file_.page_size));
    if ((frame->state & kValid) && frame->offset == offset) frame->state = kValid | kDirty | kChecked;
    else holds(*frame, offset, kValid | kDirty | kChecked);
    frame->last_use = ++clock_;
    touch(*frame);
    out = PageRef(this, frame);
    return 0;
}

void PageCache::forget(Frame& frame) { empties(frame); }

int32_t PageCache::write_dirty() {
    for (int16_t i = 0; i < count_; ++i) {
        Frame& f = frames_[i];
        if ((f.state & (kValid | kDirty)) != (kValid | kDirty)) continue;
        if (int32_t code = write(f); code < 0) return fail(code);
    }
    return 0;
}

bool PageCache::has_dirty() const {
    for (int16_t i = 0; i < count_; ++i)
        if ((frames_[i].state & (kValid | kDirty)) == (kValid | kDirty)) return true;
    return false;
}

void PageCache::drop_all() {
    for (int16_t i = 0; i < count_; ++i) {
        Frame& f = frames_[i];
        f.state = 0;
        f.older = f.newer = -1;
    }
    if (slots_) std::memset(slots_.get(), 0, sizeof(int16_t) * (slot_mask_ + 1));
    oldest_ = newest_ = -1;
    free_hint_ = 0;
    empty_count_ = count_;
}

bool PageCache::grow(int16_t count) {
    if (count <= count_) return true;
    HostPtr<Frame[]> table(static_cast<Frame*>(allocate(sizeof(Frame) * count)));
    if (!table) return false;
    for (int16_t i = 0; i < count_; ++i) table[i] = frames_[i];
    // Frames keep their indices, so the slots and the recency list stay valid.
    std::swap(frames_, table);
    if (!resize_slots(count)) {
        std::swap(frames_, table);
        return false;
    }
    while (count_ < count) {
        char* data = static_cast<char*>(allocate(static_cast<std::size_t>(file_.page_size)));
        if (!data) return false;
        Frame fresh_frame{};
        fresh_frame.data = data;
        frames_[count_++] = fresh_frame;
        ++empty_count_;
    }
    return true;
}

void PageCache::shrink(int16_t count) {
    drop_all();
    release_buffers(count < 0 ? 0 : count);
}

}  // namespace xbdb::index
