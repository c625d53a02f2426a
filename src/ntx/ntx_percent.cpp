// Positions as percentages of the index, for scroll bars: the percentage of a
// key, and the key at a percentage. Both split the range 0..100 evenly over the
// entries of each page from the root down (inner pages have count + 1 children).
#include <cstring>

#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

namespace {

constexpr int32_t kWhole = 100;

// Entries a page divides its share among: keys of a leaf, children of an inner page.
int32_t shares(const Page& page) { return page.count() + (page.inner() ? 1 : 0); }

int32_t percent_of_path(NtxPacket& x, int32_t& percent) {
    double p = 0.0;
    double span = kWhole;
    for (int16_t level = 0; level <= x.path.level(); ++level) {
        index::PageRef ref;
        if (int32_t code = read_page(x, x.path.at(level).page, ref); code < 0) return fail(code);
        const int32_t m = shares(Page(ref.data(), x.geometry));
        if (m <= 0) break;
        span /= m;
        p += x.path.at(level).index * span;
    }
    percent = static_cast<int32_t>(p + 0.49);
    return 0;
}

int32_t key_percent(NtxPacket& x, int32_t& percent, const char* key, uint32_t recno) {
    percent = 0;
    index::pad_key(index::DBkeybfr1, key, x.key_size());
    index::SearchKey k;
    k.prepare(key, x.key_size(), recno != 0, recno);
    const int32_t code = _DBclKeySearch(x, k);
    if (code < 0) return fail(code);
    if (code == DB_WARN_EMPTY) return code;
    if (int32_t c = percent_of_path(x, percent); c < 0) return fail(c);
    return code;
}

// One page of the descent: the entry for the percentage, and the percentage left
// for the level below.
int32_t pick_entry(const Page& page, int32_t& percent) {
    if (!page.inner()) {
        const int32_t i = percent * page.count() / kWhole;
        return i == page.count() ? i - 1 : i;
    }
    const int32_t m = page.count() + 1;
    int32_t i = percent * m / kWhole;
    if (i == m) i = page.count();
    percent = (percent * kWhole - i * (kWhole * kWhole) / m) * m / kWhole;
    percent = percent < 0 ? 0 : (percent > kWhole ? kWhole : percent);
    return i;
}

int32_t key_at_percent(NtxPacket& x, int32_t percent, char* key, uint32_t* recno) {
    percent = percent < 0 ? 0 : (percent > kWhole ? kWhole : percent);
    int64_t page_at = x.header.root();
    x.path.clear();
    for (;;) {
        index::PageRef ref;
        if (int32_t code = read_page(x, page_at, ref); code < 0) return fail(code);
        const Page page(ref.data(), x.geometry);
        if (page.count() == 0) return DB_WARN_EMPTY;
        const bool inner = page.inner();
        const int32_t i = pick_entry(page, percent);
        if (int32_t code = x.path.push(page_at, static_cast<int16_t>(i)); code < 0)
            return fail(code);
        if (!inner) break;
        int64_t child = 0;
        if (int32_t code = child_of(x, page, i, child); code < 0) return fail(code);
        page_at = child;
    }
    return report_position(x, key, recno);
}

}  // namespace
}  // namespace xbdb::ntx

using namespace xbdb;
using namespace xbdb::ntx;

extern "C" {

int32_t DBclGetKeyPercent(int32_t handle, int32_t* percent, const char* key, uint32_t recno) {
    if (!percent || !key) return fail(DB_ERR_NULL);
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    int32_t code = refresh_if_stale(*x);
    if (code >= 0) code = key_percent(*x, *percent, key, recno);
    _DBclClearPageBuffer(*x);
    if (code < 0) {
        *percent = 0;
        return fail(code);
    }
    DBerrno = code;
    return code;
}

int32_t DBclGetKeyAtPercent(int32_t handle, int32_t percent, char* key, uint32_t* recno) {
    if (!key || !recno) return fail(DB_ERR_NULL);
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    int32_t code = refresh_if_stale(*x);
    if (code >= 0) code = key_at_percent(*x, percent, key, recno);
    if (x->shared_unbuffered() && code == 0) {
        x->saved_recno = *recno;
        std::memcpy(x->saved_key.get(), key, static_cast<std::size_t>(x->key_size()) + 1);
    }
    _DBclClearPageBuffer(*x);
    if (code < 0) return fail(code);
    DBerrno = code;
    return code;
}

}  // extern "C"
