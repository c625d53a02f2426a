// The host behind a seam.
//
// Every call that the library makes to the operating system for files, locks,
// sleeping, the clock and memory goes through the one Host object returned by
// host(). Production uses the POSIX implementation; tests install a Host of their
// own (usually deriving from PosixHost) that fails a chosen call with a chosen errno,
// so that every error path can be walked and checked for leaks.
//
// Each function behaves like the POSIX call it is named after: on failure it returns
// -1 (or null) and leaves the reason in errno.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>

namespace xbdb::os {

class Host {
public:
    virtual ~Host() = default;

    virtual int open(const char* path, int flags) = 0;
    virtual int creat(const char* path, mode_t mode) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buffer, size_t count) = 0;
    virtual ssize_t write(int fd, const void* buffer, size_t count) = 0;
    virtual off_t lseek(int fd, off_t offset, int whence) = 0;
    virtual int ftruncate(int fd, off_t size) = 0;
    virtual int fstat(int fd, struct stat* info) = 0;
    virtual int stat(const char* path, struct stat* info) = 0;
    virtual int unlink(const char* path) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    // fcntl with F_SETLK or F_GETLK on a 64-bit struct flock.
    virtual int fcntl_lock(int fd, int command, struct flock* lock) = 0;

    virtual void sleep_seconds(unsigned seconds) = 0;
    // Local broken-down time of now; false when the clock cannot be read.
    virtual bool local_time(std::tm& out) = 0;

    virtual void* allocate(size_t size) = 0;
    virtual void* reallocate(void* block, size_t size) = 0;
    virtual void release(void* block) = 0;
};

// Plain POSIX and C library calls.
class PosixHost : public Host {
public:
    int open(const char* path, int flags) override;
    int creat(const char* path, mode_t mode) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    off_t lseek(int fd, off_t offset, int whence) override;
    int ftruncate(int fd, off_t size) override;
    int fstat(int fd, struct stat* info) override;
    int stat(const char* path, struct stat* info) override;
    int unlink(const char* path) override;
    int rename(const char* from, const char* to) override;
    int fcntl_lock(int fd, int command, struct flock* lock) override;
    void sleep_seconds(unsigned seconds) override;
    bool local_time(std::tm& out) override;
    void* allocate(size_t size) override;
    void* reallocate(void* block, size_t size) override;
    void release(void* block) override;
};

Host& host();

// Installs a host for all later calls and returns the one it replaces; null puts
// the POSIX host back. The caller keeps ownership of what it installs.
Host* set_host(Host* replacement);

}  // namespace xbdb::os
