// DBT reads: one text into a new NUL-terminated buffer, optionally without its
// soft line breaks.
#include <algorithm>

#include "memo/dbt_format.hpp"
#include "os/file_io.hpp"

namespace xbdb::memo {

namespace {

// dBASE III: block by block up to the first 0x1A, at most 128 blocks. A short last
// piece at the end of the file is no error, but a text that the file ends inside is.
int32_t read_iii(DbtPacket& m, int64_t at, int64_t file_length, HostBlock* text, int32_t* size) {
    const int64_t available = std::max<int64_t>(0, file_length - at);
    const int64_t limit = std::min<int64_t>(available, int64_t{kDbtMaxReadBlocks} * kDbtIIIBlock);
    HostBlock buffer = allocate_block(static_cast<std::size_t>(limit) + 1);
    if (!buffer) return fail(DB_ERR_MEMORY);
    for (int64_t done = 0; done < limit;) {
        const int64_t piece = std::min<int64_t>(kDbtIIIBlock, limit - done);
        std::span<char> bytes(buffer.get() + done, static_cast<std::size_t>(piece));
        if (int32_t code = os::read_at(m.fd, at + done, bytes); code < 0) return fail(code);
        if (auto end = std::find(bytes.begin(), bytes.end(), kDbtEnd); end != bytes.end()) {
            *end = '\0';
            *size = static_cast<int32_t>(done + (end - bytes.begin()));
            *text = std::move(buffer);
            return 0;
        }
        done += piece;
    }
    if (limit < available) return fail(DB_ERR_FIELD_LENGTH);
    return fail(DB_ERR_CORRUPT);
}

// dBASE IV: the length header says how much follows; a length below the header's
// own or reaching past the end of the file is damage.
int32_t read_iv(DbtPacket& m, int64_t at, int64_t file_length, HostBlock* text, int32_t* size) {
    char head[kDbtTextHeader];
    if (int32_t code = os::read_at(m.fd, at, head); code < 0) return fail(code);
    const uint32_t total = le32(head + 4);
    if (total < kDbtTextHeader || total > file_length - at) return fail(DB_ERR_CORRUPT);
    const uint32_t characters = total - kDbtTextHeader;
    HostBlock buffer = allocate_block(characters + 1);
    if (!buffer) return fail(DB_ERR_MEMORY);
    std::span<char> bytes(buffer.get(), characters);
    if (int32_t code = os::read_at(m.fd, at + kDbtTextHeader, bytes); code < 0) return fail(code);
    buffer[characters] = '\0';
    *size = static_cast<int32_t>(characters);
    *text = std::move(buffer);
    return 0;
}

// Removes every 0x8D together with the byte after it, in place.
int32_t strip_soft_breaks(char* text, int32_t size) {
    int32_t out = 0;
    for (int32_t in = 0; in < size; ++in) {
        if (static_cast<uint8_t>(text[in]) == kSoftBreak) {
            ++in;
            continue;
        }
        text[out++] = text[in];
    }
    text[out] = '\0';
    return out;
}

}  // namespace

int32_t _DBxbGetMemoRecord(DbtPacket& m, int32_t block, HostBlock* text, int32_t flags,
                           int32_t* length) {
    if (flags != 0 && flags != DB_DBT_STRIP_SOFT) return fail(DB_ERR_COMMAND);
    // The count is brought up to date first: a text another process appended since
    // this one last looked is no reason to refuse its block.
    if (m.shared())
        if (int32_t code = _DBxbGetMemoHeader(m); code < 0) return fail(code);
    if (block < 1 || block > m.block_count) return fail(DB_ERR_SEEK);
    int32_t file_length = 0;
    if (int32_t code = os::file_length(m.fd, &file_length); code < 0) return fail(code);
    const int64_t at = int64_t{block} * m.block_length();
    int32_t size = 0;
    const int32_t code = m.iv() ? read_iv(m, at, file_length, text, &size)
                                : read_iii(m, at, file_length, text, &size);
    if (code < 0) return fail(code);
    if (flags == DB_DBT_STRIP_SOFT) size = strip_soft_breaks(text->get(), size);
    if (length) *length = size;
    return 0;
}

}  // namespace xbdb::memo

using namespace xbdb;
using namespace xbdb::memo;

extern "C" int32_t DBxbGetMemoRecord(int32_t handle, int32_t block, char** text, int32_t flags) {
    if (!text) return fail(DB_ERR_NULL);
    *text = nullptr;
    DbtPacket* m = _DBxbLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    HostBlock buffer;
    if (int32_t code = _DBxbGetMemoRecord(*m, block, &buffer, flags); code < 0) return fail(code);
    *text = buffer.release();
    return DBerrno = 0;
}
