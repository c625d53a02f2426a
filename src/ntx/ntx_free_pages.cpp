// The free-page chain of an NTX file: pages given back by merges and by a collapsing
// root, linked through their first 4 bytes from the header's free_page, taken again
// most recently freed first.
#include "core/failure.hpp"
#include "ntx/ntx_update.hpp"
#include "os/file_io.hpp"

namespace xbdb::ntx {

namespace {

int32_t note_free_page(NtxPacket& x, uint32_t offset) {
    x.header.set_free_page(offset);
    if (!x.unbuffered()) {
        x.modified = true;
        return 0;
    }
    if (int32_t code = write_free_page(x); code < 0) return fail(code);
    return 0;
}

int32_t page_at_end(NtxPacket& x, int64_t& at) {
    at = (static_cast<int64_t>(x.file_length) + kPageSize - 1) / kPageSize * kPageSize;
    if (at + kPageSize > os::kMaxPosition) return fail(DB_ERR_SEEK);
    if (int32_t code = os::set_file_size(x.fd, static_cast<int32_t>(at + kPageSize)); code < 0)
        return fail(code);
    x.file_length = static_cast<int32_t>(at + kPageSize);
    return 0;
}

// The head of the chain; its link is checked before it becomes the new head.
int32_t page_from_chain(NtxPacket& x, int64_t& at) {
    at = x.header.free_page();
    if (!valid_page_offset(at, x.file_length)) return fail(DB_ERR_CORRUPT);
    index::PageRef ref;
    if (int32_t code = x.cache.fetch(at, ref, false); code < 0) return fail(code);
    const uint32_t next = le32(ref.data());
    if (next != 0 && (next == at || !valid_page_offset(next, x.file_length)))
        return fail(DB_ERR_CORRUPT);
    if (int32_t code = note_free_page(x, next); code < 0) return fail(code);
    return 0;
}

}  // namespace

int32_t new_page(NtxPacket& x, index::PageRef& out) {
    int64_t at = 0;
    const int32_t code = x.header.free_page() ? page_from_chain(x, at) : page_at_end(x, at);
    if (code < 0) return fail(code);
    if (int32_t c = x.cache.fresh(at, out); c < 0) return fail(c);
    Page(out.data(), x.geometry).format_empty();
    if (!x.unbuffered()) x.modified = true;
    return 0;
}

int32_t free_page(NtxPacket& x, index::PageRef& page) {
    put_le32(page.data(), x.header.free_page());
    // The bytes are no tree page any more: should anything read them as one, they
    // must pass the checks again.
    page.frame()->state &= static_cast<uint8_t>(~index::kChecked);
    if (int32_t code = note_free_page(x, static_cast<uint32_t>(page.offset())); code < 0)
        return fail(code);
    if (int32_t code = write_page(x, page); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::ntx
