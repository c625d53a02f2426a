#include "support/host_faults.hpp"

#include <cerrno>

namespace xbdb::test {

void FaultHost::fail_nth(Call kind, int n, int err) {
    plans_.emplace(kind, Plan{calls(kind) + n, err, std::nullopt});
}

void FaultHost::short_nth(Call kind, int n, std::size_t bytes) {
    plans_.emplace(kind, Plan{calls(kind) + n, 0, bytes});
}

bool FaultHost::strike(Call kind, std::size_t* limit) {
    const int number = ++counts_[static_cast<int>(kind)];
    auto [first, last] = plans_.equal_range(kind);
    for (auto it = first; it != last; ++it) {
        if (it->second.n != number) continue;
        const Plan plan = it->second;
        plans_.erase(it);
        if (plan.short_bytes) {
            if (limit && *limit > *plan.short_bytes) *limit = *plan.short_bytes;
            return false;
        }
        errno = plan.err;
        return true;
    }
    return false;
}

int FaultHost::open(const char* path, int flags) {
    if (strike(Call::open)) return -1;
    const int fd = PosixHost::open(path, flags);
    if (fd >= 0) fds_.insert(fd);
    return fd;
}

int FaultHost::creat(const char* path, mode_t mode) {
    if (strike(Call::creat)) return -1;
    const int fd = PosixHost::creat(path, mode);
    if (fd >= 0) fds_.insert(fd);
    return fd;
}

int FaultHost::close(int fd) {
    if (strike(Call::close)) return -1;
    fds_.erase(fd);
    return PosixHost::close(fd);
}

ssize_t FaultHost::read(int fd, void* buffer, size_t count) {
    if (strike(Call::read, &count)) return -1;
    return PosixHost::read(fd, buffer, count);
}

ssize_t FaultHost::write(int fd, const void* buffer, size_t count) {
    if (strike(Call::write, &count)) return -1;
    return PosixHost::write(fd, buffer, count);
}

off_t FaultHost::lseek(int fd, off_t offset, int whence) {
    return strike(Call::lseek) ? -1 : PosixHost::lseek(fd, offset, whence);
}

int FaultHost::ftruncate(int fd, off_t size) {
    return strike(Call::ftruncate) ? -1 : PosixHost::ftruncate(fd, size);
}

int FaultHost::fstat(int fd, struct stat* info) {
    return strike(Call::fstat) ? -1 : PosixHost::fstat(fd, info);
}

int FaultHost::stat(const char* path, struct stat* info) {
    return strike(Call::stat) ? -1 : PosixHost::stat(path, info);
}

int FaultHost::unlink(const char* path) {
    return strike(Call::unlink) ? -1 : PosixHost::unlink(path);
}

int FaultHost::rename(const char* from, const char* to) {
    return strike(Call::rename) ? -1 : PosixHost::rename(from, to);
}

int FaultHost::fcntl_lock(int fd, int command, struct flock* lock) {
    return strike(Call::fcntl) ? -1 : PosixHost::fcntl_lock(fd, command, lock);
}

void FaultHost::sleep_seconds(unsigned seconds) {
    ++sleeps_;
    if (real_sleep) PosixHost::sleep_seconds(seconds);
}

bool FaultHost::local_time(std::tm& out) {
    return strike(Call::local_time) ? false : PosixHost::local_time(out);
}

void* FaultHost::allocate(size_t size) {
    if (strike(Call::allocate)) return nullptr;
    void* block = PosixHost::allocate(size);
    if (block) blocks_.insert(block);
    return block;
}

void* FaultHost::reallocate(void* block, size_t size) {
    if (strike(Call::reallocate)) return nullptr;
    void* moved = PosixHost::reallocate(block, size);
    if (moved) {
        blocks_.erase(block);
        blocks_.insert(moved);
    }
    return moved;
}

void FaultHost::release(void* block) {
    blocks_.erase(block);
    PosixHost::release(block);
}

}  // namespace xbdb::test
