// Adding a key to an NTX file.
//
// The key goes into a leaf at the place the search finds. A full page splits: the
// new page takes the lower half, the old page keeps the upper half (and its place
// in the parent), and the middle key moves up to be placed in the parent the same
// way, up to a new root when the root itself splits.
#include <cstring>

#include "core/failure.hpp"
#include "ntx/ntx_update.hpp"

namespace xbdb::ntx {

namespace {

// The entry still to be placed at the next level up.
struct Pending {
    char key[index::kKeyBufferSize];
    uint32_t recno = 0;
    uint32_t left = 0;   // child of the pending entry: the page with the lower keys
    uint32_t right = 0;  // child of the entry after it
    bool split = true;
};

// Where the new key goes, from where the search stopped: after the key it stopped
// on (in a leaf: the next index; after an inner key: before the first key of the
// subtree that follows it), or, for an empty index or a key below every key, at the
// very position.
int32_t move_to_insertion_point(NtxPacket& x, int32_t searched) {
    if (searched != DB_WARN_KEY_NOT_FOUND) return 0;
    index::PageRef ref;
    if (int32_t code = read_page(x, x.path.top().page, ref); code < 0) return fail(code);
    const bool leaf = Page(ref.data(), x.geometry).child(x.path.top().index) == 0;
    ref.reset();
    if (leaf) return ++x.path.top().index, 0;
    const int32_t moved = _DBclGoNextKey(x);
    if (moved < 0) return fail(moved);
    if (moved == DB_WARN_NO_MORE_KEYS) ++x.path.top().index;
    return 0;
}

// The entries of a full page with the pending one at index i, as whole slots: the
// 2h + 1 keys, then the rightmost child's slot.
void gather(const Page& page, const Geometry& g, int32_t i, const Pending& p, char* items) {
    const std::size_t size = static_cast<std::size_t>(g.item_size);
    for (int32_t k = 0, out = 0; k <= page.count(); ++k, ++out) {
        if (k == i) {
            char* slot = items + size * out++;
            put_le32(slot + kChildAt, p.left);
            put_le32(slot + kRecnoAt, p.recno);
            std::memcpy(slot + kKeyAt, p.key, static_cast<std::size_t>(g.key_size));
        }
        std::memcpy(items + size * out, page.slot(k), size);
    }
    put_le32(items + size * (i + 1) + kChildAt, p.right);
}

// Fills an empty page with n gathered slots from first, and the rightmost child.
void fill(Page& page, const Geometry& g, const char* items, int32_t first, int32_t n) {
    const std::size_t size = static_cast<std::size_t>(g.item_size);
    for (int32_t k = 0; k < n; ++k) std::memcpy(page.slot(k), items + size * (first + k), size);
    page.set_child(n, le32(items + size * (first + n) + kChildAt));
    page.set_count(n);
}

int32_t split(NtxPacket& x, index::PageRef& full, int32_t i, Pending& p) {
    const Geometry& g = x.geometry;
    const int32_t h = g.half_page;
    index::PageRef fresh;
    if (int32_t code = new_page(x, fresh); code < 0) return fail(code);
    char items[2 * kPageSize];
    Page old_page(full.data(), g);
    gather(old_page, g, i, p, items);
    Page lower(fresh.data(), g);
    fill(lower, g, items, 0, h);
    old_page.format_empty();
    fill(old_page, g, items, h + 1, g.max_items - h);
    const char* middle = items + static_cast<std::size_t>(g.item_size) * h;
    p.recno = le32(middle + kRecnoAt);
    p.left = static_cast<uint32_t>(fresh.offset());
    p.right = static_cast<uint32_t>(full.offset());
    p.split = true;
    std::memcpy(p.key, middle + kKeyAt, static_cast<std::size_t>(g.key_size));
    if (int32_t code = write_page(x, fresh); code < 0) return fail(code);
    if (int32_t code = write_page(x, full); code < 0) return fail(code);
    return 0;
}

int32_t place(NtxPacket& x, int16_t level, Pending& p) {
    p.split = false;
    index::PageRef ref;
    if (int32_t code = read_page(x, x.path.at(level).page, ref); code < 0) return fail(code);
    Page page(ref.data(), x.geometry);
    const int32_t i = x.path.at(level).index;
    if (i < 0 || i > page.count()) return fail(DB_ERR_CORRUPT);
    if (page.count() >= x.geometry.max_items) return split(x, ref, i, p);
    page.open_slot(i);
    page.set_child(i, p.left);
    page.set_entry(i, p.recno, p.key);
    page.set_child(i + 1, p.right);
    page.set_count(page.count() + 1);
    if (int32_t code = write_page(x, ref); code < 0) return fail(code);
    return 0;
}

int32_t new_root(NtxPacket& x, const Pending& p) {
    index::PageRef ref;
    if (int32_t code = new_page(x, ref); code < 0) return fail(code);
    Page page(ref.data(), x.geometry);
    page.set_child(0, p.left);
    page.set_entry(0, p.recno, p.key);
    page.set_child(1, p.right);
    page.set_count(1);
    if (int32_t code = write_page(x, ref); code < 0) return fail(code);
    x.header.set_root(static_cast<uint32_t>(ref.offset()));
    if (!x.unbuffered()) x.modified = true;
    return 0;
}

}  // namespace

int32_t add_key(NtxPacket& x, const char* key, uint32_t recno) {
    Pending p;
    index::pad_key(p.key, key, x.key_size());
    index::SearchKey k;
    k.prepare(p.key, x.key_size(), !x.header.unique(), recno);
    k.length = x.key_size();
    const int32_t searched = _DBclKeySearch(x, k);
    if (searched < 0) return fail(searched);
    if (searched == 0) return DB_WARN_EXISTS;
    if (int32_t code = move_to_insertion_point(x, searched); code < 0) return fail(code);
    p.recno = recno;
    for (int16_t level = x.path.level(); p.split && level >= 0; --level) {
        if (int32_t code = place(x, level, p); code < 0) return fail(code);
    }
    if (p.split) {
        if (int32_t code = new_root(x, p); code < 0) return fail(code);
    }
    if (x.unbuffered()) {
        if (int32_t code = write_version_and_root(x); code < 0) return fail(code);
    }
    return 0;
}

}  // namespace xbdb::ntx
