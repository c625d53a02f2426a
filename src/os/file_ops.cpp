// Host file operations: the DBos functions over POSIX descriptors.
//
// These functions do not reset DBerrno: on success they return the value it
// already had, so a caller that wants 0 clears it first. Host error numbers are
// translated by the tables below; a number that a table does not name becomes
// errno | 0xC0000000.
#include <cerrno>
#include <cstring>
#include <span>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "core/state.hpp"
#include "os/errno_map.hpp"
#include "os/file_io.hpp"
#include "os/host.hpp"

int16_t vk_read_length = 0;

namespace xbdb::os {
namespace {

constexpr ErrnoRule kCreateErrors[] = {
    {EAGAIN, DB_ERR_ACCESS_DENIED}, {EACCES, DB_ERR_ACCESS_DENIED}, {ETXTBSY, DB_ERR_ACCESS_DENIED},
    {ENOENT, DB_ERR_PATH_NOT_FOUND}, {EFAULT, DB_ERR_PATH_NOT_FOUND}, {ENOTDIR, DB_ERR_PATH_NOT_FOUND},
    {ENXIO, DB_ERR_FILE_NOT_FOUND}, {EISDIR, DB_ERR_FILE_NOT_FOUND},
    {ENFILE, DB_ERR_NO_HANDLES}, {EMFILE, DB_ERR_NO_HANDLES}, {ENOSPC, DB_ERR_NO_HANDLES},
    {EROFS, DB_ERR_READ_ONLY},
};

constexpr ErrnoRule kCloseErrors[] = {{EBADF, DB_ERR_HANDLE}};

constexpr ErrnoRule kReadErrors[] = {
    {EBADF, DB_ERR_HANDLE}, {EIO, DB_ERR_READ},
    {EAGAIN, DB_ERR_ACCESS_DENIED}, {EACCES, DB_ERR_ACCESS_DENIED},
};

constexpr ErrnoRule kWriteErrors[] = {
    {EAGAIN, DB_ERR_ACCESS_DENIED}, {EACCES, DB_ERR_ACCESS_DENIED}, {EBADF, DB_ERR_HANDLE},
    {EIO, DB_ERR_WRITE}, {EFBIG, DB_ERR_WRITE}, {ENOSPC, DB_ERR_WRITE},
};

constexpr ErrnoRule kSeekErrors[] = {{EBADF, DB_ERR_HANDLE}, {EINVAL, DB_ERR_COMMAND}};

constexpr ErrnoRule kTruncateErrors[] = {
    {EBADF, DB_ERR_HANDLE}, {EIO, DB_ERR_WRITE},
    {EAGAIN, DB_ERR_LOCK_VIOLATION}, {EACCES, DB_ERR_LOCK_VIOLATION},
};

constexpr ErrnoRule kRenameErrors[] = {
    {EACCES, DB_ERR_ACCESS_DENIED}, {EBUSY, DB_ERR_ACCESS_DENIED},
    {ENOENT, DB_ERR_FILE_NOT_FOUND}, {EIO, DB_ERR_WRITE},
    {EFAULT, DB_ERR_PATH_NOT_FOUND}, {EEXIST, DB_ERR_PATH_NOT_FOUND}, {EXDEV, DB_ERR_PATH_NOT_FOUND},
    {ENOTDIR, DB_ERR_PATH_NOT_FOUND}, {EISDIR, DB_ERR_PATH_NOT_FOUND}, {EINVAL, DB_ERR_PATH_NOT_FOUND},
    {EROFS, DB_ERR_READ_ONLY},
};

constexpr ErrnoRule kDeleteErrors[] = {
    {EPERM, DB_ERR_FILE_NOT_FOUND},
    {EFAULT, DB_ERR_PATH_NOT_FOUND}, {ENOTDIR, DB_ERR_PATH_NOT_FOUND},
    {EACCES, DB_ERR_ACCESS_DENIED}, {EBUSY, DB_ERR_ACCESS_DENIED}, {ETXTBSY, DB_ERR_ACCESS_DENIED},
    {EROFS, DB_ERR_READ_ONLY},
};

// Zero bytes appended by DBosSetFileSize, at most this many per write.
constexpr int32_t kZeroChunk = 1024;

int32_t current_position(int fd, int32_t* position) {
    const off_t at = host().lseek(fd, 0, SEEK_CUR);
    if (at < 0) {
        *position = -1;
        return fail(translate(kSeekErrors, errno));
    }
    if (at > kMaxPosition) {
        *position = -1;
        return fail(DB_ERR_SEEK);
    }
    *position = static_cast<int32_t>(at);
    return DBerrno;
}

int32_t append_zeros(int fd, int32_t count) {
    static const char zeros[kZeroChunk] = {};
    while (count > 0) {
        const int32_t piece = count < kZeroChunk ? count : kZeroChunk;
        const ssize_t written = host().write(fd, zeros, static_cast<size_t>(piece));
        if (written < 0) return fail(translate(kWriteErrors, errno));
        if (written != piece) return fail(DB_ERR_WRITE);
        count -= piece;
    }
    return DBerrno;
}

}  // namespace

int32_t translate(std::span<const ErrnoRule> table, int err) {
    for (const ErrnoRule& rule : table)
        if (rule.err == err) return rule.code;
    return host_error(err);
}

int32_t translate_open_error(int err) { return translate(kOpenErrors, err); }

}  // namespace xbdb::os

using namespace xbdb;
using namespace xbdb::os;

extern "C" {

int32_t DBosCreateFile(int32_t* descriptor, const char* name) {
    if (!descriptor || !name) return fail(DB_ERR_NULL);
    *descriptor = -1;
    if (!*name) return fail(DB_ERR_FILENAME);
    const int fd = host().creat(name, 0777);
    if (fd < 0) return fail(translate(kCreateErrors, errno));
    *descriptor = fd;
    return DBerrno;
}

int32_t DBosOpenFile(int32_t* descriptor, const char* name, int32_t mode, uint8_t* flags) {
    if (!descriptor || !name || !flags) return fail(DB_ERR_NULL);
    *descriptor = -1;
    if (!*name) return fail(DB_ERR_FILENAME);
    const bool read_only = mode & DB_OPEN_READONLY;
    *flags = static_cast<uint8_t>((*flags & ~(kFlagReadOnly | kFlagShared)) |
                                  (read_only ? kFlagReadOnly : 0) |
                                  ((mode & DB_OPEN_SHARED) ? kFlagShared : 0));
    const int fd = host().open(name, read_only ? O_RDONLY : O_RDWR);
    if (fd < 0) return fail(translate_open_error(errno));
    // A directory opens read-only on this host; it is no file of ours either way.
    struct stat info;
    if (host().fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        host().close(fd);
        return fail(translate_open_error(EISDIR));
    }
    *descriptor = fd;
    return DBerrno;
}

int32_t DBosCloseFile(int32_t descriptor) {
    forget_locks(descriptor);
    if (host().close(descriptor) < 0) return fail(translate(kCloseErrors, errno));
    return DBerrno;
}

int32_t DBosReadData(int32_t descriptor, void* buffer, uint16_t count) {
    if (!buffer) return fail(DB_ERR_NULL);
    const ssize_t got = host().read(descriptor, buffer, count);
    vk_read_length = static_cast<int16_t>(got);
    if (got < 0) return fail(translate(kReadErrors, errno));
    if (static_cast<uint16_t>(got) != count) return fail(DB_ERR_READ);
    return DBerrno;
}

int32_t DBosWriteData(int32_t descriptor, const void* buffer, int32_t count, int16_t flush) {
    if (!buffer) return fail(DB_ERR_NULL);
    if (count < 0) return fail(DB_ERR_COMMAND);
    const ssize_t written = host().write(descriptor, buffer, static_cast<size_t>(count));
    if (written < 0) return fail(translate(kWriteErrors, errno));
    if (written != count) return fail_unlogged(DB_ERR_WRITE);
    if (DBerrno >= 0 && flush) return DBosFlushFile(descriptor);
    return DBerrno;
}

int32_t DBosSetFilePosition(int32_t descriptor, int32_t position) {
    const off_t at = host().lseek(descriptor, position, SEEK_SET);
    if (at < 0) return fail(translate(kSeekErrors, errno));
    if (at != position) return fail_unlogged(DB_ERR_SEEK);
    return DBerrno;
}

int32_t DBosGetFilePosition(int32_t descriptor, int32_t* position) {
    if (!position) return fail(DB_ERR_NULL);
    return current_position(descriptor, position);
}

int32_t DBosFileLength(int32_t descriptor, int32_t* length) {
    if (!length) return fail(DB_ERR_NULL);
    DBerrno = 0;
    int32_t position = 0;
    if (int32_t code = DBosGetFilePosition(descriptor, &position); code < 0) {
        *length = -1;
        return fail(code);
    }
    const off_t end = host().lseek(descriptor, 0, SEEK_END);
    if (end < 0 || end > kMaxPosition) {
        *length = -1;
        const int32_t code = end < 0 ? translate(kSeekErrors, errno) : DB_ERR_SEEK;
        host().lseek(descriptor, position, SEEK_SET);
        return fail(code);
    }
    *length = static_cast<int32_t>(end);
    return DBosSetFilePosition(descriptor, position);
}

int32_t DBosSetFileSize(int32_t descriptor, int32_t size) {
    if (host().lseek(descriptor, 0, SEEK_END) < 0) return fail(DB_ERR_SEEK);
    int32_t length = 0;
    if (int32_t code = current_position(descriptor, &length); code < 0) return fail(code);
    if (length > size) {
        if (host().ftruncate(descriptor, size) < 0) return fail(translate(kTruncateErrors, errno));
        // Leave the position at the new end, as the growing branch does, so that a
        // following write cannot leave a hole.
        if (host().lseek(descriptor, size, SEEK_SET) < 0) return fail(DB_ERR_SEEK);
        return DBerrno;
    }
    return append_zeros(descriptor, size - length);
}

int32_t DBosEndOfFile(int32_t descriptor, uint8_t* at_end) {
    if (!at_end) return fail(DB_ERR_NULL);
    int32_t position = 0;
    int32_t length = 0;
    const int32_t saved = DBerrno;
    if (int32_t code = DBosGetFilePosition(descriptor, &position); code < 0) return fail(code);
    if (int32_t code = DBosFileLength(descriptor, &length); code < 0) return fail(code);
    DBerrno = saved;
    *at_end = position >= length ? 1 : 0;
    return DBerrno;
}

int32_t DBosFlushFile(int32_t /*descriptor*/) {
    // Every write is one host call on an unbuffered descriptor: nothing to flush.
    return DBerrno;
}

int32_t DBSetFilePosition(int32_t handle, int32_t offset, int32_t origin) {
    Packet* table = packet_of(handle, Kind::dbf);
    if (!table) return fail(DB_ERR_HANDLE);
    // Only the three classic origins: this host reads 3 and 4 as SEEK_DATA and
    // SEEK_HOLE and would move the descriptor instead of refusing the command.
    if (origin < DB_SEEK_SET || origin > DB_SEEK_END) return fail(DB_ERR_COMMAND);
    const off_t at = host().lseek(table->fd, offset, origin);
    if (at < 0) {
        const int32_t code = (errno == EBADF) ? DB_ERR_HANDLE
                             : (errno == EINVAL) ? DB_ERR_COMMAND
                                                 : DB_ERR_SEEK;
        return fail(code);
    }
    if (at > kMaxPosition) return fail(DB_ERR_SEEK);
    return static_cast<int32_t>(at);
}

}  // extern "C"

namespace xbdb::os {

int32_t _DBosRenameFile(const char* new_name, const char* old_name) {
    if (!new_name || !old_name) return fail(DB_ERR_NULL);
    if (host().rename(old_name, new_name) < 0) return fail(translate(kRenameErrors, errno));
    return DBerrno;
}

int32_t _DBosDeleteFile(const char* name) {
    if (!name) return fail(DB_ERR_NULL);
    if (host().unlink(name) < 0) {
        if (errno == ENOENT) return fail_unlogged(DB_WARN_KEY_NOT_FOUND);
        return fail(translate(kDeleteErrors, errno));
    }
    return DBerrno;
}

int32_t _DBIsFileThere(const char* name) {
    // Asked of the host with stat, never by opening and closing the file: closing any
    // descriptor of a file drops every lock this process holds on it.
    if (!name) {
        log_again(DB_ERR_NULL);
        return 0;
    }
    struct stat info;
    int err = 0;
    if (!*name) {
        log_again(DB_ERR_FILENAME);
        return 0;
    }
    if (host().stat(name, &info) < 0) {
        err = errno;
    } else if (S_ISDIR(info.st_mode)) {
        err = EISDIR;
    }
    if (err == 0) return 1;
    // The same line an open of the missing file would have logged; a file that is
    // there but may not be read still counts as there.
    const int32_t code = translate_open_error(err);
    log_again(code);
    return code == DB_ERR_ACCESS_DENIED ? 1 : 0;
}

}  // namespace xbdb::os
