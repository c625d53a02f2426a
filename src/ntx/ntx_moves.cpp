// Moving the position of an NTX file: first, last, next and previous key.
//
// The path holds, at each level above the current one, the entry through whose
// child the path goes down (the rightmost child is entry count); at the current
// level, the current key, which may lie in a leaf or, as a separator, in an inner
// page.
#include <cstring>

#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

namespace {

struct TopPage {
    int32_t count;
    uint32_t child;  // child of the entry at the path's index (0 in a leaf)
};

int32_t read_top(NtxPacket& x, TopPage& top) {
    index::PageRef ref;
    if (int32_t code = read_page(x, x.path.top().page, ref); code < 0) return fail(code);
    const Page page(ref.data(), x.geometry);
    const int32_t i = x.path.top().index;
    top.count = page.count();
    top.child = (i >= 0 && i <= top.count) ? page.child(i) : 0;
    return 0;
}

// Goes down from the entry at the path's index to the first key of its subtree.
int32_t down_leftmost(NtxPacket& x) {
    for (;;) {
        TopPage top{};
        if (int32_t code = read_top(x, top); code < 0) return fail(code);
        if (!top.child) return 0;
        if (!valid_page_offset(top.child, x.file_length)) return fail(DB_ERR_CORRUPT);
        if (int32_t code = x.path.push(top.child, 0); code < 0) return fail(code);
    }
}

// Goes down from the entry at the path's index to the last key of its subtree;
// every page passed is entered at its rightmost entry.
int32_t down_rightmost(NtxPacket& x) {
    for (;;) {
        TopPage top{};
        if (int32_t code = read_top(x, top); code < 0) return fail(code);
        if (!top.child) {
            x.path.top().index = static_cast<int16_t>(top.count - 1);
            return 0;
        }
        if (!valid_page_offset(top.child, x.file_length)) return fail(DB_ERR_CORRUPT);
        if (int32_t code = x.path.push(top.child, 0); code < 0) return fail(code);
        TopPage below{};
        if (int32_t code = read_top(x, below); code < 0) return fail(code);
        x.path.top().index = static_cast<int16_t>(below.count);
    }
}

// Starts the path at the root; 202 when the index holds no key.
int32_t start_at_root(NtxPacket& x, bool at_end) {
    index::PageRef ref;
    if (int32_t code = read_page(x, x.header.root(), ref); code < 0) return fail(code);
    const int32_t count = Page(ref.data(), x.geometry).count();
    if (int32_t code = x.path.start(x.header.root(), at_end ? count : 0); code < 0)
        return fail(code);
    return count ? 0 : DB_WARN_EMPTY;
}

// At the end of a move that ran off one end: on the first or last key, 203.
int32_t ran_off(NtxPacket& x, bool at_end) {
    const int32_t code = at_end ? _DBclGoLastKey(x) : _DBclGoFirstKey(x);
    return code == 0 ? DB_WARN_NO_MORE_KEYS : code;
}

}  // namespace

int32_t _DBclGoFirstKey(NtxPacket& x) {
    const int32_t code = start_at_root(x, false);
    if (code != 0) return code < 0 ? fail(code) : code;
    return down_leftmost(x);
}

int32_t _DBclGoLastKey(NtxPacket& x) {
    const int32_t code = start_at_root(x, true);
    if (code != 0) return code < 0 ? fail(code) : code;
    return down_rightmost(x);
}

int32_t _DBclGoNextKey(NtxPacket& x) {
    if (x.path.empty()) return _DBclGoFirstKey(x);
    x.path.top().index++;
    TopPage top{};
    if (int32_t code = read_top(x, top); code < 0) return fail(code);
    if (top.child && x.path.top().index <= top.count) {
        if (!valid_page_offset(top.child, x.file_length)) return fail(DB_ERR_CORRUPT);
        if (int32_t code = x.path.push(top.child, 0); code < 0) return fail(code);
        return down_leftmost(x);
    }
    while (x.path.top().index >= top.count) {
        if (x.path.level() == 0) return ran_off(x, true);
        x.path.pop();
        if (int32_t code = read_top(x, top); code < 0) return fail(code);
    }
    return 0;
}

int32_t _DBclGoPreviousKey(NtxPacket& x) {
    if (x.path.empty()) return _DBclGoLastKey(x);
    TopPage top{};
    if (int32_t code = read_top(x, top); code < 0) return fail(code);
    if (top.child) {
        if (!valid_page_offset(top.child, x.file_length)) return fail(DB_ERR_CORRUPT);
        if (int32_t code = x.path.push(top.child, 0); code < 0) return fail(code);
        TopPage below{};
        if (int32_t code = read_top(x, below); code < 0) return fail(code);
        x.path.top().index = static_cast<int16_t>(below.count);
        return down_rightmost(x);
    }
    while (--x.path.top().index < 0) {
        if (x.path.level() == 0) return ran_off(x, false);
        x.path.pop();
    }
    return 0;
}

int32_t report_position(NtxPacket& x, char* key, uint32_t* recno) {
    if (x.path.empty()) return DB_WARN_NO_MORE_KEYS;
    index::PageRef ref;
    if (int32_t code = read_page(x, x.path.top().page, ref); code < 0) return fail(code);
    const Page page(ref.data(), x.geometry);
    const int32_t i = x.path.top().index;
    if (i < 0 || i >= page.count()) return DB_WARN_NO_MORE_KEYS;
    std::memcpy(key, page.key(i), static_cast<std::size_t>(x.key_size()));
    key[x.key_size()] = '\0';
    *recno = page.recno(i);
    return 0;
}

}  // namespace xbdb::ntx
