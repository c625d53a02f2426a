// The key search of an NTX file.
//
// The search walks each page from entry 0 while the search key is greater, going
// down where it is smaller. It ends on the first key in index order that matches
// (0), or on the last key that sorts before the search key (204), or on the first
// key when none does (203); 202 for an empty index. Searching by key and record
// number walks on through equal keys, in stored order, to the one with that record
// number.
#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

namespace {

enum class Step { done, go_on };

struct Entry {
    int32_t count;
    int32_t compare;  // search key against the entry's key
    uint32_t recno;
    uint32_t child;
    uint32_t rightmost;
};

int32_t look_at_entry(NtxPacket& x, const index::SearchKey& key, Entry& e) {
    index::PageRef ref;
    if (int32_t code = read_page(x, x.path.top().page, ref); code < 0) return fail(code);
    const Page page(ref.data(), x.geometry);
    const int32_t i = x.path.top().index;
    e = {page.count(), key.compare(page.key(i)), page.recno(i), page.child(i),
         page.child(page.count())};
    return 0;
}

int32_t go_down(NtxPacket& x, uint32_t child) {
    if (!valid_page_offset(child, x.file_length)) return fail(DB_ERR_CORRUPT);
    if (int32_t code = x.path.push(child, 0); code < 0) return fail(code);
    return 0;
}

// Past the last key of a leaf: walk forward while the keys still match the search
// key but not its record number.
int32_t past_leaf_end(NtxPacket& x, const index::SearchKey& key) {
    for (;;) {
        const int32_t moved = _DBclGoNextKey(x);
        if (moved == DB_WARN_NO_MORE_KEYS) return DB_WARN_KEY_NOT_FOUND;
        if (moved < 0) return fail(moved);
        Entry e{};
        if (int32_t code = look_at_entry(x, key, e); code < 0) return fail(code);
        if (e.compare != 0) {
            const int32_t back = _DBclGoPreviousKey(x);
            return back < 0 ? fail(back) : DB_WARN_KEY_NOT_FOUND;
        }
        if (!key.by_recno || e.recno == key.recno) return 0;
    }
}

// The search key is below the leaf entry at the position: the key before it, if
// any, is where the search stops.
int32_t below_leaf_entry(NtxPacket& x) {
    const int32_t moved = _DBclGoPreviousKey(x);
    if (moved < 0) return fail(moved);
    return moved == DB_WARN_NO_MORE_KEYS ? DB_WARN_NO_MORE_KEYS : DB_WARN_KEY_NOT_FOUND;
}

// The comparison that decides the step at an entry: in a search by record number,
// an equal key of another record counts as below the search key in an inner entry
// (go down) and above it in a leaf entry (go on to the next equal key).
int32_t effective_compare(const index::SearchKey& key, const Entry& e) {
    if (e.compare != 0 || !key.by_recno || e.recno == key.recno) return e.compare;
    return e.child ? -1 : 1;
}

// Looks at the entries of the page on top of the path from the path's index on,
// moving along the page while the search key is greater and the page has more keys;
// e is the entry where the search goes down, goes on past the page or ends. The page
// is fetched once for the whole walk along it.
int32_t walk_page(NtxPacket& x, const index::SearchKey& key, Entry& e) {
    index::PageRef ref;
    if (int32_t code = read_page(x, x.path.top().page, ref); code < 0) return fail(code);
    const Page page(ref.data(), x.geometry);
    e.count = page.count();
    e.rightmost = page.child(e.count);
    for (int16_t& i = x.path.top().index;; ++i) {
        e.compare = key.compare(page.key(i));
        e.recno = page.recno(i);
        e.child = page.child(i);
        if (effective_compare(key, e) <= 0 || i + 1 >= e.count) return 0;
    }
}

// One step from the entry the walk along the page stopped at; result is the
// search's result once it ends.
int32_t search_step(NtxPacket& x, const index::SearchKey& key, Step& step, int32_t& result) {
    Entry e{};
    if (int32_t code = walk_page(x, key, e); code < 0) return fail(code);
    int32_t cmp = e.compare;
    step = Step::go_on;
    if (cmp == 0 && !key.by_recno) {
        if (e.child) return go_down(x, e.child);
        step = Step::done;
        return result = 0;
    }
    if (cmp == 0) {
        if (e.recno == key.recno) return step = Step::done, result = 0;
        cmp = e.child ? -1 : 1;  // equal key, other record: on to the next equal key
    }
    if (cmp < 0) {
        if (e.child) return go_down(x, e.child);
        step = Step::done;
        return result = below_leaf_entry(x);
    }
    if (x.path.top().index + 1 < e.count) return ++x.path.top().index, 0;
    if (e.rightmost) {
        x.path.top().index = static_cast<int16_t>(e.count);
        return go_down(x, e.rightmost);
    }
    step = Step::done;
    return result = past_leaf_end(x, key);
}

}  // namespace

int32_t _DBclKeySearch(NtxPacket& x, const index::SearchKey& key) {
    x.path.clear();
    index::PageRef root;
    if (int32_t code = read_page(x, x.header.root(), root); code < 0) return fail(code);
    const bool empty = Page(root.data(), x.geometry).count() == 0;
    root.reset();
    if (int32_t code = x.path.start(x.header.root()); code < 0) return fail(code);
    if (empty) return DB_WARN_EMPTY;
    for (;;) {
        Step step = Step::go_on;
        int32_t result = 0;
        if (int32_t code = search_step(x, key, step, result); code < 0) return fail(code);
        if (step == Step::done) return result;
    }
}

}  // namespace xbdb::ntx
