// Byte-range locks against other processes, the retry rule, offset folding and the
// process lock table.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/state.hpp"
#include "os/file_io.hpp"
#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using xbdb::test::Call;
using xbdb::test::FaultHost;
using xbdb::test::ScopedHost;

namespace {

struct flock range(short type, off_t start, off_t length) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return lock;
}

// Another process: it opens path, makes one fcntl request and writes the struct
// back through a pipe. With keep, it holds what it got until the object goes away.
class Child {
public:
    Child(const std::string& path, int command, struct flock request, bool keep = false) {
        int channel[2];
        if (pipe(channel) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = ::open(path.c_str(), O_RDWR);
            if (fd < 0 || fcntl(fd, command, &request) != 0) request.l_type = -1;
            if (::write(channel[1], &request, sizeof request) != sizeof request) _exit(1);
            while (keep) pause();
            _exit(0);
        }
        ::close(channel[1]);
        if (::read(channel[0], &answer_, sizeof answer_) != sizeof answer_) answer_.l_type = -1;
        ::close(channel[0]);
    }
    ~Child() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    const struct flock& answer() const { return answer_; }
    bool granted() const { return answer_.l_type != -1; }

private:
    pid_t pid_ = -1;
    struct flock answer_ = range(-1, 0, 0);
};

// Whether another process sees exactly [start, start + length) write-locked by us.
::testing::AssertionResult held_here(const std::string& path, off_t start, off_t length) {
    const Child child(path, F_GETLK, range(F_WRLCK, start, length));
    const struct flock& seen = child.answer();
    if (seen.l_type == F_WRLCK && seen.l_start == start && seen.l_len == length &&
        seen.l_pid == getpid())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "type " << seen.l_type << " start " << seen.l_start
                                         << " length " << seen.l_len;
}

bool free_elsewhere(const std::string& path, off_t start, off_t length) {
    return Child(path, F_GETLK, range(F_WRLCK, start, length)).answer().l_type == F_UNLCK;
}

using Entries = std::vector<std::tuple<uint32_t, int32_t, int32_t>>;

class Locks : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_file(path_, std::string(64, 'x'));
        ASSERT_EQ(DBInitialize(20, 1), 0);
        DBsamba = 0;
        DBlock_retry = 0;
        fd_ = open_file(path_);
    }
    void TearDown() override {
        DBosCloseFile(fd_);
        DBTerminate();
        DBsamba = 0;
        DBlock_retry = 0;
    }

    static int32_t open_file(const std::string& path) {
        int32_t fd = -1;
        uint8_t flags = 0;
        EXPECT_EQ(DBosOpenFile(&fd, path.c_str(), DB_OPEN_SHARED, &flags), 0);
        return fd;
    }
    // The lock table as (offset, length, descriptor), in order.
    static Entries table() {
        Entries entries;
        for (int i = 0; i < DBbase.locks_used; ++i)
            entries.emplace_back(DBbase.locks[i].offset, DBbase.locks[i].length, DBbase.locks[i].fd);
        return entries;
    }

    test::ScratchDir dir_;
    const std::string path_ = dir_.file("t.dbf");
    FaultHost host_;
    ScopedHost guard_{host_};
    int32_t fd_ = -1;
};

}  // namespace

TEST_F(Locks, ConflictingLocksOfAnotherProcessAreRefused) {
    {
        Child writer(path_, F_SETLK, range(F_WRLCK, 100, 10), true);
        ASSERT_TRUE(writer.granted());
        ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 20, 4), 0);
        EXPECT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 105, 1), -237);
        EXPECT_EQ(DBosLockData(fd_, DB_LOCK_SHARED, 109, 5), -237);
        EXPECT_EQ(table(), (Entries{{20, 4, fd_}}));  // refusals change nothing
        DBerrno = 0;
        EXPECT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 110, 1), 0);
    }
    Child reader(path_, F_SETLK, range(F_RDLCK, 200, 10), true);
    ASSERT_TRUE(reader.granted());
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_SHARED, 200, 10), 0);
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 200, 10), -237);
    EXPECT_EQ(table(), (Entries{{20, 4, fd_}, {110, 1, fd_}}));  // shared locks are not entered
}

TEST_F(Locks, RetryCountBoundsTheTriesAndEachRefusalWaits) {
    Child other(path_, F_SETLK, range(F_WRLCK, 0, 8), true);
    ASSERT_TRUE(other.granted());
    // retry count, tries, sleeps: each refused try sleeps, the last one too
    for (auto [retry, tries, sleeps] : {std::tuple{3, 3, 3}, {1, 1, 1}, {0, 1, 0}, {-2, 1, 0}}) {
        DBlock_retry = retry;
        const int calls_before = host_.calls(Call::fcntl), sleeps_before = host_.sleeps();
        EXPECT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 4, 1), -237) << retry;
        EXPECT_EQ(host_.calls(Call::fcntl) - calls_before, tries) << retry;
        EXPECT_EQ(host_.sleeps() - sleeps_before, sleeps) << retry;
    }
    DBerrno = 0;  // the host layer keeps it on success
    const int sleeps = host_.sleeps();
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 8, 1), 0);  // free: granted at once
    EXPECT_EQ(host_.sleeps(), sleeps);
}

TEST_F(Locks, HostErrorsAreTranslatedAndARefusedReleaseKeepsTheEntry) {
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 10, 2), 0);
    for (auto [err, code] : {std::pair{EACCES, -237}, {EAGAIN, -237}, {EBADF, -213}, {EDEADLK, -238},
                             {ENOLCK, host_error(ENOLCK)}}) {
        host_.fail_nth(Call::fcntl, 1, err);
        EXPECT_EQ(DBosLockData(fd_, DB_LOCK_RELEASE, 10, 2), code) << err;
        EXPECT_EQ(table(), (Entries{{10, 2, fd_}}));
    }
}

TEST_F(Locks, FullTableRefusesExclusiveLocksBeforeAskingTheHost) {
    ASSERT_EQ(DBSetLockCount(2), 0);
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 0, 1), 0);
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 1, 1), 0);
    const int calls = host_.calls(Call::fcntl);
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 2, 1), -260);
    EXPECT_EQ(host_.calls(Call::fcntl), calls);
    EXPECT_TRUE(free_elsewhere(path_, 2, 1));

    DBerrno = 0;
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_SHARED, 3, 1), 0);
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_RELEASE, 0, 1), 0);
    EXPECT_EQ(table(), (Entries{{1, 1, fd_}}));
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 2, 1), 0);
}

TEST_F(Locks, FoldingMovesOnlyTheHostOffset) {
    DBsamba = 1;
    // 0xEFFFFFFE: low 30 bits 0x2FFFFFFE; top bits 11 move down to 0x30000000.
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 0xEFFFFFFEu, 1), 0);
    EXPECT_TRUE(held_here(path_, 0x3FFFFFFE, 1));
    EXPECT_TRUE(free_elsewhere(path_, 0xEFFFFFFELL, 1));
    EXPECT_EQ(DBosTestLock(fd_, 0xEFFFFFFEu, 1), 1);
    EXPECT_EQ(DBosTestLock(fd_, 0x3FFFFFFEu, 1), 0);
    // 0x80000001: top bits 10 -> 0x20000000.
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 0x80000001u, 2), 0);
    EXPECT_TRUE(held_here(path_, 0x20000001, 2));
    EXPECT_EQ(table(), (Entries{{0xEFFFFFFEu, 1, fd_}, {0x80000001u, 2, fd_}}));

    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_RELEASE, 0xEFFFFFFEu, 1), 0);
    EXPECT_TRUE(free_elsewhere(path_, 0x3FFFFFFE, 1));
    EXPECT_EQ(table(), (Entries{{0x80000001u, 2, fd_}}));
}

TEST_F(Locks, OffsetsAbove31BitsReachTheHostUnchanged) {
    for (uint32_t offset : {0x7FFFFFF0u, 0x80000000u, 0xEFFFFFFEu, 0xFFFFFFFEu}) {
        ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, offset, 1), 0) << offset;
        EXPECT_TRUE(held_here(path_, static_cast<off_t>(offset), 1)) << offset;
    }
    Child other(path_, F_SETLK, range(F_WRLCK, 0xFFFFFFFELL, 1), true);
    EXPECT_FALSE(other.granted());
}

TEST_F(Locks, TableEntriesFollowExactRanges) {
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 10, 5), 0);
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 30, 1), 0);
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 10, 5), 0);
    EXPECT_EQ(table(), (Entries{{10, 5, fd_}, {30, 1, fd_}, {10, 5, fd_}}));

    // Overlapping but different ranges leave the entries.
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_RELEASE, 8, 10), 0);
    EXPECT_EQ(table().size(), 3u);

    // One release removes the first match and closes the gap.
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_RELEASE, 10, 5), 0);
    EXPECT_EQ(table(), (Entries{{30, 1, fd_}, {10, 5, fd_}}));
    EXPECT_EQ(DBosTestLock(fd_, 10, 5), 1);
    EXPECT_EQ(DBosLockData(fd_, DB_LOCK_RELEASE, 10, 5), 0);
    EXPECT_EQ(DBosTestLock(fd_, 10, 5), 0);
}

TEST_F(Locks, ClosingADescriptorForgetsItsEntries) {
    const std::string other_path = dir_.file("u.dbf");
    test::write_file(other_path, "");
    const int32_t other = open_file(other_path);
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 1, 1), 0);
    ASSERT_EQ(DBosLockData(other, DB_LOCK_EXCLUSIVE, 2, 1), 0);
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 3, 1), 0);
    EXPECT_EQ(DBosCloseFile(fd_), 0);
    EXPECT_EQ(table(), (Entries{{2, 1, other}}));

    // A new open that gets the same number finds no stale entry.
    const int32_t again = open_file(path_);
    ASSERT_EQ(again, fd_);
    EXPECT_EQ(DBosTestLock(again, 1, 1), 0);
    DBosCloseFile(other);
}

TEST_F(Locks, ExistenceTestKeepsTheLocksOfThisProcess) {
    ASSERT_EQ(DBosLockData(fd_, DB_LOCK_EXCLUSIVE, 0, 10), 0);
    EXPECT_EQ(os::_DBIsFileThere(path_.c_str()), 1);
    EXPECT_TRUE(held_here(path_, 0, 10));
    EXPECT_EQ(DBosTestLock(fd_, 0, 10), 1);
}
