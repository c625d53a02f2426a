#include "os/file_io.hpp"

#include <algorithm>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "core/state.hpp"
#include "os/host.hpp"

namespace xbdb::os {

namespace {

constexpr std::size_t kMaxPiece = 0xFFFF;  // the host read takes a 16-bit count

// Runs one DBos call from a clean DBerrno and puts the caller's value back on success.
template <class Call>
int32_t quietly(Call call) {
    const int32_t carried = DBerrno;
    DBerrno = 0;
    const int32_t code = call();
    if (code < 0) return code;
    DBerrno = carried;
    return 0;
}

}  // namespace

int32_t create_file(int32_t* fd, const char* name) {
    return quietly([&] { return DBosCreateFile(fd, name); });
}
int32_t open_file(int32_t* fd, const char* name, int32_t mode, uint8_t* flags) {
    return quietly([&] { return DBosOpenFile(fd, name, mode, flags); });
}
int32_t close_file(int32_t fd) {
    return quietly([&] { return DBosCloseFile(fd); });
}
int32_t file_length(int32_t fd, int32_t* length) {
    return quietly([&] { return DBosFileLength(fd, length); });
}
int32_t set_file_size(int32_t fd, int32_t size) {
    return quietly([&] { return DBosSetFileSize(fd, size); });
}
int32_t flush_file(int32_t fd) {
    return quietly([&] { return DBosFlushFile(fd); });
}
int32_t lock_data(int32_t fd, int32_t mode, uint32_t offset, int32_t length) {
    return quietly([&] { return DBosLockData(fd, mode, offset, length); });
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
