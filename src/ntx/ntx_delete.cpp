// Deleting a key from an NTX file.
//
// A key in an inner page is replaced by its in-order predecessor, which is then
// deleted from its leaf instead. A page other than the root that falls below
// half_page keys takes one key from a sibling through the parent (a rotation), or,
// when both together fit in one page, merges with it: the left page of the pair
// receives the separator and every entry of the right one, the emptied page goes
// onto the free-page chain, and the parent loses the separator in turn. A root left
// without keys but with a child hands the root over to that child.
#include "core/failure.hpp"
#include "ntx/ntx_update.hpp"

namespace xbdb::ntx {

namespace {

// The pages of one rebalancing step: the short page, its parent, its sibling.
struct Family {
    index::PageRef short_page;
    index::PageRef parent;
    index::PageRef sibling;
    int16_t parent_level = 0;
    int32_t separator = 0;  // parent entry between the short page and its sibling
    bool right = false;     // the sibling is the right one
};

int32_t write_all(NtxPacket& x, index::PageRef& a, index::PageRef& b, index::PageRef& c) {
    if (int32_t code = write_page(x, a); code < 0) return fail(code);
    if (int32_t code = write_page(x, b); code < 0) return fail(code);
    if (c) {
        if (int32_t code = write_page(x, c); code < 0) return fail(code);
    }
    return 0;
}

// One key moves from the sibling through the parent into the short page.
int32_t borrow(NtxPacket& x, Family& f) {
    const Geometry& g = x.geometry;
    Page s(f.short_page.data(), g), p(f.parent.data(), g), sib(f.sibling.data(), g);
    const int32_t sep = f.separator;
    if (f.right) {
        const int32_t n = s.count();
        s.set_entry(n, p.recno(sep), p.key(sep));  // keeps the old rightmost child
        s.set_count(n + 1);
        s.set_child(n + 1, sib.child(0));
        p.set_entry(sep, sib.recno(0), sib.key(0));
        sib.remove_entry(0);
    } else {
        const int32_t last = sib.count() - 1;
        s.open_slot(0);
        s.set_child(0, sib.child(sib.count()));
        s.set_entry(0, p.recno(sep), p.key(sep));
        s.set_count(s.count() + 1);
        p.set_entry(sep, sib.recno(last), sib.key(last));
        sib.set_count(last);  // its last entry's child becomes its rightmost child
    }
    return write_all(x, f.sibling, f.parent, f.short_page);
}

// The left page of the pair receives the separator and all of the right page.
int32_t merge(NtxPacket& x, Family& f, bool& propagate) {
    const Geometry& g = x.geometry;
    index::PageRef& receiver = f.right ? f.short_page : f.sibling;
    index::PageRef& emptied = f.right ? f.sibling : f.short_page;
    Page r(receiver.data(), g), e(emptied.data(), g), p(f.parent.data(), g);
    const int32_t sep = f.separator;
    const int32_t n = r.count();
    r.set_entry(n, p.recno(sep), p.key(sep));
    for (int32_t j = 0; j <= e.count(); ++j) r.copy_entry(n + 1 + j, e, j);
    r.set_count(n + e.count() + 1);
    p.set_child(sep, 0);
    p.set_child(sep + 1, static_cast<uint32_t>(receiver.offset()));
    x.path.at(f.parent_level).index = static_cast<int16_t>(sep);
    propagate = true;
    index::PageRef none;
    if (int32_t code = write_all(x, receiver, f.parent, none); code < 0) return fail(code);
    if (int32_t code = free_page(x, emptied); code < 0) return fail(code);
    return 0;
}

int32_t rebalance(NtxPacket& x, int16_t level, index::PageRef& short_page, bool& propagate) {
    Family f;
    f.short_page = std::move(short_page);
    f.parent_level = static_cast<int16_t>(level - 1);
    if (int32_t code = read_page(x, x.path.at(f.parent_level).page, f.parent); code < 0)
        return fail(code);
    const Page p(f.parent.data(), x.geometry);
    const int32_t at = x.path.at(f.parent_level).index;
    f.right = at < p.count();
    f.separator = f.right ? at : at - 1;
    int64_t sibling = 0;
    if (int32_t code = child_of(x, p, f.right ? at + 1 : at - 1, sibling); code < 0)
        return fail(code);
    if (int32_t code = read_page(x, sibling, f.sibling); code < 0) return fail(code);
    const int32_t together = Page(f.sibling.data(), x.geometry).count() +
                             Page(f.short_page.data(), x.geometry).count();
    if (together < x.geometry.max_items) return merge(x, f, propagate);
    return borrow(x, f);
}

// Copies the in-order predecessor of the inner entry at level over it, and leaves
// the path on that predecessor in its leaf.
int32_t take_predecessor(NtxPacket& x, int16_t level) {
    x.path.cut_to(level);
    if (int32_t code = _DBclGoPreviousKey(x); code < 0) return fail(code);
    index::PageRef leaf, inner;
    if (int32_t code = read_page(x, x.path.top().page, leaf); code < 0) return fail(code);
    if (int32_t code = read_page(x, x.path.at(level).page, inner); code < 0) return fail(code);
    const Page from(leaf.data(), x.geometry);
    const int32_t i = x.path.top().index;
    Page(inner.data(), x.geometry).set_entry(x.path.at(level).index, from.recno(i), from.key(i));
    if (int32_t code = write_page(x, inner); code < 0) return fail(code);
    return 0;
}

// Removes the entry on the path at level (or, for an inner key, its predecessor);
// level becomes the level worked on.
int32_t remove_at(NtxPacket& x, int16_t& level, bool& propagate) {
    propagate = false;
    index::PageRef ref;
    if (int32_t code = read_page(x, x.path.at(level).page, ref); code < 0) return fail(code);
    if (Page(ref.data(), x.geometry).child(x.path.at(level).index) != 0) {
        ref.reset();
        if (int32_t code = take_predecessor(x, level); code < 0) return fail(code);
        level = x.path.level();
        if (int32_t code = read_page(x, x.path.at(level).page, ref); code < 0) return fail(code);
    }
    Page page(ref.data(), x.geometry);
    const int32_t i = x.path.at(level).index;
    if (i < 0 || i >= page.count()) return fail(DB_ERR_CORRUPT);
    page.remove_entry(i);
    if (level == 0 || page.count() >= x.geometry.half_page) return write_page(x, ref);
    return rebalance(x, level, ref, propagate);
}

int32_t collapse_root(NtxPacket& x) {
    index::PageRef root;
    if (int32_t code = read_page(x, x.header.root(), root); code < 0) return fail(code);
    const Page page(root.data(), x.geometry);
    if (page.count() != 0 || page.child(0) == 0) return 0;
    int64_t child = 0;
    if (int32_t code = child_of(x, page, 0, child); code < 0) return fail(code);
    x.header.set_root(static_cast<uint32_t>(child));
    if (!x.unbuffered()) x.modified = true;
    if (int32_t code = free_page(x, root); code < 0) return fail(code);
    return 0;
}

}  // namespace

int32_t delete_key(NtxPacket& x, const char* key, uint32_t recno) {
    // The key is padded, as for adding: a shorter text never deletes another key
    // that merely begins with it.
    index::pad_key(index::DBkeybfr1, key, x.key_size());
    index::SearchKey k;
    k.prepare(index::DBkeybfr1, x.key_size(), !x.header.unique(), recno);
    k.length = x.key_size();
    const int32_t searched = _DBclKeySearch(x, k);
    if (searched != 0) return searched < 0 ? fail(searched) : searched;
    bool propagate = false;
    for (int16_t level = x.path.level(); level >= 0; --level) {
        if (int32_t code = remove_at(x, level, propagate); code < 0) return fail(code);
        if (!propagate) break;
    }
    if (int32_t code = collapse_root(x); code < 0) return fail(code);
    if (x.unbuffered()) {
        if (int32_t code = write_version_and_root(x); code < 0) return fail(code);
    }
    return 0;
}

}  // namespace xbdb::ntx
