// The packet flags, open modes, locks, names and close of both memo families.
#include "memo/memo_common.hpp"

#include <cstring>

#include "os/file_io.hpp"

namespace xbdb::memo {

int32_t adjust_mode(int32_t mode) {
    if (mode & DB_OPEN_AUTOLOCK) {
        mode |= DB_OPEN_SHARED | DB_OPEN_UNBUFFERED;
        if (mode & DB_OPEN_READONLY) mode &= ~DB_OPEN_AUTOLOCK;
    }
    return mode;
}

uint8_t flags_for(int32_t adjusted_mode, bool shared) {
    uint8_t flags = kFlagUnbuffered;
    if ((adjusted_mode & DB_OPEN_AUTOLOCK) && shared) flags |= kFlagAutoLock;
    if (shared) flags |= kFlagStale;
    return flags;
}

int32_t mode_from_flags(const Packet& p) {
    int32_t mode = 0;
    if (p.read_only()) mode |= DB_OPEN_READONLY;
    if (p.family_word) mode |= DB_OPEN_UNBUFFERED;
    if (p.shared()) mode |= DB_OPEN_SHARED;
    if (p.flags & kFlagAutoLock) mode |= DB_OPEN_AUTOLOCK;
    return mode;
}

int32_t lock_region(Packet& p, LockRegion region) {
    if (int32_t code = os::lock_data(p.fd, DB_LOCK_EXCLUSIVE, region.offset, region.length);
        code < 0)
        return fail(code);
    p.lock_state = kLocked;
    return 0;
}

int32_t unlock_region(Packet& p, LockRegion region) {
    if (p.lock_state) {
        if (int32_t code = os::lock_data(p.fd, DB_LOCK_RELEASE, region.offset, region.length);
            code < 0)
            return fail(code);
        p.lock_state = 0;
    }
    if (p.shared()) p.flags |= kFlagStale;
    return 0;
}

int32_t PutLock::start() {
    if ((p_.flags & kFlagAutoLock) && !p_.lock_state) {
        if (int32_t code = relock_(p_); code < 0) return fail(code);
        took_ = true;
    }
    if (p_.shared() && !p_.lock_state) return fail(DB_ERR_NOT_LOCKED);
    return 0;
}

PutLock::~PutLock() {
    if (!took_) return;
    // The put's own result is what the caller sees; a failed release is logged.
    const int32_t saved = DBerrno;
    unlock_region(p_, region_);
    DBerrno = saved;
}

void store_name(Packet& p, const char* name) {
    std::strncpy(p.name, name, sizeof p.name - 1);
    p.name[sizeof p.name - 1] = '\0';
}

void abandon_open(int32_t* handle, Packet* p) {
    if (p && p->fd >= 0) os::close_file(p->fd);
    release_slot(*handle);
    *handle = DB_NO_HANDLE;
}

int32_t close_memo(int32_t handle, Packet& p, LockRegion region) {
    int32_t code = 0;
    if (p.lock_state) code = unlock_region(p, region);
    const int32_t closed = os::close_file(p.fd);
    p.fd = -1;
    release_slot(handle);
    if (code < 0) return fail(code);
    if (closed < 0) return fail(closed);
    return 0;
}

uint32_t info_flags(const Packet& p, uint32_t callers) {
    uint32_t bits = 0;
    if (p.read_only()) bits |= DB_INFO_READONLY;
    if (p.shared()) bits |= DB_INFO_SHARED;
    if (p.flags & kFlagUnbuffered) bits |= DB_INFO_UNBUFFERED;
    return (callers & ~7u) | bits;
}

}  // namespace xbdb::memo
