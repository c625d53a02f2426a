#include "index/page_cache.hpp"

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

Frame* PageCache::find(int64_t offset) const {
    for (int16_t i = 0; i < count_; ++i)
        if ((frames_[i].state & kValid) && frames_[i].offset == offset) return &frames_[i];
    return nullptr;
}

// A frame for a new page: an empty one if any, else the least recently used page
// that nobody holds.
Frame* PageCache::victim() {
    Frame* oldest = nullptr;
    for (int16_t i = 0; i < count_; ++i) {
        Frame& f = frames_[i];
        if (f.pins) continue;
        if (!(f.state & kValid)) return &f;
        if (!oldest || f.last_use < oldest->last_use) oldest = &f;
    }
    return oldest;
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
    frame.state = 0;
    std::span<char> bytes(frame.data, static_cast<std::size_t>(file_.page_size));
    if (int32_t code = os::read_at(file_.fd, offset, bytes); code < 0) return fail(code);
    frame.offset = offset;
    frame.state = kValid;
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
    frame->offset = offset;
    frame->state = kValid | kDirty | kChecked;
    frame->last_use = ++clock_;
    out = PageRef(this, frame);
    return 0;
}

void PageCache::forget(Frame& frame) { frame.state = 0; }

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
    for (int16_t i = 0; i < count_; ++i) forget(frames_[i]);
}

bool PageCache::grow(int16_t count) {
    if (count <= count_) return true;
    HostPtr<Frame[]> table(static_cast<Frame*>(allocate(sizeof(Frame) * count)));
    if (!table) return false;
    for (int16_t i = 0; i < count_; ++i) table[i] = frames_[i];
    frames_ = std::move(table);
    while (count_ < count) {
        char* data = static_cast<char*>(allocate(static_cast<std::size_t>(file_.page_size)));
        if (!data) return false;
        frames_[count_++] = Frame{0, data, 0, 0, 0};
    }
    return true;
}

void PageCache::shrink(int16_t count) {
    drop_all();
    release_buffers(count < 0 ? 0 : count);
}

}  // namespace xbdb::index
