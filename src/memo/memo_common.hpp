// What the DBT and FPT memo families share: the packet flags, the open-mode rules,
// the lock of a memo file, the automatic lock around a put and the file names of a
// pack.
//
// A memo packet keeps in the common file header:
//   flags        bit 0 read-only, bit 1 unbuffered (always set for memo files),
//                bit 2 shared, bit 3 automatic locking, bit 5 header stale
//   family_word  the write-through word: 1 when opened with 0x200, passed as the
//                flush argument of every write
//   lock_state   0 unlocked, 4 locked
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "core/memory.hpp"
#include "core/state.hpp"

namespace xbdb::memo {

constexpr uint8_t kFlagUnbuffered = 0x02;
constexpr uint8_t kFlagAutoLock = 0x08;
constexpr uint8_t kFlagStale = 0x20;
constexpr uint8_t kLocked = 4;

// The one byte range that guards a memo file's header and allocation.
struct LockRegion {
    uint32_t offset;
    int32_t length;
};

// The open mode with 0x800 expanded into 0x600 (and dropped again when read-only).
int32_t adjust_mode(int32_t mode);
// Packet flags beyond the read-only and shared bits that the host open sets.
uint8_t flags_for(int32_t adjusted_mode, bool shared);
// The open mode that gives a reopened file the same flags as packet p (dialect added
// by the caller).
int32_t mode_from_flags(const Packet& p);

// Takes the region exclusively (lock state 4) or releases it (lock state 0, and the
// header of a shared file becomes stale).
int32_t lock_region(Packet& p, LockRegion region);
int32_t unlock_region(Packet& p, LockRegion region);

// The exported lock and unlock calls of both memo families: check the handle, then
// take the lock of a shared file not yet locked, or release the lock of a shared
// file. Check returns the family's packet of the handle or null; Lock and Unlock
// are the family's lock calls on that packet.
template <class Check, class Lock>
int32_t lock_call(int32_t handle, Check check, Lock lock) {
    auto* m = check(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (m->shared() && !m->lock_state)
        if (int32_t code = lock(*m); code < 0) return fail(code);
    return DBerrno;
}

template <class Check, class Unlock>
int32_t unlock_call(int32_t handle, Check check, Unlock unlock) {
    auto* m = check(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (m->shared())
        if (int32_t code = unlock(*m); code < 0) return fail(code);
    return DBerrno;
}

// Puts on a shared file need its lock; with automatic locking a put takes it for
// the duration of the call. Begin with start(); the destructor releases what
// start() took.
class PutLock {
public:
    PutLock(Packet& p, LockRegion region, int32_t (*relock)(Packet&))
        : p_(p), region_(region), relock_(relock) {}
    ~PutLock();
    PutLock(const PutLock&) = delete;
    PutLock& operator=(const PutLock&) = delete;
    int32_t start();

private:
    Packet& p_;
    LockRegion region_;
    int32_t (*relock_)(Packet&);  // takes the lock and re-reads the header
    bool took_ = false;
};

// Copies the path into the packet's 80-byte name, cut to fit.
void store_name(Packet& p, const char* name);

// Undoes a failed open: the descriptor, the packet and its slot; handle becomes -1.
void abandon_open(int32_t* handle, Packet* p);
// Closes a memo file: releases its lock if held, closes the descriptor, frees the slot.
int32_t close_memo(int32_t handle, Packet& p, LockRegion region);

// Fills the flags word of a memo information record: bits 0..2 from the packet,
// the caller's other bits kept.
uint32_t info_flags(const Packet& p, uint32_t callers);

}  // namespace xbdb::memo
