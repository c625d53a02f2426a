// The header's changing fields (version, root, free_page), flushing, and the index
// lock of an NTX file.
#include <cstring>
#include <span>

#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"
#include "os/file_io.hpp"

namespace xbdb::ntx {

namespace {

int32_t refresh_file_length(NtxPacket& x) {
    const int32_t saved = DBerrno;
    if (int32_t code = os::file_length(x.fd, &x.file_length); code < 0) return fail(code);
    DBerrno = saved;
    return 0;
}

int32_t write_header_bytes(NtxPacket& x, int at, int size) {
    std::span<const char> bytes(reinterpret_cast<const char*>(x.header.bytes + at),
                                static_cast<std::size_t>(size));
    if (int32_t code = os::write_at(x.fd, at, bytes, x.family_word != 0); code < 0)
        return fail(code);
    return 0;
}

}  // namespace

// The version counter tells whether another process wrote the header since this
// one last read or wrote it; only then are its root and free page taken over (a
// process's own unflushed changes are otherwise kept).
int32_t NtxPacket::reread_header(bool& changed) {
    uint8_t fields[kChangingFieldsSize];
    if (int32_t code = os::read_at(fd, kVersionAt, std::span(reinterpret_cast<char*>(fields),
                                                             sizeof fields));
        code < 0)
        return fail(code);
    if (int32_t code = refresh_file_length(*this); code < 0) return fail(code);
    changed = le16(fields) != header.version();
    if (!changed) return 0;
    if (!valid_page_offset(le32(fields + 2), file_length)) return fail(DB_ERR_CORRUPT);
    std::memcpy(header.bytes + kVersionAt, fields, sizeof fields);
    path.clear();
    return 0;
}

int32_t NtxPacket::flush_changes() { return _DBclFlushIndex(*this); }

int32_t _DBclGetIndexHeader(NtxPacket& x) {
    if (int32_t code = index::sync_with_file(x); code < 0) return fail(code);
    return 0;
}

int32_t refresh_if_stale(NtxPacket& x) {
    if (!x.header_stale()) return 0;
    if (int32_t code = _DBclGetIndexHeader(x); code < 0) return fail(code);
    return 0;
}

// Dirty pages, then the header with the version raised. A shared file whose lock is
// not held is locked for the duration.
int32_t _DBclFlushIndex(NtxPacket& x) {
    if (x.modified) {
        const bool take = x.shared() && !x.locked();
        if (take) {
            if (int32_t code = index::lock_range(x); code < 0) return fail(code);
        }
        int32_t code = x.cache.write_dirty();
        if (code >= 0) {
            x.header.set_version(static_cast<uint16_t>(x.header.version() + 1));
            code = write_header_bytes(x, kVersionAt, kChangingFieldsSize);
        }
        if (code >= 0) x.modified = false;
        if (take) index::unlock_range(x);
        if (code < 0) return fail(code);
    }
    if (int32_t code = os::flush_file(x.fd); code < 0) return fail(code);
    return 0;
}

int32_t _DBclLockIndex(NtxPacket& x) {
    if (int32_t code = index::take_index_lock(x); code < 0) return fail(code);
    return 0;
}

int32_t _DBclUnLockIndex(NtxPacket& x) {
    if (int32_t code = index::release_index_lock(x); code < 0) return fail(code);
    return 0;
}

int32_t write_version_and_root(NtxPacket& x) {
    x.header.set_version(static_cast<uint16_t>(x.header.version() + 1));
    if (int32_t code = write_header_bytes(x, kVersionAt, 6); code < 0) return fail(code);
    return 0;
}

int32_t write_free_page(NtxPacket& x) {
    if (int32_t code = write_header_bytes(x, kFreePageAt, 4); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::ntx
