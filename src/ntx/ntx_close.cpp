// Closing and flushing an NTX file, and the size of its page cache.
#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"
#include "os/file_io.hpp"

namespace xbdb::ntx {

namespace {

int32_t close_index(int32_t handle, NtxPacket& x) {
    if (!x.unbuffered()) {
        if (int32_t code = _DBclFlushIndex(x); code < 0) return fail(code);
    }
    if (x.locked()) index::unlock_range(x);
    const int32_t closed = os::close_file(x.fd);
    x.fd = -1;
    release_slot(handle);
    if (DBcli == &x) DBcli = nullptr;
    if (closed < 0) return fail(closed);
    return 0;
}

int32_t flush_index(NtxPacket& x) {
    if (x.unbuffered()) return DB_WARN_NOT_BUFFERED;
    if (x.read_only()) return fail(DB_ERR_READ_ONLY);
    if (int32_t code = _DBclFlushIndex(x); code < 0) return fail(code);
    if (x.shared()) x.cache.drop_all();
    return 0;
}

// Fewer buffers: everything is written first, then the pages above the new count
// are let go (the others are read again when needed).
int32_t shrink_cache(NtxPacket& x, int16_t count) {
    if (int32_t code = _DBclFlushIndex(x); code < 0) return fail(code);
    x.cache.shrink(count);
    return 0;
}

int32_t set_cache_size(NtxPacket& x, int32_t* count) {
    const int16_t wanted = static_cast<int16_t>(*count & 0xFFFF);
    if (x.unbuffered()) return 0;
    if (wanted < kFewestBuffers) return fail(DB_ERR_COMMAND);
    if (wanted == x.cache.buffers()) return 0;
    if (wanted < x.cache.buffers()) return shrink_cache(x, wanted);
    const bool complete = x.cache.grow(wanted);
    *count = x.cache.buffers();
    return complete ? 0 : DB_WARN_PARTIAL_ALLOC;
}

}  // namespace
}  // namespace xbdb::ntx

using namespace xbdb;
using namespace xbdb::ntx;

extern "C" {

int32_t DBclCloseIndex(int32_t handle) {
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    if (int32_t code = close_index(handle, *x); code < 0) return fail(code);
    return DBerrno;
}

int32_t DBclFlushIndex(int32_t handle) {
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    const int32_t code = flush_index(*x);
    if (code < 0) return fail(code);
    DBerrno = code;
    return code;
}

int32_t DBclGetSetCacheSize(int32_t handle, int32_t* count, int32_t command) {
    if (!count) return fail(DB_ERR_NULL);
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    if (command == DB_CACHE_GET) {
        *count = x->cache.buffers();
        return 0;
    }
    if (command != DB_CACHE_SET) return fail(DB_ERR_COMMAND);
    const int32_t code = set_cache_size(*x, count);
    if (code < 0) return fail(code);
    DBerrno = code;
    return code;
}

}  // extern "C"
