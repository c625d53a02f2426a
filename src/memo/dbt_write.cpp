// DBT writes: one text appended, or replaced in place when it fits.
//
// dBASE III files only ever grow at the header's next free block; lines may be
// wrapped with soft line breaks (0x8D 0x0A) that readers can strip again.
// dBASE IV files keep the runs that replaced texts leave behind in a free chain and
// give the first run long enough to a new text, whole.
#include <algorithm>
#include <cstring>

#include "memo/dbt_format.hpp"
#include "os/file_io.hpp"

namespace xbdb::memo {

namespace {

constexpr int32_t kShortestLine = 10;
constexpr int32_t kLongestLine = 132;
constexpr int32_t kLineMask = DB_DBT_LINE_MASK;
// The characters a dBASE III reader can find the terminator behind: 128 blocks.
constexpr std::size_t kLongestIIIText = kDbtMaxReadBlocks * kDbtIIIBlock - 1;
constexpr char kIVMark[4] = {'\xFF', '\xFF', 0x08, 0x00};

// ---- word wrap -----------------------------------------------------------------------

std::size_t emit(char* out, std::size_t at, std::string_view bytes) {
    std::memcpy(out + at, bytes.data(), bytes.size());
    return at + bytes.size();
}

// Wraps text at line length n into out, which has room for 3 * text.size() bytes
// (the worst case: one-character lines each followed by a soft break). A carriage
// return within reach ends the line with the byte after it; otherwise the line ends
// at the last break after a space within n characters, or is cut after n.
std::size_t wrap_text(std::string_view text, std::size_t n, char* out) {
    std::size_t at = 0;
    std::size_t s = 0;
    while (s < text.size()) {
        const std::string_view rest = text.substr(s);
        const std::size_t cr = rest.substr(0, n + 1).find('\r');
        if (cr != std::string_view::npos) {
            const std::size_t line = std::min(cr + 2, rest.size());  // CR and its LF
            at = emit(out, at, rest.substr(0, line));
            s += line;
            continue;
        }
        if (rest.size() <= n) return emit(out, at, rest);
        const std::size_t space = rest.substr(0, n).rfind(' ');
        const std::size_t line = space == std::string_view::npos ? n : space + 1;
        at = emit(out, at, rest.substr(0, line));
        s += line;
        if (s < text.size()) at = emit(out, at, "\x8D\n");
    }
    return at;
}

// ---- dBASE III -------------------------------------------------------------------------

// The length of the text at block up to its first 0x1A, if it has one within the
// 128 blocks a reader takes.
bool measure_iii(const DbtPacket& m, int32_t block, int32_t file_length, int64_t* length) {
    const int64_t at = int64_t{block} * kDbtIIIBlock;
    char piece[kDbtIIIBlock];
    for (int64_t done = 0; done < int64_t{kDbtMaxReadBlocks} * kDbtIIIBlock; done += kDbtIIIBlock) {
        const int64_t size = std::min<int64_t>(kDbtIIIBlock, file_length - at - done);
        if (size <= 0) return false;
        std::span<char> bytes(piece, static_cast<std::size_t>(size));
        if (os::read_at(m.fd, at + done, bytes) < 0) return false;
        if (const char* end = std::find(piece, piece + size, kDbtEnd); end != piece + size) {
            *length = done + (end - piece);
            return true;
        }
    }
    return false;
}

int64_t blocks_of(int64_t bytes, int64_t block) { return (bytes + block - 1) / block; }

// A replace keeps the block when it names a text whose blocks hold the new one.
bool fits_iii(const DbtPacket& m, int32_t block, std::size_t size) {
    if (block < 1 || block > m.block_count) return false;
    int32_t file_length = 0;
    if (os::file_length(m.fd, &file_length) < 0) return false;
    int64_t old = 0;
    if (!measure_iii(m, block, file_length, &old)) return false;
    const int64_t room = std::max<int64_t>(1, blocks_of(old, kDbtIIIBlock));
    return room >= blocks_of(static_cast<int64_t>(size) + 2, kDbtIIIBlock);
}

int32_t write_iii(const DbtPacket& m, int32_t block, std::string_view bytes) {
    const int64_t at = int64_t{block} * kDbtIIIBlock;
    if (int32_t code = os::write_at(m.fd, at, bytes, m.flush()); code < 0) return fail(code);
    const char end[2] = {kDbtEnd, kDbtEnd};
    if (int32_t code = os::write_at(m.fd, at + static_cast<int64_t>(bytes.size()), end, m.flush());
        code < 0)
        return fail(code);
    return 0;
}

int32_t put_iii(DbtPacket& m, int32_t* block, std::string_view text, int32_t line, bool replace) {
    HostBlock wrapped;
    if (line) {
        if (text.size() > kLongestIIIText) return fail(DB_ERR_BAD_DATA);
        wrapped = allocate_block(3 * text.size());
        if (!wrapped) return fail(DB_ERR_MEMORY);
        text = std::string_view(wrapped.get(), wrap_text(text, static_cast<std::size_t>(line), wrapped.get()));
    }
    // A longer text would be written but could never be read back.
    if (text.size() > kLongestIIIText) return fail(DB_ERR_BAD_DATA);
    uint8_t header[kDbtHeaderCopy];
    std::memcpy(header, m.header, sizeof header);
    const bool in_place = replace && fits_iii(m, *block, text.size());
    int32_t target = *block;
    if (!in_place) {
        target = static_cast<int32_t>(le32(header + kDbtFreeAt));
        if (target < 1 || static_cast<uint32_t>(target) > os::kMaxPosition / kDbtIIIBlock)
            return fail(DB_ERR_CORRUPT);
        put_le32(header + kDbtFreeAt,
                 static_cast<uint32_t>(target + static_cast<int64_t>(text.size() + 2) / kDbtIIIBlock + 1));
    }
    if (int32_t code = write_iii(m, target, text); code < 0) return fail(code);
    if (int32_t code = os::write_at(m.fd, 0, {reinterpret_cast<char*>(header), 4}, m.flush()); code < 0)
        return fail(code);
    std::memcpy(m.header, header, sizeof header);
    m.block_count = std::max(m.block_count, target);
    *block = target;
    return 0;
}

// ---- dBASE IV --------------------------------------------------------------------------

struct Run {
    uint32_t next;
    uint32_t length;
};

int64_t block_at(const DbtPacket& m, int64_t block) { return block * m.block_length(); }

int32_t read_run(const DbtPacket& m, uint32_t block, Run* run) {
    char bytes[8];
    if (int32_t code = os::read_at(m.fd, block_at(m, block), bytes); code < 0) return fail(code);
    *run = {le32(bytes), le32(bytes + 4)};
    return 0;
}

int32_t write_u32(const DbtPacket& m, int64_t at, uint32_t value) {
    char bytes[4];
    put_le32(bytes, value);
    if (int32_t code = os::write_at(m.fd, at, bytes, m.flush()); code < 0) return fail(code);
    return 0;
}

int32_t write_run(const DbtPacket& m, uint32_t block, Run run) {
    char bytes[8];
    put_le32(bytes, run.next);
    put_le32(bytes + 4, run.length);
    if (int32_t code = os::write_at(m.fd, block_at(m, block), bytes, m.flush()); code < 0)
        return fail(code);
    return 0;
}

// The allocation state of one put: the free head and block count it works on, and
// the last run that stays in the chain (0 when the chain is empty).
struct Space {
    uint32_t head;
    int32_t count;
    uint32_t last = 0;
};

// First fit: the first run of at least needed blocks is taken whole and unlinked.
// The walk goes on to the chain's end to learn its last run, and is bounded by the
// block count so that a looping chain is damage, not a hang.
int32_t take_run(const DbtPacket& m, Space& s, uint32_t needed, uint32_t* found) {
    *found = 0;
    uint32_t previous = 0;
    int32_t steps = 0;
    for (uint32_t b = s.head; b < static_cast<uint32_t>(s.count);) {
        if (b < 1 || ++steps > s.count) return fail(DB_ERR_CORRUPT);
        Run run{};
        if (int32_t code = read_run(m, b, &run); code < 0) return fail(code);
        if (!*found && run.length >= needed) {
            *found = b;
            if (previous == 0) s.head = run.next;
            else if (int32_t code = write_u32(m, block_at(m, previous), run.next); code < 0)
                return fail(code);
        } else {
            previous = b;
        }
        b = run.next;
    }
    s.last = previous;
    return 0;
}

int32_t allocate_iv(const DbtPacket& m, Space& s, uint32_t needed, int32_t* block) {
    uint32_t found = 0;
    if (int32_t code = take_run(m, s, needed, &found); code < 0) return fail(code);
    if (found) {
        *block = static_cast<int32_t>(found);
        return 0;
    }
    if (int64_t{s.count} + needed > os::kMaxPosition / m.block_length()) return fail(DB_ERR_SEEK);
    *block = s.count;
    s.count += static_cast<int32_t>(needed);
    if (s.last == 0) s.head = static_cast<uint32_t>(s.count);
    return 0;
}

// Links the run a replaced text leaves (length 0: none) at the chain's end, and
// keeps the chain ending at the end of the file.
int32_t release_iv(const DbtPacket& m, Space& s, uint32_t block, uint32_t length) {
    const uint32_t end = static_cast<uint32_t>(s.count);
    if (length) {
        if (int32_t code = write_run(m, block, {end, length}); code < 0) return fail(code);
        if (s.last == 0) {
            s.head = block;
            return 0;
        }
        if (int32_t code = write_u32(m, block_at(m, s.last), block); code < 0) return fail(code);
        return 0;
    }
    if (s.last) {
        if (int32_t code = write_u32(m, block_at(m, s.last), end); code < 0) return fail(code);
    }
    return 0;
}

// The text header, the characters and filler to the end of the last block. In place
// the old marker stays and only the length is written.
int32_t write_iv(const DbtPacket& m, int32_t block, std::string_view text, bool in_place) {
    const int64_t at = block_at(m, block);
    const uint32_t total = static_cast<uint32_t>(text.size() + kDbtTextHeader);
    char head[kDbtTextHeader];
    std::memcpy(head, kIVMark, sizeof kIVMark);
    put_le32(head + 4, total);
    std::span<const char> header = in_place ? std::span<const char>(head + 4, 4) : std::span<const char>(head);
    if (int32_t code = os::write_at(m.fd, in_place ? at + 4 : at, header, m.flush()); code < 0)
        return fail(code);
    if (int32_t code = os::write_at(m.fd, at + kDbtTextHeader, text, m.flush()); code < 0) return fail(code);
    const int64_t filler = blocks_of(total, m.block_length()) * m.block_length() - total;
    if (filler) {
        HostBlock zeros = allocate_block(static_cast<std::size_t>(filler));
        if (!zeros) return fail(DB_ERR_MEMORY);
        std::span<const char> bytes(zeros.get(), static_cast<std::size_t>(filler));
        if (int32_t code = os::write_at(m.fd, at + total, bytes, m.flush()); code < 0) return fail(code);
    }
    if (int32_t code = write_u32(m, at + 4, total); code < 0) return fail(code);
    return 0;
}

// The blocks of the text at block, when a sound text header is there: its marker
// and a length that stays inside the file. 0 otherwise.
uint32_t old_blocks(const DbtPacket& m, int32_t block) {
    if (block < 1 || block >= m.block_count) return 0;
    int32_t file_length = 0;
    if (os::file_length(m.fd, &file_length) < 0) return 0;
    char head[kDbtTextHeader];
    const int64_t at = block_at(m, block);
    if (os::read_at(m.fd, at, head) < 0) return 0;
    const uint32_t total = le32(head + 4);
    if (std::memcmp(head, kIVMark, sizeof kIVMark) != 0) return 0;
    if (total < kDbtTextHeader || total > file_length - at) return 0;
    return static_cast<uint32_t>(blocks_of(total, m.block_length()));
}

int32_t put_iv(DbtPacket& m, int32_t* block, std::string_view text, bool replace) {
    if (text.size() > static_cast<std::size_t>(os::kMaxPosition - kDbtTextHeader)) return fail(DB_ERR_BAD_DATA);
    const int64_t total = static_cast<int64_t>(text.size()) + kDbtTextHeader;
    const auto needed = static_cast<uint32_t>(blocks_of(total, m.block_length()));
    const uint32_t old = replace ? old_blocks(m, *block) : 0;
    if (old >= needed) return write_iv(m, *block, text, true);
    Space s{m.free_head(), m.block_count};
    int32_t target = 0;
    if (int32_t code = allocate_iv(m, s, needed, &target); code < 0) return fail(code);
    if (int32_t code = release_iv(m, s, old ? static_cast<uint32_t>(*block) : 0, old); code < 0)
        return fail(code);
    if (int32_t code = write_iv(m, target, text, false); code < 0) return fail(code);
    if (s.head != m.free_head()) {
        if (int32_t code = write_u32(m, kDbtFreeAt, s.head); code < 0) return fail(code);
        m.set_free_head(s.head);
    }
    m.block_count = s.count;
    *block = target;
    return 0;
}

int32_t check_put(const DbtPacket& m, int32_t flags) {
    if (m.read_only()) return fail(DB_ERR_READ_ONLY);
    if (flags & ~(kLineMask | DB_DBT_REPLACE)) return fail(DB_ERR_COMMAND);
    return 0;
}

}  // namespace

int32_t put_memo_text(DbtPacket& m, int32_t* block, std::string_view text, int32_t flags) {
    if (int32_t code = check_put(m, flags); code < 0) return fail(code);
    PutLock lock(m, m.lock(), [](Packet& p) { return _DBxbLockMemo(static_cast<DbtPacket&>(p)); });
    if (int32_t code = lock.start(); code < 0) return fail(code);
    const int32_t line = flags & kLineMask;
    if (line != 0 && (line < kShortestLine || line > kLongestLine)) return fail(DB_ERR_MEMO_LINE_LENGTH);
    const bool replace = flags & DB_DBT_REPLACE;
    const int32_t code = m.iv() ? put_iv(m, block, text, replace)
                                : put_iii(m, block, text, m.rules().wraps ? line : 0, replace);
    if (code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::memo

using namespace xbdb;
using namespace xbdb::memo;

extern "C" int32_t DBxbPutMemoRecord(int32_t handle, int32_t* block, const char* text, int32_t flags) {
    if (!text || !block) return fail(DB_ERR_NULL);
    if (!*text) return fail(DB_ERR_BAD_DATA);
    DbtPacket* m = _DBxbLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (int32_t code = put_memo_text(*m, block, text, flags); code < 0) return fail(code);
    return DBerrno = 0;
}
