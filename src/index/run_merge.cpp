// The second half of a bulk build's sort: the runs of the temporary file merged
// into one ascending stream.
//
// Each run reads R / N items at a time into its share of the sort buffer (the plan
// guarantees at least one). A binary heap over the runs' current items gives the
// next item in log N comparisons, so the merge costs the same per item however
// many runs there are. A unique build lets only the first item of each key through:
// items arrive in (key, record number) order, so that is the lowest record number.
#include <cstring>
#include <span>
#include <utility>

#include "core/failure.hpp"
#include "index/bulk_runs.hpp"
#include "os/file_io.hpp"

namespace xbdb::index::bulk {

namespace {

class Merge {
public:
    Merge(SortSpace& space, const ItemShape& shape, int fd)
        : runs_(space.runs.get()), heap_(space.heap.get()), run_count_(space.plan.runs),
          size_(static_cast<std::size_t>(shape.item_size())), shape_(shape), fd_(fd) {}

    int32_t start(char* buffer, int32_t share);
    int32_t run(ItemSink& sink);

private:
    const char* current(int32_t run) const {
        const Run& r = runs_[run];
        return r.buffer + size_ * static_cast<std::size_t>(r.next);
    }
    bool before(int32_t a, int32_t b) const { return std::memcmp(current(a), current(b), size_) < 0; }
    int32_t load(Run& run);
    int32_t advance();
    void sift_down(int32_t at);
    bool repeats(const char* item);

    Run* runs_;
    int32_t* heap_;
    int32_t run_count_;
    int32_t heap_size_ = 0;
    int32_t share_ = 0;
    std::size_t size_;
    const ItemShape& shape_;
    int fd_;
    HostBlock last_key_;
    bool have_last_ = false;
};

int32_t Merge::load(Run& run) {
    const int32_t n = run.unread < share_ ? run.unread : share_;
    const std::span<char> bytes(run.buffer, size_ * static_cast<std::size_t>(n));
    if (int32_t code = os::read_at(fd_, run.position, bytes); code < 0) return fail(code);
    run.position += static_cast<int64_t>(bytes.size());
    run.unread -= n;
    run.loaded = n;
    run.next = 0;
    return 0;
}

int32_t Merge::start(char* buffer, int32_t share) {
    share_ = share;
    last_key_ = allocate_block(static_cast<std::size_t>(shape_.key_size));
    if (!last_key_) return fail(DB_ERR_MEMORY);
    for (int32_t i = 0; i < run_count_; ++i) {
        Run& run = runs_[i];
        run.buffer = buffer + size_ * static_cast<std::size_t>(share) * static_cast<std::size_t>(i);
        if (run.unread == 0) continue;
        if (int32_t code = load(run); code < 0) return fail(code);
        heap_[heap_size_++] = i;
    }
    for (int32_t at = heap_size_ / 2 - 1; at >= 0; --at) sift_down(at);
    return 0;
}

void Merge::sift_down(int32_t at) {
    for (;;) {
        int32_t least = at;
        const int32_t left = 2 * at + 1;
        const int32_t right = left + 1;
        if (left < heap_size_ && before(heap_[left], heap_[least])) least = left;
        if (right < heap_size_ && before(heap_[right], heap_[least])) least = right;
        if (least == at) return;
        std::swap(heap_[at], heap_[least]);
        at = least;
    }
}

// Moves the front run to its next item, reading more of it when its share is used
// up; a run with nothing left leaves the heap.
int32_t Merge::advance() {
    Run& run = runs_[heap_[0]];
    if (++run.next == run.loaded) {
        if (run.unread > 0) {
            if (int32_t code = load(run); code < 0) return fail(code);
        } else {
            heap_[0] = heap_[--heap_size_];
        }
    }
    if (heap_size_ > 0) sift_down(0);
    return 0;
}

bool Merge::repeats(const char* item) {
    const auto key = static_cast<std::size_t>(shape_.key_size);
    if (have_last_ && std::memcmp(item, last_key_.get(), key) == 0) return true;
    std::memcpy(last_key_.get(), item, key);
    have_last_ = true;
    return false;
}

int32_t Merge::run(ItemSink& sink) {
    while (heap_size_ > 0) {
        const char* item = current(heap_[0]);
        if (!shape_.unique || !repeats(item))
            if (int32_t code = sink.put(item); code < 0) return fail(code);
        if (int32_t code = advance(); code < 0) return fail(code);
    }
    return 0;
}

}  // namespace

int32_t merge_runs(SortSpace& space, const ItemShape& shape, int fd, ItemSink& sink) {
    if (space.plan.runs < 1) return 0;
    const int32_t share = space.plan.per_run / space.plan.runs;
    if (share < 1) return fail(DB_ERR_MEMORY);
    Merge merge(space, shape, fd);
    if (int32_t code = merge.start(space.buffer.get(), share); code < 0) return fail(code);
    if (int32_t code = merge.run(sink); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::index::bulk
