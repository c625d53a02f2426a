// The exported insertion and deletion calls of the NTX family.
//
// With automatic locking (shared, flag 0x08) each call holds the index lock for its
// whole run unless the caller already holds it. Every call ends without a position
// and, in shared unbuffered mode, without any cached page.
#include "core/failure.hpp"
#include "ntx/ntx_update.hpp"

namespace xbdb::ntx {
namespace {

using Update = int32_t (*)(NtxPacket&, const char*, uint32_t);

int32_t update_under_lock(NtxPacket& x, Update update, const char* key, uint32_t recno) {
    const bool take = (x.flags & index::kFlagLockUpdates) && !x.locked();
    if (take) {
        if (int32_t code = _DBclLockIndex(x); code < 0) return fail(code);
    }
    int32_t code = refresh_if_stale(x);
    if (code >= 0) code = update(x, key, recno);
    if (take) {
        if (int32_t released = _DBclUnLockIndex(x); released < 0) log_again(released);
    }
    return code;
}

int32_t run_update(int32_t handle, const char* key, uint32_t recno, Update update) {
    if (!key) return fail(DB_ERR_NULL);
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    if (x->read_only()) return fail(DB_ERR_READ_ONLY);
    const int32_t code = update_under_lock(*x, update, key, recno);
    x->path.clear();
    x->saved_recno = 0;
    _DBclClearPageBuffer(*x);
    if (code < 0) return fail(code);
    DBerrno = code;
    return code;
}

}  // namespace
}  // namespace xbdb::ntx

using namespace xbdb;
using namespace xbdb::ntx;

extern "C" {

int32_t DBclAddKey(int32_t handle, const char* key, uint32_t recno) {
    return run_update(handle, key, recno, add_key);
}

int32_t DBclDeleteKey(int32_t handle, const char* key, uint32_t recno) {
    return run_update(handle, key, recno, delete_key);
}

}  // extern "C"
