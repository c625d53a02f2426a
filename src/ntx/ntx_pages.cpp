// Page access of an open NTX file: the handle check and the reads and writes that
// every operation makes through the page cache.
#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

NtxPacket* DBcli = nullptr;

NtxPacket* _DBclLockIndexStruc(int32_t handle) {
    auto* packet = static_cast<NtxPacket*>(packet_of(handle, Kind::ntx));
    if (!packet) {
        DBerrno = DB_ERR_HANDLE;
        return nullptr;
    }
    DBcli = packet;
    DBerrno = 0;
    return packet;
}

int32_t NtxPacket::check_page(int64_t offset, const char* bytes) const {
    return ntx::check_page(bytes, geometry, offset == header.root());
}

int32_t read_page(NtxPacket& x, int64_t offset, index::PageRef& out) {
    if (!valid_page_offset(offset, x.file_length)) return fail(DB_ERR_SEEK);
    if (int32_t code = x.cache.fetch(offset, out); code < 0) return fail(code);
    return 0;
}

// Unbuffered: the page goes to the file now. A shared file whose lock is not held
// keeps no copy, since another process may change the page next.
int32_t write_page(NtxPacket& x, index::PageRef& page) {
    if (x.read_only()) return fail(DB_ERR_READ_ONLY);
    if (!valid_page_offset(page.offset(), x.file_length)) return fail(DB_ERR_SEEK);
    index::Frame& frame = *page.frame();
    if (!x.unbuffered()) {
        x.cache.mark_dirty(frame);
        x.modified = true;
        return 0;
    }
    if (int32_t code = x.cache.write(frame); code < 0) return fail(code);
    if (x.shared() && !x.locked()) x.cache.forget(frame);
    return 0;
}

int32_t child_of(const NtxPacket& x, const Page& page, int32_t i, int64_t& child) {
    child = page.child(i);
    if (!valid_page_offset(child, x.file_length)) return fail(DB_ERR_CORRUPT);
    return 0;
}

void _DBclClearPageBuffer(NtxPacket& x) {
    if (!x.shared_unbuffered()) return;
    x.path.clear();
    x.cache.drop_all();
}

}  // namespace xbdb::ntx
