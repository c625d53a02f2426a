// DBT memo files: the two on-disk layouts, the dialects that select them and the
// packet of an open file.
//
// dBASE III layout (little-endian), 512-byte blocks:
//   off  size field        meaning
//     0     4 next free    block at which the next new text is appended (1 when new)
//     4   508 filler       not significant
//   512   ... blocks       block 1 onwards
// A text starts at a block boundary and is its characters followed by 0x1A 0x1A; it
// runs on through consecutive blocks. Readers stop at the first 0x1A and read at
// most 128 blocks, so the characters must end within 65536 bytes.
//
// dBASE IV layout (little-endian), block 0 is the header:
//   off  size field        meaning
//     0     4 free head    first free run, or the block count when there is none
//     4     4 zero
//     8     8 base name    file name without directory and extension, upper case,
//                          NUL-padded (first 8 characters)
//    16     2 zero         \  written 00 00 02 01 .. 00 00; other programs write
//    18     1 2             > other values here, so an open does not insist
//    19     1 1            /
//    20     2 block length bytes, 512 * factor on create (512..16384 accepted)
//    22     2 zero
//    24   ... filler       up to the block length, not significant
// A text starts at a block boundary with an 8-byte header FF FF 08 00, total
// (characters + 8, 32-bit); the characters follow and the rest of the last block is
// filler. It occupies ceil(total / block length) blocks.
// A free run is a run of free blocks whose first 8 bytes hold the next run's block
// and the run's length in blocks. The chain starts at the header's free head; the
// last run's next is the block count (the end of the file), which also ends an empty
// chain. A put takes the first run that is long enough, whole.
//
// A new file of either layout is its header block followed by one byte 0x1A.
#pragma once

#include <cstdint>

#include <string_view>

#include "core/bytes.hpp"
#include "memo/memo_common.hpp"

namespace xbdb::memo {

enum class DbtLayout : uint8_t { none, iii, iv };

// One row per memo dialect (the table dialect numbers).
struct DbtDialect {
    uint8_t number;
    DbtLayout layout;
    bool wraps;  // puts honour the soft line length
};

// The row of a dialect (0 taken as 1), or null for a dialect without a memo layout.
const DbtDialect* dbt_dialect(int32_t dialect);

constexpr int32_t kDbtIIIBlock = 512;
constexpr int32_t kDbtMaxReadBlocks = 128;
constexpr int32_t kDbtHeaderCopy = 24;
constexpr int32_t kDbtMinBlock = 512;
constexpr int32_t kDbtMaxBlock = 16384;
constexpr int32_t kDbtMaxFactor = 32;
constexpr char kDbtEnd = 0x1A;
constexpr uint8_t kSoftBreak = 0x8D;
constexpr int32_t kDbtTextHeader = 8;  // FF FF 08 00, total

// Header offsets.
constexpr int kDbtFreeAt = 0;
constexpr int kDbtNameAt = 8;
constexpr int kDbtNameSize = 8;
constexpr int kDbtMarkAt = 16;
constexpr int kDbtBlockLengthAt = 20;

constexpr LockRegion kDbtIIILock{0, 24};
constexpr LockRegion kDbtIVLock{0xEFFFFFFEu, 2};

struct DbtPacket : Packet {
    int32_t block_count = 0;                 // file length / block length, at least 1
    uint8_t header[kDbtHeaderCopy] = {};     // first 24 bytes; III: block length 512
    uint8_t dialect = 0;

    const DbtDialect& rules() const { return *dbt_dialect(dialect); }
    bool iv() const { return rules().layout == DbtLayout::iv; }
    int32_t block_length() const { return le16(header + kDbtBlockLengthAt); }
    uint32_t free_head() const { return le32(header + kDbtFreeAt); }
    void set_free_head(uint32_t b) { put_le32(header + kDbtFreeAt, b); }
    LockRegion lock() const { return iv() ? kDbtIVLock : kDbtIIILock; }
    bool flush() const { return family_word != 0; }
};

// The current DBT packet, set by the handle check of every DBxb call.
extern DbtPacket* DBxbm;

// The handle check: the packet of an open DBT file (which becomes current), or null;
// the caller logs -213 from its own location.
DbtPacket* _DBxbLockMemoStruc(int32_t handle);

int32_t _DBxbGetMemoHeader(DbtPacket& m);
int32_t _DBxbLockMemo(DbtPacket& m);
int32_t _DBxbUnLockMemo(DbtPacket& m);
// Reads one text into a new NUL-terminated buffer; its length (without the NUL) in
// *length when length is not null.
int32_t _DBxbGetMemoRecord(DbtPacket& m, int32_t block, HostBlock* text, int32_t flags,
                           int32_t* length = nullptr);
int32_t put_memo_text(DbtPacket& m, int32_t* block, std::string_view text, int32_t flags);

}  // namespace xbdb::memo
