#include "ntx/checker.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

namespace {

using Text = std::basic_string<char, std::char_traits<char>, index::HostAllocator<char>>;
using Pair = std::pair<Text, uint32_t>;
template <class T>
using List = std::vector<T, index::HostAllocator<T>>;

constexpr uint8_t kInTree = 1;
constexpr uint8_t kFree = 2;

class Walk {
public:
    Walk(NtxPacket& x, const CheckOptions& o, index::ProblemList& out)
        : x_(x), options_(o), out_(out),
          marks_(static_cast<std::size_t>(x.file_length / kPageSize) + 1, 0) {}

    void tree() { page(x_.header.root(), 0, true); }
    void free_chain();
    void orphans();
    List<Pair>& entries() { return entries_; }

private:
    void page(int64_t offset, int16_t depth, bool rightmost);
    bool claim(int64_t offset, int64_t from);
    void entry(const Page& p, int32_t i, int64_t offset);
    void leaf_depth(int64_t offset, int16_t depth);

    NtxPacket& x_;
    const CheckOptions& options_;
    index::ProblemList& out_;
    List<uint8_t> marks_;
    List<Pair> entries_;
    Text last_;
    bool have_last_ = false;
    int16_t leaf_level_ = -1;
};

// Marks a page as part of the tree; false when it cannot be (outside the file,
// reached before).
bool Walk::claim(int64_t offset, int64_t from) {
    if (!valid_page_offset(offset, x_.file_length)) {
        out_.add(from, "child %lld is no page of the file", static_cast<long long>(offset));
        return false;
    }
    uint8_t& mark = marks_[static_cast<std::size_t>(offset / kPageSize)];
    if (mark) {
        out_.add(offset, "page reached a second time");
        return false;
    }
    mark = kInTree;
    return true;
}

void Walk::entry(const Page& p, int32_t i, int64_t offset) {
    Text key(p.key(i), static_cast<std::size_t>(x_.key_size()));
    if (have_last_ && key < last_) out_.add(offset, "key %d sorts before the key preceding it", i);
    last_ = key;
    have_last_ = true;
    entries_.emplace_back(std::move(key), p.recno(i));
}

void Walk::leaf_depth(int64_t offset, int16_t depth) {
    if (leaf_level_ < 0) leaf_level_ = depth;
    if (depth != leaf_level_)
        out_.add(offset, "leaf at depth %d, the first leaf is at %d", depth, leaf_level_);
}

void Walk::page(int64_t offset, int16_t depth, bool rightmost) {
    if (depth >= x_.path.capacity()) return out_.add(offset, "tree deeper than %d levels", depth);
    if (depth == 0 && !claim(offset, 0)) return;
    // A copy, so that no page stays held while the children are walked.
    char bytes[kPageSize];
    {
        index::PageRef ref;
        if (x_.cache.fetch(offset, ref, false) < 0) return out_.add(offset, "page cannot be read");
        std::memcpy(bytes, ref.data(), sizeof bytes);
    }
    const bool is_root = depth == 0;
    if (ntx::check_page(bytes, x_.geometry, is_root) < 0)
        return out_.add(offset, "damaged page (count or offset table)");
    const Page p(bytes, x_.geometry);
    const int32_t count = p.count();
    if (!is_root && count < x_.geometry.half_page && (options_.strict_fill || !rightmost))
        out_.add(offset, "holds %d keys, fewer than %d", count, x_.geometry.half_page);
    const bool inner = p.inner();
    for (int32_t i = 0; i <= count; ++i) {
        if ((p.child(i) != 0) != inner) out_.add(offset, "entry %d: leaf and inner entries mixed", i);
        if (inner && p.child(i) != 0 && claim(p.child(i), offset))
            page(p.child(i), static_cast<int16_t>(depth + 1), rightmost && i == count);
        if (i < count) entry(p, i, offset);
    }
    if (!inner) leaf_depth(offset, depth);
}

void Walk::free_chain() {
    int64_t at = x_.header.free_page();
    for (std::size_t steps = 0; at != 0; ++steps) {
        if (steps >= marks_.size()) return out_.add(0, "free-page chain does not end");
        if (!valid_page_offset(at, x_.file_length))
            return out_.add(0, "free-page chain leads to %lld", static_cast<long long>(at));
        uint8_t& mark = marks_[static_cast<std::size_t>(at / kPageSize)];
        if (mark) return out_.add(at, mark == kFree ? "free-page chain loops" : "free page in the tree");
        mark = kFree;
        index::PageRef ref;
        if (x_.cache.fetch(at, ref, false) < 0) return out_.add(at, "free page cannot be read");
        at = le32(ref.data());
    }
}

void Walk::orphans() {
    for (std::size_t n = 1; n < marks_.size(); ++n)
        if (!marks_[n] && static_cast<int64_t>(n + 1) * kPageSize <= x_.file_length)
            out_.add(static_cast<int64_t>(n) * kPageSize, "page neither in the tree nor free");
}

// Every record's key with its record number, exactly once.
void check_table(int32_t table, int32_t handle, List<Pair> entries, index::ProblemList& out) {
    int32_t records = 0;
    if (DBGetRecordCount(table, &records) < 0) return out.add(0, "table cannot be read");
    std::sort(entries.begin(), entries.end());
    if (static_cast<int64_t>(entries.size()) != records)
        out.add(0, "%d keys for %d records", static_cast<int>(entries.size()), records);
    for (int32_t r = 1; r <= records; ++r) {
        char* key = nullptr;
        if (DBGetRecord(table, r) < 0 || DBclMakeKey(table, handle, &key) < 0) {
            out.add(0, "record %d: no key", r);
            continue;
        }
        const auto* x = static_cast<NtxPacket*>(packet_of(handle, Kind::ntx));
        char padded[index::kKeyBufferSize];
        index::pad_key(padded, key, x->key_size());
        DBFreeMemory(key, "checker", 0);
        const Pair wanted(Text(padded, static_cast<std::size_t>(x->key_size())),
                          static_cast<uint32_t>(r));
        const auto [lo, hi] = std::equal_range(entries.begin(), entries.end(), wanted);
        if (hi - lo != 1) out.add(0, "record %d has its key %d times", r, static_cast<int>(hi - lo));
    }
}

}  // namespace

index::ProblemList check_index(int32_t handle, const CheckOptions& options) {
    index::ProblemList out;
    auto* x = static_cast<NtxPacket*>(packet_of(handle, Kind::ntx));
    if (!x) {
        out.add(0, "handle %d is no open NTX file", handle);
        return out;
    }
    x->path.clear();
    Walk walk(*x, options, out);
    walk.tree();
    walk.free_chain();
    if (options.orphans) walk.orphans();
    if (options.table >= 0) check_table(options.table, handle, std::move(walk.entries()), out);
    _DBclClearPageBuffer(*x);
    return out;
}

}  // namespace xbdb::ntx
