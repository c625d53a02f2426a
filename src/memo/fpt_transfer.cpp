// FPT reads and writes, whole or in pieces.
//
// One transfer in pieces may be pending per open file. It remembers its direction
// and block: a call of the other direction, or for another block, abandons it and
// starts afresh, so a put can never continue into a memo that is being read.
#include <algorithm>
#include <cstring>

#include "memo/fpt_format.hpp"
#include "os/file_io.hpp"

namespace xbdb::memo {

namespace {

constexpr int32_t kCommandMask = ~(DB_FPT_PICTURE | DB_FPT_PIECES);

int64_t offset_of(const FptPacket& m, int64_t block) { return block * m.block_size; }

int32_t check_block(const FptPacket& m, int32_t block) {
    if (block < 1 || block >= m.next_free) return fail(DB_ERR_SEEK);
    return 0;
}

int32_t file_length(const FptPacket& m, int32_t* length) {
    if (int32_t code = os::file_length(m.fd, length); code < 0) return fail(code);
    return 0;
}

bool continues(const FptPacket& m, Direction d, int32_t block, int32_t flags) {
    return (flags & DB_FPT_PIECES) && m.direction == d && m.remaining > 0 && m.transfer_block == block;
}

int32_t start_read(FptPacket& m, int32_t block) {
    m.end_transfer();
    int32_t length = 0;
    uint32_t kind = 0;
    if (int32_t code = read_memo_header(m, block, &length, &kind); code < 0) return fail(code);
    m.transfer_block = block;
    m.remaining = length;
    m.position = static_cast<int32_t>(offset_of(m, block) + kFptMemoHeader);
    m.direction = Direction::read;
    return 0;
}

// ---- writes ------------------------------------------------------------------------------

// A replace stays in place only for a block of a memo after the header area whose
// room (its length rounded up to whole blocks, at least one) takes the new memo.
int32_t fits_in_place(FptPacket& m, int32_t block, int32_t total, bool* fits) {
    *fits = false;
    if (block < m.first_block() || block >= m.next_free) return 0;
    int32_t length = 0;
    uint32_t kind = 0;
    if (int32_t code = read_memo_header(m, block, &length, &kind); code < 0) return fail(code);
    const int64_t size = m.block_size;
    const int64_t room = std::max<int64_t>(size, (length + size - 1) / size * size);
    *fits = int64_t{total} + kFptMemoHeader <= room;
    return 0;
}

// Appends start at the header's next free block, or after the end of the file if
// that lies further on: data another writer left beyond a lagging header is never
// cut off. The file is only ever extended.
int32_t start_append(FptPacket& m, int32_t total, int32_t* block) {
    int32_t length = 0;
    if (int32_t code = file_length(m, &length); code < 0) return fail(code);
    const int64_t size = m.block_size;
    const int64_t start = std::max<int64_t>({m.next_free, (length + size - 1) / size, m.first_block()});
    const int64_t next = start + (int64_t{total} + kFptMemoHeader + size - 1) / size;
    if (next * size > os::kMaxPosition) return fail(DB_ERR_SEEK);
    if (start * size > length)
        if (int32_t code = os::set_file_size(m.fd, static_cast<int32_t>(start * size)); code < 0)
            return fail(code);
    *block = static_cast<int32_t>(start);
    m.next_free = static_cast<int32_t>(next);
    m.appending = true;
    return 0;
}

int32_t start_write(FptPacket& m, int32_t* block, int32_t total, int32_t flags) {
    m.end_transfer();
    bool in_place = false;
    if ((flags & kCommandMask) == DB_FPT_REPLACE)
        if (int32_t code = fits_in_place(m, *block, total, &in_place); code < 0) return fail(code);
    if (!in_place)
        if (int32_t code = start_append(m, total, block); code < 0) return fail(code);
    m.transfer_block = *block;
    m.remaining = total;
    m.position = static_cast<int32_t>(offset_of(m, *block));
    m.direction = Direction::write;
    return 0;
}

int32_t write_piece(FptPacket& m, std::string_view data, bool first, uint32_t kind, int32_t total) {
    int64_t at = m.position;
    if (first) {
        char header[kFptMemoHeader];
        put_be32(header, kind);
        put_be32(header + 4, static_cast<uint32_t>(total));
        if (int32_t code = os::write_at(m.fd, at, header, m.flush()); code < 0) return fail(code);
        at += kFptMemoHeader;
    }
    if (int32_t code = os::write_at(m.fd, at, data, m.flush()); code < 0) return fail(code);
    m.position = static_cast<int32_t>(at + static_cast<int64_t>(data.size()));
    m.remaining -= static_cast<int32_t>(data.size());
    if (m.appending) {
        char next[4];
        put_be32(next, static_cast<uint32_t>(m.next_free));
        if (int32_t code = os::write_at(m.fd, 0, next, m.flush()); code < 0) return fail(code);
    }
    return 0;
}

int32_t write_memo(FptPacket& m, int32_t* block, std::string_view data, int32_t total, int32_t flags) {
    const bool first = !continues(m, Direction::write, *block, flags);
    if (first && (total < static_cast<int64_t>(data.size()))) return fail(DB_ERR_BAD_DATA);
    if (first) {
        const int32_t saved_next = m.next_free;
        if (int32_t code = start_write(m, block, total, flags); code < 0) {
            m.next_free = saved_next;
            m.end_transfer();
            return fail(code);
        }
    }
    // A piece beyond the memo's declared total would run into whatever follows it.
    if (static_cast<int64_t>(data.size()) > m.remaining) return fail(DB_ERR_BAD_DATA);
    const uint32_t kind = (flags & DB_FPT_PICTURE) ? kFptPicture : kFptText;
    if (int32_t code = write_piece(m, data, first, kind, total); code < 0) {
        m.end_transfer();
        return fail(code);
    }
    if (m.remaining == 0 || !(flags & DB_FPT_PIECES)) m.end_transfer();
    return 0;
}

}  // namespace

int32_t read_memo_header(FptPacket& m, int32_t block, int32_t* length, uint32_t* kind) {
    const int64_t at = offset_of(m, block);
    char header[kFptMemoHeader];
    if (int32_t code = os::read_at(m.fd, at, header); code < 0) return fail(code);
    int32_t file = 0;
    if (int32_t code = file_length(m, &file); code < 0) return fail(code);
    const uint32_t stored = be32(header + 4);
    if (stored > static_cast<uint64_t>(std::max<int64_t>(0, file - at - kFptMemoHeader)))
        return fail(DB_ERR_CORRUPT);
    *kind = be32(header);
    *length = static_cast<int32_t>(stored);
    return 0;
}

int32_t _read_memo(FptPacket& m, int32_t block, char* caller, HostBlock* out, int32_t maximum,
                   int32_t flags, int32_t* size) {
    if (maximum < 0) return fail(DB_ERR_COMMAND);
    if (m.shared())
        if (int32_t code = _DBfpGetMemoHeader(m); code < 0) return fail(code);
    if (!continues(m, Direction::read, block, flags)) {
        if (int32_t code = check_block(m, block); code < 0) return fail(code);
        if (int32_t code = start_read(m, block); code < 0) return fail(code);
    }
    const int32_t n = std::min(m.remaining, maximum);
    HostBlock buffer;
    if (!caller) {
        buffer = allocate_block(static_cast<std::size_t>(n) + 1);
        if (!buffer) return fail(DB_ERR_MEMORY);
        caller = buffer.get();
    }
    caller[n] = '\0';
    if (int32_t code = os::read_at(m.fd, m.position, {caller, static_cast<std::size_t>(n)}); code < 0) {
        m.end_transfer();
        return fail(code);
    }
    if (size) *size = n;
    if (out) *out = std::move(buffer);
    if (!(flags & DB_FPT_PIECES)) {
        m.end_transfer();
        return 0;
    }
    m.position += n;
    m.remaining -= n;
    if (m.remaining == 0) {
        m.end_transfer();
        return 0;
    }
    return DB_FPT_MORE;
}

int32_t _write_memo(FptPacket& m, int32_t* block, std::string_view data, int32_t total, int32_t flags) {
    if (m.read_only()) return fail(DB_ERR_READ_ONLY);
    PutLock lock(m, kFptLock, [](Packet& p) { return _DBfpLockMemo(static_cast<FptPacket&>(p)); });
    if (int32_t code = lock.start(); code < 0) return fail(code);
    const int32_t command = flags & kCommandMask;
    if (command != 0 && command != DB_FPT_REPLACE) return fail(DB_ERR_COMMAND);
    if (int32_t code = write_memo(m, block, data, total, flags); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::memo

using namespace xbdb;
using namespace xbdb::memo;

namespace {

int32_t finish_read(int32_t code) {
    if (code < 0) return fail(code);
    return DBerrno = code;
}

}  // namespace

extern "C" {

int32_t DBfpGetMemoType(int32_t handle, int32_t block, int32_t* length, int32_t* picture) {
    if (!length || !picture) return fail(DB_ERR_NULL);
    FptPacket* m = _DBfpLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (m->shared())
        if (int32_t code = _DBfpGetMemoHeader(*m); code < 0) return fail(code);
    if (block < 1 || block >= m->next_free) return fail(DB_ERR_SEEK);
    uint32_t kind = 0;
    if (int32_t code = read_memo_header(*m, block, length, &kind); code < 0) return fail(code);
    *picture = kind == kFptPicture ? 1 : 0;
    return 0;
}

int32_t DBfpGetMemoRecord(int32_t handle, int32_t block, char** data, int32_t maximum, int32_t flags) {
    if (!data) return fail(DB_ERR_NULL);
    *data = nullptr;
    FptPacket* m = _DBfpLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    HostBlock buffer;
    const int32_t code = _read_memo(*m, block, nullptr, &buffer, maximum, flags & ~kIntoCallerBuffer);
    if (code >= 0) *data = buffer.release();
    return finish_read(code);
}

int32_t DBfpGetMemoToBuffer(int32_t handle, int32_t block, char* buffer, int32_t maximum, int32_t flags) {
    if (!buffer) return fail(DB_ERR_NULL);
    FptPacket* m = _DBfpLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    return finish_read(_read_memo(*m, block, buffer, nullptr, maximum, flags | kIntoCallerBuffer));
}

int32_t DBfpPutMemoRecord(int32_t handle, int32_t* block, const char* data, int32_t length,
                          int32_t total, int32_t flags) {
    if (!block || !data) return fail(DB_ERR_NULL);
    if (length <= 0) return fail(DB_ERR_BAD_DATA);
    FptPacket* m = _DBfpLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (!(flags & DB_FPT_PIECES)) total = length;
    const std::string_view bytes(data, static_cast<std::size_t>(length));
    if (int32_t code = _write_memo(*m, block, bytes, total, flags); code < 0) return fail(code);
    return DBerrno = 0;
}

}  // extern "C"
