// The first half of a bulk build's sort: the temporary file, the memory plan, and
// the sorted runs.
//
// Every record is keyed in record-number order; each run of up to R items is
// sorted as whole items (key, then big-endian record number) and appended to the
// temporary file. A unique build drops, within a run, every item whose key equals
// the one before it, so the lowest record number of each key is the one kept.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "core/failure.hpp"
#include "index/bulk_runs.hpp"
#include "os/file_io.hpp"

namespace xbdb::index::bulk {

namespace {

constexpr int64_t kStartBudget = 65000;
// Keys of up to this many bytes are sorted in one run: no merge of many runs
// through the temporary file, which is most of a build's time otherwise.
constexpr int64_t kDefaultMemoryLimit = 32 << 20;
int64_t memory_limit = kDefaultMemoryLimit;
constexpr int64_t kBudgetStep = 1024;
constexpr int64_t kLeastBudget = 4096;
constexpr int64_t kTableCacheBytes = 32767;
constexpr char kDirectoryEnds[] = ":\\/";
constexpr char kTemporaryPattern[] = "%sSTKS%d.TMP";
// "STKS", up to 10 digits, ".TMP" and the terminator, with room to spare.
constexpr std::size_t kTemporaryExtra = 24;
// A directory with this many temporary files in it is not tried further.
constexpr int32_t kMostTemporaryNames = 100000;

// The temporary file: created, then opened again for reading and writing (a
// created file is write-only), closed and deleted when the sort ends.
class SortFile {
public:
    SortFile() = default;
    SortFile(const SortFile&) = delete;
    SortFile& operator=(const SortFile&) = delete;
    ~SortFile();

    int32_t create(const char* index_name);
    int fd() const { return fd_; }

private:
    HostBlock name_;
    int32_t fd_ = -1;
    bool created_ = false;
};

int32_t SortFile::create(const char* index_name) {
    if (int32_t code = temporary_name(index_name, name_); code < 0) return fail(code);
    if (int32_t code = DBosCreateFile(&fd_, name_.get()); code < 0) return fail(code);
    created_ = true;
    const int32_t closed = DBosCloseFile(fd_);
    fd_ = -1;
    if (closed < 0) return fail(closed);
    uint8_t flags = 0;
    if (int32_t code = DBosOpenFile(&fd_, name_.get(), 0, &flags); code < 0) return fail(code);
    return 0;
}

SortFile::~SortFile() {
    const int32_t saved = DBerrno;
    if (fd_ >= 0) DBosCloseFile(fd_);
    if (created_) os::_DBosDeleteFile(name_.get());
    DBerrno = saved;
}

int compare_items(const void* a, const void* b, void* size) {
    return std::memcmp(a, b, *static_cast<const std::size_t*>(size));
}

// Keeps the first item of every key; returns the items left.
int32_t drop_repeated_keys(char* items, int32_t count, const ItemShape& shape) {
    if (count < 2) return count;
    const std::size_t size = static_cast<std::size_t>(shape.item_size());
    const std::size_t key = static_cast<std::size_t>(shape.key_size);
    int32_t kept = 1;
    for (int32_t i = 1; i < count; ++i) {
        const char* item = items + size * static_cast<std::size_t>(i);
        char* last = items + size * static_cast<std::size_t>(kept - 1);
        if (std::memcmp(item, last, key) == 0) continue;
        if (kept != i) std::memcpy(last + size, item, size);
        ++kept;
    }
    return kept;
}

int32_t key_records(TableForBuild& table, KeyMaker& keys, const ItemShape& shape, char* items,
                    int32_t first, int32_t count) {
    const std::size_t size = static_cast<std::size_t>(shape.item_size());
    for (int32_t i = 0; i < count; ++i) {
        char* item = items + size * static_cast<std::size_t>(i);
        const int32_t recno = first + i;
        const char* record = nullptr;
        if (int32_t code = table.record(recno, record); code < 0) return fail(code);
        if (int32_t code = keys.make(record, recno, item); code < 0) return fail(code);
        put_be32(item + shape.key_size, static_cast<uint32_t>(recno));
    }
    return 0;
}

// Keys, sorts and writes one run after another; run i covers records
// i * R + 1 .. (i + 1) * R.
int32_t write_runs(TableForBuild& table, KeyMaker& keys, const ItemShape& shape, SortSpace& space,
                   int fd) {
    const int32_t records = table.records();
    std::size_t size = static_cast<std::size_t>(shape.item_size());
    char* items = space.buffer.get();
    int64_t position = 0;
    for (int32_t r = 0; r < space.plan.runs; ++r) {
        const int32_t first = 1 + r * space.plan.per_run;
        int32_t count = std::min(space.plan.per_run, records - first + 1);
        if (int32_t code = key_records(table, keys, shape, items, first, count); code < 0)
            return fail(code);
        qsort_r(items, static_cast<std::size_t>(count), size, compare_items, &size);
        if (shape.unique) count = drop_repeated_keys(items, count, shape);
        const std::span<const char> bytes(items, size * static_cast<std::size_t>(count));
        if (int32_t code = os::write_at(fd, position, bytes); code < 0) return fail(code);
        space.runs[r] = Run{position, count};
        position += static_cast<int64_t>(bytes.size());
    }
    return 0;
}

int32_t try_allocate(SortSpace& space) {
    space.buffer = allocate_block(static_cast<std::size_t>(space.plan.budget));
    if (!space.buffer) return DB_ERR_MEMORY;
    const auto runs = static_cast<std::size_t>(space.plan.runs);
    space.runs.reset(static_cast<Run*>(allocate(sizeof(Run) * runs)));
    space.heap.reset(static_cast<int32_t*>(allocate(sizeof(int32_t) * runs)));
    if (space.runs && space.heap) return 0;
    space.buffer.reset();
    space.runs.reset();
    space.heap.reset();
    return DB_ERR_MEMORY;
}

// Without memory for the whole plan the budget shrinks a step at a time, as long
// as the runs still fit the rule of the plan and the budget stays above its floor.
int32_t allocate_space(SortSpace& space, int64_t records, int32_t item_size) {
    while (try_allocate(space) < 0) {
        const int64_t smaller = space.plan.budget - kBudgetStep;
        if (smaller <= kLeastBudget || !apply_budget(space.plan, records, item_size, smaller))
            return fail(DB_ERR_MEMORY);
    }
    return 0;
}

// The least budget for which the runs do not outnumber the items of one run: a
// run of R items with R * R >= records.
int64_t least_budget(int64_t records, int32_t item_size) {
    int64_t r = 1;
    while (r * r < records) r *= 2;
    int64_t low = r / 2;
    while (low + 1 < r) {
        const int64_t mid = (low + r) / 2;
        (mid * mid >= records ? r : low) = mid;
    }
    return r * item_size;
}

}  // namespace

bool apply_budget(SortPlan& plan, int64_t records, int32_t item_size, int64_t budget) {
    const int64_t per_run = std::min<int64_t>(budget / item_size, std::max<int64_t>(records, 1));
    if (per_run < 1) return false;
    const int64_t runs = (records + per_run - 1) / per_run;
    if (runs > per_run) return false;
    plan.budget = per_run * item_size;
    plan.per_run = static_cast<int32_t>(per_run);
    plan.runs = static_cast<int32_t>(runs);
    return true;
}

void set_sort_memory_limit(int64_t bytes) {
    memory_limit = bytes > 0 ? bytes : kDefaultMemoryLimit;
}

// The budget holds all keys when they fit the memory limit, else as much as the
// limit allows (at least the start budget). The table's cache starts at about 32
// KiB; while it is larger than the sort budget, the cache halves and the budget
// doubles.
SortPlan plan_sort(int64_t records, int32_t item_size, int32_t record_length) {
    SortPlan plan;
    const int64_t length = std::max(record_length, 1);
    int64_t cache = std::max<int64_t>(kTableCacheBytes / length, 1);
    int64_t budget = std::clamp(records * item_size, kStartBudget,
                                std::max(kStartBudget, memory_limit));
    while (cache * length > budget) {
        if (cache > 1) cache /= 2;
        budget *= 2;
    }
    plan.cache_records = static_cast<int32_t>(cache);
    apply_budget(plan, records, item_size, std::max(budget, least_budget(records, item_size)));
    return plan;
}

int32_t temporary_name(const char* index_name, HostBlock& name) {
    const std::size_t length = std::strlen(index_name);
    std::size_t directory = 0;
    for (std::size_t i = 0; i < length; ++i)
        if (std::strchr(kDirectoryEnds, index_name[i])) directory = i + 1;
    const std::size_t size = directory + kTemporaryExtra;
    HostBlock prefix = allocate_block(directory + 1);
    name = allocate_block(size);
    if (!prefix || !name) return fail(DB_ERR_MEMORY);
    std::memcpy(prefix.get(), index_name, directory);
    for (int32_t n = 0; n < kMostTemporaryNames; ++n) {
        std::snprintf(name.get(), size, kTemporaryPattern, prefix.get(), static_cast<int>(n));
        if (!os::_DBIsFileThere(name.get())) return 0;
    }
    return fail(DB_ERR_OPEN_FAILED);
}

int32_t sort_keys(TableForBuild& table, KeyMaker& keys, const ItemShape& shape,
                  const char* index_name, ItemSink& sink) {
    SortFile file;
    if (int32_t code = file.create(index_name); code < 0) return fail(code);
    const int64_t records = table.records();
    SortSpace space;
    space.plan = plan_sort(records, shape.item_size(), table.record_length());
    table.set_cache_records(space.plan.cache_records);
    if (int32_t code = allocate_space(space, records, shape.item_size()); code < 0)
        return fail(code);
    if (int32_t code = write_runs(table, keys, shape, space, file.fd()); code < 0)
        return fail(code);
    if (int32_t code = merge_runs(space, shape, file.fd(), sink); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::index::bulk
