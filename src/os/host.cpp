#include "os/host.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace xbdb::os {

int PosixHost::open(const char* path, int flags) { return ::open(path, flags | O_CLOEXEC); }
int PosixHost::creat(const char* path, mode_t mode) {
    return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
}
int PosixHost::close(int fd) { return ::close(fd); }
ssize_t PosixHost::read(int fd, void* buffer, size_t count) { return ::read(fd, buffer, count); }
ssize_t PosixHost::write(int fd, const void* buffer, size_t count) {
    return ::write(fd, buffer, count);
}
off_t PosixHost::lseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int PosixHost::ftruncate(int fd, off_t size) { return ::ftruncate(fd, size); }
int PosixHost::fstat(int fd, struct stat* info) { return ::fstat(fd, info); }
int PosixHost::stat(const char* path, struct stat* info) { return ::stat(path, info); }
int PosixHost::unlink(const char* path) { return ::unlink(path); }
int PosixHost::rename(const char* from, const char* to) { return ::rename(from, to); }
int PosixHost::fcntl_lock(int fd, int command, struct flock* lock) {
    return ::fcntl(fd, command, lock);
}
void PosixHost::sleep_seconds(unsigned seconds) { ::sleep(seconds); }
bool PosixHost::local_time(std::tm& out) {
    std::time_t now = std::time(nullptr);
    return ::localtime_r(&now, &out) != nullptr;
}
void* PosixHost::allocate(size_t size) { return std::malloc(size); }
void* PosixHost::reallocate(void* block, size_t size) { return std::realloc(block, size); }
void PosixHost::release(void* block) { std::free(block); }

namespace {
PosixHost posix_host;
Host* current_host = &posix_host;
}  // namespace

Host& host() { return *current_host; }

Host* set_host(Host* replacement) {
    Host* previous = current_host;
    current_host = replacement ? replacement : &posix_host;
    return previous;
}

}  // namespace xbdb::os
