// Several processes on one NTX file: the index lock, and cached pages that must not
// outlive another process's changes.
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "ntx_fixture.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

// A child process that runs turns when told to, over a pair of pipes.
class Peer {
public:
    template <class Turn>
    explicit Peer(Turn turn) {
        int go[2], done[2];
        if (pipe(go) != 0 || pipe(done) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            ::close(go[1]);
            ::close(done[0]);
            char n = 0;
            bool ok = true;
            while (::read(go[0], &n, 1) == 1) {
                ok = ok && turn(n);
                const char answer = ok ? 1 : 0;
                if (::write(done[1], &answer, 1) != 1) break;
            }
            _exit(ok ? 0 : 1);
        }
        ::close(go[0]);
        ::close(done[1]);
        go_ = go[1];
        done_ = done[0];
    }
    ~Peer() {
        ::close(go_);
        ::close(done_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    // Runs turn n in the child; true when every turn so far succeeded.
    bool run(char n) {
        char answer = 0;
        return ::write(go_, &n, 1) == 1 && ::read(done_, &answer, 1) == 1 && answer == 1;
    }

private:
    pid_t pid_ = -1;
    int go_ = -1, done_ = -1;
};

class NtxShared : public NtxTest {};

// Adds keys base .. base + n - 1 under the index lock.
bool add_locked(int32_t h, int base, int n) {
    if (DBclLockIndex(h) != 0) return false;
    bool ok = true;
    for (int i = base; i < base + n; ++i) ok = ok && DBclAddKey(h, key_of(i, 8).c_str(), i) == 0;
    return DBclUnLockIndex(h) == 0 && ok;
}

}  // namespace

TEST_F(NtxShared, BufferedProcessSeesThePageAnotherProcessChangedUnderTheLock) {
    const std::string path = create("S.NTX", 8);
    const int32_t a = open(path, DB_OPEN_SHARED);
    Peer b([&](char) {
        DBTerminate();
        DBInitialize(20, 1);
        int32_t h = -1;
        if (DBclOpenIndex(&h, path.c_str(), DB_OPEN_SHARED) < 0) return false;
        const bool ok = add_locked(h, 2, 1);  // L into the page that A holds in its cache
        return DBclCloseIndex(h) == 0 && ok;
    });
    ASSERT_TRUE(add_locked(a, 1, 1));  // K
    ASSERT_TRUE(b.run(1));
    ASSERT_TRUE(add_locked(a, 3, 1));  // M: A must not write back its old copy
    EXPECT_EQ(walk_forward(a), (KeyList{{"00000001", 1}, {"00000002", 2}, {"00000003", 3}}));
    ASSERT_EQ(DBclCloseIndex(a), 0);
    const int32_t again = open(path);
    EXPECT_EQ(walk_forward(again).size(), 3u);
}

TEST_F(NtxShared, TwoBufferedProcessesTakingTurnsKeepEveryKey) {
    const std::string path = create("T.NTX", 8);
    int32_t child_handle = -1;
    Peer b([&](char turn) {
        if (child_handle < 0) {
            DBTerminate();
            DBInitialize(20, 1);
            if (DBclOpenIndex(&child_handle, path.c_str(), DB_OPEN_SHARED) < 0) return false;
        }
        return add_locked(child_handle, 1000 + turn * 37, 37);
    });
    const int32_t a = open(path, DB_OPEN_SHARED);
    for (char turn = 0; turn < 12; ++turn) {
        ASSERT_TRUE(add_locked(a, 5000 + turn * 41, 41));
        ASSERT_TRUE(b.run(turn));
    }
    const KeyList keys = walk_forward(a);
    EXPECT_EQ(keys.size(), 12u * (37 + 41));
    EXPECT_EQ(std::set<KeyList::value_type>(keys.begin(), keys.end()).size(), keys.size());
    EXPECT_EQ(problems(a), std::vector<std::string>{});
}

TEST_F(NtxShared, AutomaticLockingHoldsTheLockByteOnlyDuringAnUpdate) {
    const std::string path = create("L.NTX", 8);
    const int32_t a = open(path, DB_OPEN_AUTOLOCK);
    DBclIndexInfo info{};
    ASSERT_EQ(DBclGetIndexInfo(a, &info), 0);
    EXPECT_EQ(info.state & 0x07, DB_INFO_SHARED | DB_INFO_UNBUFFERED);
    // While another process holds the lock byte, an update is refused.
    Peer b([&](char turn) {
        static int32_t fd = -1;
        uint8_t flags = 0;
        if (turn == 0) return DBosOpenFile(&fd, path.c_str(), DB_OPEN_SHARED, &flags) >= 0 &&
                              DBosLockData(fd, DB_LOCK_EXCLUSIVE, 1000000000u, 1) == 0;
        return DBosLockData(fd, DB_LOCK_RELEASE, 1000000000u, 1) == 0;
    });
    ASSERT_TRUE(b.run(0));
    EXPECT_LT(DBclAddKey(a, "00000001", 1), 0);
    ASSERT_TRUE(b.run(1));
    EXPECT_EQ(DBclAddKey(a, "00000001", 1), 0);
    ASSERT_EQ(DBclGetIndexInfo(a, &info), 0);
    EXPECT_EQ(info.lock_state, 0);
    EXPECT_EQ(DBclLockIndex(a), 0);
    ASSERT_EQ(DBclGetIndexInfo(a, &info), 0);
    EXPECT_EQ(info.lock_state, 4);
    EXPECT_EQ(DBclAddKey(a, "00000002", 2), 0);  // under the caller's lock
    EXPECT_EQ(DBclUnLockIndex(a), 0);
    EXPECT_EQ(walk_forward(a).size(), 2u);
}

namespace {

// Adds keys base .. base + n - 1, each under the index lock, retrying a refused lock
// after a short pause so that two processes really interleave.
bool add_contending(int32_t h, int base, int n) {
    for (int i = base; i < base + n; ++i) {
        int32_t code;
        while ((code = DBclLockIndex(h)) == DB_ERR_LOCK_VIOLATION) usleep(50);
        if (code < 0) return false;
        const bool added = DBclAddKey(h, key_of(i, 8).c_str(), static_cast<uint32_t>(i)) == 0;
        if (DBclUnLockIndex(h) != 0 || !added) return false;
    }
    return true;
}

}  // namespace

TEST_F(NtxShared, TwoProcessesAddingAtOnceUnderTheLockKeepEveryKeyOnce) {
    for (const int32_t mode : {DB_OPEN_SHARED, DB_OPEN_SHARED | DB_OPEN_UNBUFFERED}) {
        SCOPED_TRACE(mode);
        const std::string path = create(mode & DB_OPEN_UNBUFFERED ? "U.NTX" : "B.NTX", 8);
        constexpr int kEach = 300;
        const pid_t child = fork();
        if (child == 0) {
            DBTerminate();
            DBInitialize(20, 1);
            int32_t h = -1;
            const bool ok = DBclOpenIndex(&h, path.c_str(), mode) == 0 &&
                            add_contending(h, 100000, kEach) && DBclCloseIndex(h) == 0;
            _exit(ok ? 0 : 1);
        }
        const int32_t a = open(path, mode);
        EXPECT_TRUE(add_contending(a, 200000, kEach));
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        ASSERT_EQ(DBclCloseIndex(a), 0);

        const int32_t again = open(path);
        const KeyList keys = walk_forward(again);
        EXPECT_EQ(keys.size(), 2u * kEach);
        EXPECT_EQ(std::set<KeyList::value_type>(keys.begin(), keys.end()).size(), keys.size());
        EXPECT_EQ(problems(again), std::vector<std::string>{});
        DBclCloseIndex(again);
    }
}
