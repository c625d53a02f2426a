// Open modes and packet flags of the single-file index families (NTX, NDX).
//
// The low byte of the mode names the family's file variant; above it:
//   0x100 read-only, 0x200 unbuffered and every write flushed, 0x400 shared,
//   0x800 lock around every update (implies 0x200 and 0x400, dropped again when the
//   file is read-only), 0x1000 unbuffered without flushing.
// The packet flags byte keeps bits 0 (read-only) and 2 (shared) of the common header.
#pragma once

#include <cstdint>

#include "core/api.hpp"

namespace xbdb::index {

constexpr uint8_t kFlagUnbuffered = 0x02;   // few buffers, pages written at once
constexpr uint8_t kFlagLockUpdates = 0x08;  // lock the index around every update
constexpr uint8_t kFlagHeaderStale = 0x20;  // re-read the header before the next use

// The mode with the automatic-locking bit expanded.
constexpr int32_t adjust_open_mode(int32_t mode) {
    if (mode & DB_OPEN_AUTOLOCK) {
        mode |= DB_OPEN_SHARED | DB_OPEN_UNBUFFERED;
        if (mode & DB_OPEN_READONLY) mode &= ~DB_OPEN_AUTOLOCK;
    }
    return mode;
}

// Flags beyond read-only and shared (which the host open sets) for an adjusted mode.
constexpr uint8_t mode_flags(int32_t mode) {
    const bool shared = mode & DB_OPEN_SHARED;
    uint8_t flags = 0;
    if (mode & (DB_OPEN_UNBUFFERED | DB_OPEN_UNBUFFERED_NOFLUSH)) flags |= kFlagUnbuffered;
    if ((mode & DB_OPEN_AUTOLOCK) && shared) flags |= kFlagLockUpdates;
    if (shared) flags |= kFlagHeaderStale;
    return flags;
}

// The write-through word: every write of the file is flushed.
constexpr int16_t mode_flush_word(int32_t mode) { return (mode & DB_OPEN_UNBUFFERED) ? 1 : 0; }

}  // namespace xbdb::index
