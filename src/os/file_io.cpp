#include "os/file_io.hpp"

#include <algorithm>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "core/state.hpp"
#include "os/host.hpp"

namespace xbdb::os {

namespace {
constexpr std::size_t kMaxPiece = 0xFFFF;  // the host read takes a 16-bit count
}

int32_t seek(int fd, int64_t position, std::source_location where) {
    if (position < 0 || position > kMaxPosition) return fail(DB_ERR_SEEK, where);
    const int32_t saved = DBerrno;
    DBerrno = 0;
    if (int32_t code = DBosSetFilePosition(fd, static_cast<int32_t>(position)); code < 0)
        return fail(code, where);
    DBerrno = saved;
    return 0;
}

int32_t read_exact(int fd, std::span<char> bytes, std::source_location where) {
    const int32_t saved = DBerrno;
    DBerrno = 0;
    while (!bytes.empty()) {
        const std::size_t piece = std::min(bytes.size(), kMaxPiece);
        if (int32_t code = DBosReadData(fd, bytes.data(), static_cast<uint16_t>(piece)); code < 0)
            return fail(code, where);
        bytes = bytes.subspan(piece);
    }
    DBerrno = saved;
    return 0;
}

int32_t write_all(int fd, std::span<const char> bytes, bool flush, std::source_location where) {
    const int32_t saved = DBerrno;
    DBerrno = 0;
    while (!bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), INT32_MAX);
        if (int32_t code = DBosWriteData(fd, bytes.data(), static_cast<int32_t>(piece), flush);
            code < 0)
            return fail(code, where);
        bytes = bytes.subspan(piece);
    }
    DBerrno = saved;
    return 0;
}

int32_t read_at(int fd, int64_t position, std::span<char> bytes, std::source_location where) {
    if (position < 0 || position + static_cast<int64_t>(bytes.size()) > kMaxPosition)
        return fail(DB_ERR_SEEK, where);
    if (int32_t code = seek(fd, position, where); code < 0) return code;
    return read_exact(fd, bytes, where);
}

int32_t write_at(int fd, int64_t position, std::span<const char> bytes, bool flush,
                 std::source_location where) {
    if (position < 0 || position + static_cast<int64_t>(bytes.size()) > kMaxPosition)
        return fail(DB_ERR_SEEK, where);
    if (int32_t code = seek(fd, position, where); code < 0) return code;
    return write_all(fd, bytes, flush, where);
}

void forget_locks(int fd) {
    LockEntry* begin = DBbase.locks;
    LockEntry* end = begin ? begin + DBbase.locks_used : begin;
    LockEntry* kept = std::remove_if(begin, end, [fd](const LockEntry& e) { return e.fd == fd; });
    _DBSetLocksUsed(static_cast<int32_t>(kept - begin));
}

}  // namespace xbdb::os
