// The bottom-up tree writer of the bulk builds.
//
// Items arrive in index order. Each level (0 = leaves) fills one page at a time;
// a full page is completed, written and replaced by an empty one, and an entry
// goes up to the level above with the full page as its child: in a B-tree the
// arriving item itself (it separates the full page from the next), in a B+ tree a
// copy of the full leaf's last key (the item then starts the next leaf). A level
// above gains a page the first time an entry reaches it, so the highest level
// always holds at least one key.
//
// At the end the last page of a level may be empty: the item that would have
// started it went up as a separator. It is then given one key by a rotation
// through its parent, the levels settled from the top down so that the parent
// already holds a key when its child is settled:
//
//   before:  parent [... s]          sibling [... t | c]      page [ | below]
//                         s -> sibling          t -> c'
//   after:   parent [... t]          sibling [... | c']       page [s | below]
//                         t -> sibling                               s -> c
//
// the parent's last key s comes down as the page's only key, with the sibling's
// last child c in front of it; the sibling's last key t replaces s in the parent,
// and the sibling's last entry's child c' becomes its last child. The sibling is a
// full page written earlier (at least two keys), so it keeps one or more; every
// page keeps its level, so all leaves stay at one depth.
#include <span>

#include "core/failure.hpp"
#include "index/bulk_build.hpp"
#include "os/file_io.hpp"

namespace xbdb::index::bulk {

int64_t TreeWriter::allocate() {
    const int64_t at = space_.end;
    space_.end += codec_.page_size();
    return at;
}

int32_t TreeWriter::begin_page(int level, int64_t offset) {
    Level& l = levels_[level];
    if (!l.page) {
        l.page = allocate_block(static_cast<std::size_t>(codec_.page_size()));
        if (!l.page) return fail(DB_ERR_MEMORY);
    }
    l.offset = offset;
    codec_.start(l.page.get(), level, offset);
    if (level > top_) top_ = level;
    return 0;
}

int32_t TreeWriter::write(int64_t offset, const char* page) {
    const std::span<const char> bytes(page, static_cast<std::size_t>(codec_.page_size()));
    if (int32_t code = os::write_at(space_.fd, offset, bytes); code < 0) return fail(code);
    return 0;
}

// Completes and writes the full page of level, and starts the next one.
int32_t TreeWriter::close_full(int level, int64_t last_child) {
    Level& l = levels_[level];
    codec_.close(l.page.get(), level, last_child);
    if (int32_t code = write(l.offset, l.page.get()); code < 0) return fail(code);
    if (int32_t code = begin_page(level, allocate()); code < 0) return fail(code);
    return 0;
}

int32_t TreeWriter::push(int level, const char* item, int64_t child) {
    if (level >= kMaxLevels) return fail(DB_ERR_CORRUPT);
    if (level > top_)
        if (int32_t code = begin_page(level, allocate()); code < 0) return fail(code);
    Level& l = levels_[level];
    if (codec_.has_room(l.page.get(), level, item)) {
        codec_.append(l.page.get(), level, item, child);
        return 0;
    }
    const int64_t full = l.offset;
    if (int32_t code = close_full(level, child); code < 0) return fail(code);
    if (int32_t code = push(level + 1, item, full); code < 0) return fail(code);
    return 0;
}

int32_t TreeWriter::put(const char* item) {
    if (top_ < 0)
        if (int32_t code = begin_page(0, space_.first); code < 0) return fail(code);
    Level& leaf = levels_[0];
    if (codec_.has_room(leaf.page.get(), 0, item)) {
        codec_.append(leaf.page.get(), 0, item, 0);
        return 0;
    }
    const int64_t full = leaf.offset;
    if (!codec_.copies_leaf_keys()) {
        if (int32_t code = close_full(0, 0); code < 0) return fail(code);
        if (int32_t code = push(1, item, full); code < 0) return fail(code);
        return 0;
    }
    if (!scratch_) scratch_ = allocate_block(static_cast<std::size_t>(shape_.item_size()));
    if (!scratch_) return fail(DB_ERR_MEMORY);
    int64_t unused = 0;
    codec_.last_entry(leaf.page.get(), scratch_.get(), unused);
    if (int32_t code = close_full(0, 0); code < 0) return fail(code);
    if (int32_t code = push(1, scratch_.get(), full); code < 0) return fail(code);
    codec_.append(leaf.page.get(), 0, item, 0);
    return 0;
}

// Gives the empty last page of level one key from its left sibling through the
// parent (the rotation drawn above).
int32_t TreeWriter::borrow(int level) {
    const std::size_t size = static_cast<std::size_t>(shape_.item_size());
    HostBlock work = allocate_block(static_cast<std::size_t>(codec_.page_size()) + 2 * size);
    if (!work) return fail(DB_ERR_MEMORY);
    char* sibling = work.get();
    char* separator = sibling + codec_.page_size();
    char* moved_up = separator + size;
    char* parent = levels_[level + 1].page.get();
    int64_t sibling_at = 0;
    codec_.last_entry(parent, separator, sibling_at);
    const std::span<char> bytes(sibling, static_cast<std::size_t>(codec_.page_size()));
    if (int32_t code = os::read_at(space_.fd, sibling_at, bytes); code < 0) return fail(code);
    if (codec_.count(sibling) < 2) return fail(DB_ERR_CORRUPT);
    int64_t unused = 0;
    codec_.last_entry(sibling, moved_up, unused);
    codec_.append(levels_[level].page.get(), level, separator, codec_.last_child(sibling));
    codec_.replace_last(parent, moved_up);
    codec_.drop_last(sibling);
    if (int32_t code = write(sibling_at, sibling); code < 0) return fail(code);
    return 0;
}

int32_t TreeWriter::finish(int64_t& root) {
    root = space_.first;
    if (top_ < 0) return 0;
    for (int level = top_ - 1; level >= 0; --level)
        if (codec_.count(levels_[level].page.get()) == 0)
            if (int32_t code = borrow(level); code < 0) return fail(code);
    for (int level = 0; level <= top_; ++level) {
        Level& l = levels_[level];
        codec_.close(l.page.get(), level, level > 0 ? levels_[level - 1].offset : 0);
        if (int32_t code = write(l.offset, l.page.get()); code < 0) return fail(code);
    }
    root = levels_[top_].offset;
    return 0;
}

}  // namespace xbdb::index::bulk
