// A host for tests: plain POSIX underneath, but any call can be made to fail (or to
// come back short) on its Nth use from now, sleeps are counted instead of slept,
// and live allocations and descriptors are tracked so a test can check that an
// error path leaked nothing.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <set>

#include "os/host.hpp"

namespace xbdb::test {

enum class Call {
    open, creat, close, read, write, lseek, ftruncate, fstat, stat, unlink, rename,
    fcntl, allocate, reallocate, local_time, count_
};

class FaultHost : public os::PosixHost {
public:
    // The nth call of kind (1 = the next one) fails with err (allocations return null).
    void fail_nth(Call kind, int n, int err);
    // The nth read or write transfers at most bytes bytes.
    void short_nth(Call kind, int n, std::size_t bytes);
    // Sleeps are counted; with real_sleep they also happen.
    bool real_sleep = false;

    int calls(Call kind) const { return counts_[static_cast<int>(kind)]; }
    int sleeps() const { return sleeps_; }
    std::size_t live_blocks() const { return blocks_.size(); }
    std::size_t open_descriptors() const { return fds_.size(); }

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

private:
    struct Plan {
        int n;
        int err;
        std::optional<std::size_t> short_bytes;
    };
    // Counts the call; true (with errno set) when this one is planned to fail.
    bool strike(Call kind, std::size_t* limit = nullptr);

    std::array<int, static_cast<int>(Call::count_)> counts_{};
    std::multimap<Call, Plan> plans_;
    std::set<void*> blocks_;
    std::set<int> fds_;
    int sleeps_ = 0;
};

// Installs a host for the lifetime of the object and puts the previous one back.
class ScopedHost {
public:
    explicit ScopedHost(os::Host& replacement) : previous_(os::set_host(&replacement)) {}
    ~ScopedHost() { os::set_host(previous_); }
    ScopedHost(const ScopedHost&) = delete;
    ScopedHost& operator=(const ScopedHost&) = delete;

private:
    os::Host* previous_;
};

}  // namespace xbdb::test
