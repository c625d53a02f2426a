// FPT memo files: the on-disk layout and the packet of an open file.
//
// File header (big-endian):
//   off  size field        meaning
//     0     4 next free    block where the next appended memo starts
//     4     4 block size   bytes, 33..16384 (older readers take bytes 6..7 only)
//     8   ... zero         up to the first block boundary at or after offset 512
// A new file is ceil(512 / size) blocks long, all zero but the first 8 bytes.
//
// Memo at block b (offset b * size), big-endian:
//   off  size field        meaning
//     0     4 kind         1 text, 0 picture
//     4     4 length       data bytes that follow
//     8   ... data         any bytes
// A memo occupies ceil((length + 8) / size) blocks. Space is only appended: a memo
// replaced by one that does not fit its room is abandoned until a pack.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/bytes.hpp"
#include "memo/memo_common.hpp"

namespace xbdb::memo {

constexpr int32_t kFptMinBlock = 33;
constexpr int32_t kFptMaxBlock = 16384;
constexpr int32_t kFptHeaderArea = 512;   // the header's share of the file
constexpr int32_t kFptMemoHeader = 8;     // kind, length
constexpr int32_t kFptMaxCode = 511;
constexpr uint32_t kFptText = 1;
constexpr uint32_t kFptPicture = 0;
constexpr LockRegion kFptLock{0x40000000u, 1};

// Get flags beyond the piece bit: the caller's buffer is used.
constexpr int32_t kIntoCallerBuffer = 0x04;

// One pending transfer in pieces, read or write, per open file.
enum class Direction : uint8_t { none, read, write };

struct FptPacket : Packet {
    int32_t next_free = 0;   // host order
    int32_t block_size = 0;  // host order
    int32_t remaining = 0;   // bytes still to transfer; 0 when none is pending
    int32_t position = 0;    // file offset of the next piece
    int32_t transfer_block = 0;
    Direction direction = Direction::none;
    bool appending = false;  // the pending write appends: its pieces keep the header current
    uint8_t dialect = 0;     // for a reopen after a pack

    bool flush() const { return family_word != 0; }
    // The first block after the header area.
    int32_t first_block() const { return (kFptHeaderArea + block_size - 1) / block_size; }
    void end_transfer() {
        remaining = position = transfer_block = 0;
        direction = Direction::none;
        appending = false;
    }
};

extern FptPacket* DBfpm;

// The handle check: the packet of an open FPT file (which becomes current), or null.
FptPacket* _DBfpLockMemoStruc(int32_t handle);

int32_t _DBfpGetMemoHeader(FptPacket& m);
int32_t _DBfpLockMemo(FptPacket& m);
int32_t _DBfpUnLockMemo(FptPacket& m);

// A memo's header: its data length (checked against the file) and kind.
int32_t read_memo_header(FptPacket& m, int32_t block, int32_t* length, uint32_t* kind);
// Reads up to maximum bytes of the memo at block (flags: pieces, caller's buffer).
// Into a new buffer (*out) unless the caller's buffer is given; *size receives the
// count read. Returns 0, or 1 while a transfer in pieces has more data.
int32_t _read_memo(FptPacket& m, int32_t block, char* caller, HostBlock* out, int32_t maximum,
                   int32_t flags, int32_t* size = nullptr);
int32_t _write_memo(FptPacket& m, int32_t* block, std::string_view data, int32_t total,
                    int32_t flags);

}  // namespace xbdb::memo
