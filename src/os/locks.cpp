// Byte-range locks between processes, and the table of the locks this process holds.
//
// Locks are POSIX advisory record locks taken with the non-blocking F_SETLK on a
// 64-bit struct flock: offsets are unsigned 32-bit values (up to 0xFFFFFFFF) and
// reach the host zero-extended and identical in every process, in 32-bit builds
// too. Only exclusive locks are entered in the process lock table; shared (read)
// locks are not recorded.
#include <algorithm>
#include <cerrno>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "core/state.hpp"
#include "os/errno_map.hpp"
#include "os/host.hpp"

namespace xbdb::os {
namespace {

static_assert(sizeof(off_t) == 8, "lock offsets need a 64-bit off_t (_FILE_OFFSET_BITS=64)");

constexpr ErrnoRule kLockErrors[] = {
    {EACCES, DB_ERR_LOCK_VIOLATION}, {EAGAIN, DB_ERR_LOCK_VIOLATION},
    {EBADF, DB_ERR_HANDLE}, {EDEADLK, DB_ERR_SHARING_OVERFLOW},
};

// Some file servers accept only offsets below 2^30: the top two bits move down to
// bits 29 and 28.
uint32_t host_offset(uint32_t offset) {
    if (!DBsamba) return offset;
    return (offset & 0x3FFFFFFFu) | ((offset & 0xC0000000u) >> 2);
}

short lock_type(int32_t mode) {
    switch (mode) {
        case DB_LOCK_EXCLUSIVE: return F_WRLCK;
        case DB_LOCK_SHARED: return F_RDLCK;
        default: return F_UNLCK;
    }
}

bool same_range(const LockEntry& e, int32_t fd, uint32_t offset, int32_t length) {
    return e.offset == offset && e.fd == fd && e.length == length;
}

}  // namespace

void _flag_lock(int32_t fd, int32_t mode, uint32_t offset, int32_t length) {
    LockEntry* begin = DBbase.locks;
    LockEntry* end = begin + DBbase.locks_used;
    if (mode == DB_LOCK_EXCLUSIVE) {
        *end = LockEntry{offset, length, fd};
        _DBSetLocksUsed(DBbase.locks_used + 1);
    } else if (mode == DB_LOCK_RELEASE) {
        LockEntry* hit = std::find_if(begin, end, [&](const LockEntry& e) {
            return same_range(e, fd, offset, length);
        });
        if (hit == end) return;
        std::copy(hit + 1, end, hit);
        _DBSetLocksUsed(DBbase.locks_used - 1);
    }
}

}  // namespace xbdb::os

using namespace xbdb;
using namespace xbdb::os;

extern "C" {

int32_t DBosLockData(int32_t descriptor, int32_t mode, uint32_t offset, int32_t length) {
    if (mode == DB_LOCK_EXCLUSIVE &&
        (!DBbase.locks || DBbase.locks_used >= DBbase.lock_capacity))
        return fail(DB_ERR_LOCK_TABLE_FULL);

    struct flock request = {};
    request.l_type = lock_type(mode);
    request.l_whence = SEEK_SET;
    request.l_start = static_cast<off_t>(host_offset(offset));
    request.l_len = static_cast<off_t>(length);

    // R <= 0: one try and no wait. Otherwise up to R tries, each refused try (the
    // last one too) followed by a one-second wait.
    const int32_t tries = DBlock_retry > 0 ? DBlock_retry : 1;
    int err = 0;
    for (int32_t attempt = 0; attempt < tries; ++attempt) {
        if (host().fcntl_lock(descriptor, F_SETLK, &request) == 0) {
            _flag_lock(descriptor, mode, offset, length);
            return DBerrno;
        }
        err = errno;
        if (DBlock_retry > 0) host().sleep_seconds(1);
    }
    return fail(translate(kLockErrors, err));
}

int32_t DBosTestLock(int32_t descriptor, uint32_t offset, int32_t length) {
    const LockEntry* begin = DBbase.locks;
    const LockEntry* end = begin ? begin + DBbase.locks_used : begin;
    return std::any_of(begin, end,
                       [&](const LockEntry& e) { return same_range(e, descriptor, offset, length); })
               ? 1
               : 0;
}

}  // extern "C"
