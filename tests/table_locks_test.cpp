// Table locks: the lock ranges of every scheme, the lock state and count, the lock
// list, and several processes sharing one table.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/state.hpp"
#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"
#include "table/table.hpp"

using namespace xbdb;
using namespace xbdb::table;

namespace {

// ---- lock ranges ---------------------------------------------------------------------

void shape(TablePacket& t, int dialect, uint16_t header_length, uint16_t record_length,
           uint8_t production = 0) {
    t.dialect = static_cast<uint8_t>(dialect);
    put_le16(t.header + kHeaderLengthAt, header_length);
    put_le16(t.header + kRecordLengthAt, record_length);
    t.header[kProductionAt] = production;
}

void expect_range(LockRange got, LockRange want) {
    EXPECT_EQ(got.offset, want.offset);
    EXPECT_EQ(got.length, want.length);
}

void expect_info(DBLockInfo got, int32_t kind, int32_t record = 0) {
    EXPECT_EQ(got.kind, kind);
    if (kind == DB_LOCKINFO_RECORD) {
        EXPECT_EQ(got.record, record);
    }
}

class TableLockScheme : public ::testing::Test {
protected:
    void TearDown() override { DBsamba = 0; }
    TablePacket t;
};

// The ranges another process sees are checked below for every scheme; here, the
// record numbers that must be folded into the scheme's range first.
TEST_F(TableLockScheme, LargeRecordNumbersAreFoldedIntoTheirSchemesRange) {
    const struct {
        int dialect;
        uint16_t record_length;
        uint8_t production;
        int32_t n;
        uint32_t offset;
    } rows[] = {
        {2, 50, 1, 0x40000001, 0xAFFFFFFD},  // downward from 0xEFFFFFFE, never folded
        {5, 50, 1, 0x40000001, 0x7B9ACA01},  // one billion + n
        {3, 1, 0, 0x40000001, 0x50000061},   // 0x40000000 | offset of record 0x10000001
        {4, 20, 1, 0x40000001, 0x6FFFFFFD},  // downward from 0x7FFFFFFE
        {8, 20, 1, INT32_MIN, 0x5FFFFFFE},
    };
    for (const auto& row : rows) {
        shape(t, row.dialect, 97, row.record_length, row.production);
        expect_range(_lock_adrs(t, LockKind::record, row.n), {row.offset, 1});
    }
}

TEST_F(TableLockScheme, DecodingOfTheHighBitHeaderAndFileRanges) {
    shape(t, 3, 97, 20);
    // A lone header lock is the header, the real file range is the file.
    expect_info(describe_lock(t, {0x40000000, 1}), DB_LOCKINFO_HEADER);
    expect_info(describe_lock(t, {0x3FFFFFFE, 1}), DB_LOCKINFO_FILE);
    expect_info(describe_lock(t, {0x40000075, 1}), DB_LOCKINFO_RECORD, 2);
    // Dialect 2's whole-file range shares no offset with its header.
    shape(t, 2, 97, 20);
    expect_info(describe_lock(t, {0x40000000, 2}), DB_LOCKINFO_FILE);
    expect_info(describe_lock(t, {0xEFFFFFFE, 1}), DB_LOCKINFO_HEADER);
    // A damaged record length decodes without dividing by zero.
    shape(t, 1, 97, 0);
    expect_info(describe_lock(t, {229, 0}), DB_LOCKINFO_RECORD, 0);
}

// ---- processes -----------------------------------------------------------------------

// Runs body in a child process and returns its exit status (-1 if it did not exit).
int in_child(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct HostRange {
    int64_t start;
    int64_t length;
};

// From another process: every range in held is blocked by a lock of exactly that
// range (of type held_type), every range in free by nothing. Returns 0, or the
// 1-based number of the first range that did not match.
int probe(const std::string& path, const std::vector<HostRange>& held,
          const std::vector<HostRange>& free, short held_type = F_WRLCK) {
    return in_child([&] {
        const int fd = ::open(path.c_str(), O_RDWR);
        if (fd < 0) return 100;
        const auto query = [fd](const HostRange& r) {
            struct flock q = {};
            q.l_type = F_WRLCK;
            q.l_whence = SEEK_SET;
            q.l_start = r.start;
            q.l_len = r.length;
            if (fcntl(fd, F_GETLK, &q) != 0) q.l_type = -1;
            return q;
        };
        int n = 0;
        for (const HostRange& r : held) {
            ++n;
            const struct flock q = query(r);
            if (q.l_type != held_type || q.l_start != r.start || q.l_len != r.length ||
                q.l_pid != getppid())
                return n;
        }
        for (const HostRange& r : free) {
            ++n;
            if (query(r).l_type != F_UNLCK) return n;
        }
        return 0;
    });
}

// A second process that runs setup (usually: open the table and lock something) and
// then holds what it took until this object is destroyed.
class OtherProcess {
public:
    explicit OtherProcess(const std::function<int32_t()>& setup) {
        int up[2];
        if (pipe(up) != 0) return;
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            const int32_t result = setup();
            if (write(up[1], &result, sizeof result) != sizeof result) _exit(1);
            for (;;) pause();
        }
        ::close(up[1]);
        if (read(up[0], &result_, sizeof result_) != sizeof result_) result_ = -1;
        ::close(up[0]);
    }
    ~OtherProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;
    int32_t setup_result() const { return result_; }

private:
    pid_t pid_ = -1;
    int32_t result_ = -1;
};

// Retries a call refused for a lock held elsewhere, with short waits.
int32_t retry(const std::function<int32_t()>& call) {
    int32_t code = call();
    for (int tries = 0; code == DB_ERR_LOCK_VIOLATION && tries < 200000; ++tries) {
        usleep(100);
        code = call();
    }
    return code;
}

constexpr int kShared = DB_OPEN_SHARED;
constexpr int kMulti = DB_OPEN_SHARED | DB_OPEN_MULTILOCK;
constexpr int16_t kWho = 0, kSeq = 1;

class TableLock : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DBInitialize(20, 1), 0);
        DBlock_retry = 0;
        DBsamba = 0;
    }
    void TearDown() override {
        DBTerminate();
        DBlock_retry = 0;
        DBsamba = 0;
    }

    // T.DBF: WHO N 10, SEQ N 10, TEXT C 29: a record of 50 bytes and, with one-byte
    // terminator, a header of 129 bytes.
    std::string create(int dialect, bool production = false) {
        DBFieldSpec fields[3] = {{"WHO", 'N', 10, 0}, {"SEQ", 'N', 10, 0}, {"TEXT", 'C', 29, 0}};
        const std::string path = dir.file("T.DBF");
        std::remove(path.c_str());
        const int32_t flags = production ? DB_CREATE_PRODUCTION : 0;
        EXPECT_EQ(DBCreateFile(path.c_str(), 3, fields, dialect | flags), 0);
        return path;
    }
    int32_t open(const std::string& path, int mode) {
        int32_t h = -1;
        EXPECT_GE(DBOpenFile(&h, path.c_str(), mode), 0);
        return h;
    }
    // Creates and opens a table of dialect with mode bits.
    int32_t table(int dialect, int mode, bool production = false) {
        path = create(dialect, production);
        return open(path, mode | dialect);
    }
    static TablePacket& packet(int32_t h) {
        return *static_cast<TablePacket*>(packet_of(h, Kind::dbf));
    }
    // Lock state and count as DBGetFileInfo reports them.
    static std::pair<int32_t, int32_t> state(int32_t h) {
        DBFileInfo info{};
        EXPECT_EQ(DBGetFileInfo(h, &info), 0);
        return {info.lock_state, info.lock_count};
    }
    static int32_t table_entries() {
        int32_t used = -1, capacity = -1;
        DBGetLockCount(&used, &capacity);
        return used;
    }
    // DBGetLockInfo's list as (kind, record number or 0).
    static std::vector<std::pair<int32_t, int32_t>> listed(int32_t h) {
        DBLockInfo* list = nullptr;
        int32_t count = -1;
        EXPECT_EQ(DBGetLockInfo(h, &list, &count), 0);
        std::vector<std::pair<int32_t, int32_t>> pairs;
        for (int32_t i = 0; list && i < count; ++i)
            pairs.emplace_back(list[i].kind, list[i].kind == DB_LOCKINFO_RECORD ? list[i].record : 0);
        DBFreeMemory(list, "test", 0);
        return pairs;
    }

    test::ScratchDir dir;
    std::string path;
};

using State = std::pair<int32_t, int32_t>;
using Listed = std::vector<std::pair<int32_t, int32_t>>;

// Host ranges of the record 2, header and file locks of the three-field table.
struct SchemeCase {
    int dialect;
    bool production;
    bool samba;
    HostRange record2, header, file;
    bool file_covers_others;  // the file range contains the record and header ranges
};

TEST_F(TableLock, EverySchemeLocksTheRangesAnotherProcessSeesAndListsThem) {
    const SchemeCase cases[] = {
        {1, false, false, {179, 50}, {4, 4}, {0, 0x7FFFFFFF}, true},
        {9, false, true, {210, 50}, {4, 4}, {0, 0x7FFFFFFF}, true},  // header 160
        {2, false, false, {0xEFFFFFFC, 1}, {0xEFFFFFFE, 1}, {0x40000000, 2}, false},
        {2, true, true, {0x3FFFFFFC, 1}, {0x3FFFFFFE, 1}, {0x10000000, 2}, false},
        {3, false, false, {0x400000B3, 1}, {0x40000000, 1}, {0x3FFFFFFE, 1}, false},
        {4, false, true, {0x100000B3, 1}, {0x10000000, 1}, {0x3FFFFFFF, 1}, false},
        {8, true, false, {0x7FFFFFFC, 1}, {0x7FFFFFFE, 1}, {0x3FFFFFFE, 1}, false},
        {5, false, false, {1000000002, 1}, {1000000000, 1}, {1000000000, 1000000000}, true},
    };
    for (const SchemeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "dialect " << c.dialect << " production "
                                        << c.production << " samba " << c.samba);
        DBsamba = c.samba;
        const int32_t h = table(c.dialect, kMulti, c.production);
        ASSERT_EQ(DBLockHeader(h), 0);
        EXPECT_EQ(listed(h), (Listed{{DB_LOCKINFO_HEADER, 0}}));  // alone, still the header
        ASSERT_EQ(DBLockRecord(h, 2), 0);
        EXPECT_EQ(listed(h), (Listed{{DB_LOCKINFO_HEADER, 0}, {DB_LOCKINFO_RECORD, 2}}));
        const std::vector<HostRange> file_free =
            c.file_covers_others ? std::vector<HostRange>{} : std::vector<HostRange>{c.file};
        EXPECT_EQ(probe(path, {c.record2, c.header}, file_free), 0);
        ASSERT_EQ(DBLockFile(h), 0);
        EXPECT_EQ(listed(h), (Listed{{DB_LOCKINFO_FILE, 0}}));
        if (c.file_covers_others)
            EXPECT_EQ(probe(path, {c.file}, {}), 0);
        else
            EXPECT_EQ(probe(path, {c.file}, {c.record2, c.header}), 0);
        ASSERT_EQ(DBUnLockAll(h), 0);
        EXPECT_EQ(probe(path, {}, {c.record2, c.header, c.file}), 0);
        ASSERT_EQ(DBCloseFile(h), 0);
    }
}

TEST_F(TableLock, ConflictFromAnotherProcessIsRefusedAndChangesNothing) {
    const int32_t h = table(1, kMulti);
    ASSERT_EQ(DBLockRecord(h, 1), 0);
    OtherProcess other([&] {
        int32_t mine = -1;
        if (DBOpenFile(&mine, path.c_str(), kShared | 1) < 0) return -1000;
        if (const int32_t code = DBLockRecord(mine, 5); code < 0) return code;
        return DBLockHeader(mine);
    });
    ASSERT_EQ(other.setup_result(), 0);

    EXPECT_EQ(DBLockRecord(h, 5), DB_ERR_LOCK_VIOLATION);
    EXPECT_EQ(DBerrno, DB_ERR_LOCK_VIOLATION);
    EXPECT_EQ(DBLockHeader(h), DB_ERR_LOCK_VIOLATION);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD, 1));
    EXPECT_EQ(DBIsRecordLocked(h, 5), 0);
    EXPECT_EQ(DBLockFile(h), DB_ERR_LOCK_VIOLATION);
    EXPECT_EQ(state(h), State(0, 0)) << "the file lock released the others before asking";
    EXPECT_EQ(table_entries(), 0);
    EXPECT_EQ(DBLockRecord(h, 4), 0) << "the other process holds only record 5";

    // With retries, every refused try waits one second (counted, not slept here).
    test::FaultHost host;
    test::ScopedHost guard(host);
    DBlock_retry = 3;
    EXPECT_EQ(DBLockRecord(h, 5), DB_ERR_LOCK_VIOLATION);
    EXPECT_EQ(host.sleeps(), 3);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD, 1));
}

TEST_F(TableLock, RecordLocksAreCountedOnce) {
    const int32_t h = table(1, kShared);
    ASSERT_EQ(DBLockRecord(h, 5), 0);
    ASSERT_EQ(DBLockRecord(h, 5), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD, 1));
    EXPECT_EQ(table_entries(), 1);
    EXPECT_EQ(DBIsRecordLocked(h, 5), 1);
    EXPECT_EQ(DBerrno, 1);

    // Without several record locks, a new record lock drops the old one first.
    ASSERT_EQ(DBLockRecord(h, 2), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD, 1));
    EXPECT_EQ(DBIsRecordLocked(h, 5), 0);
    EXPECT_EQ(DBIsRecordLocked(h, 2), 1);
    EXPECT_EQ(probe(path, {{179, 50}}, {{329, 50}}), 0);

    // ... and the header lock too.
    ASSERT_EQ(DBLockHeader(h), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD | DB_LOCKSTATE_HEADER, 2));
    ASSERT_EQ(DBLockRecord(h, 3), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD, 1));
    EXPECT_EQ(probe(path, {{229, 50}}, {{4, 4}, {179, 50}}), 0);
}

TEST_F(TableLock, SeveralRecordLocksAreHeldTogetherAndUnlockedOneByOne) {
    const int32_t h = table(1, kMulti);
    ASSERT_EQ(DBLockRecord(h, 1), 0);
    ASSERT_EQ(DBLockRecord(h, 3), 0);  // not 2: the host merges adjacent ranges
    ASSERT_EQ(DBLockHeader(h), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD | DB_LOCKSTATE_HEADER, 3));
    EXPECT_EQ(probe(path, {{129, 50}, {229, 50}, {4, 4}}, {{179, 50}}), 0);

    ASSERT_EQ(DBUnLockRecord(h, 1), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD | DB_LOCKSTATE_HEADER, 2));
    ASSERT_EQ(DBUnLockRecord(h, 1), 0) << "not held: nothing to do";
    EXPECT_EQ(state(h).second, 2);
    ASSERT_EQ(DBUnLockRecord(h, 3), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_HEADER, 1));
    packet(h).flags &= static_cast<uint8_t>(~kFlagCountStale);
    ASSERT_EQ(DBUnLockHeader(h), 0);
    EXPECT_EQ(state(h), State(0, 0));
    EXPECT_TRUE(packet(h).flags & kFlagCountStale);

    // DBUnLockAll ends every exclusive lock and marks the count stale.
    ASSERT_EQ(DBLockRecord(h, 3), 0);
    ASSERT_EQ(DBLockRecord(h, 4), 0);
    ASSERT_EQ(DBLockHeader(h), 0);
    EXPECT_FALSE(packet(h).flags & kFlagCountStale) << "the header lock re-read the count";
    ASSERT_EQ(DBUnLockAll(h), 0);
    EXPECT_EQ(state(h), State(0, 0));
    EXPECT_EQ(table_entries(), 0);
    EXPECT_TRUE(packet(h).flags & kFlagCountStale);
    EXPECT_EQ(probe(path, {}, {{229, 50}, {279, 50}, {4, 4}}), 0);
}

TEST_F(TableLock, FileLocksReplaceTheOtherLocksAndCoverThemAll) {
    const int32_t h = table(2, kMulti);
    ASSERT_EQ(DBLockRecord(h, 1), 0);
    ASSERT_EQ(DBLockHeader(h), 0);
    ASSERT_EQ(DBLockFile(h), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_FILE, 1));
    EXPECT_EQ(table_entries(), 1);
    // Record and header locks have nothing to add while the file is locked.
    EXPECT_EQ(DBLockRecord(h, 1), 0);
    EXPECT_EQ(DBLockHeader(h), 0);
    EXPECT_EQ(DBLockFile(h), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_FILE, 1));
    EXPECT_EQ(table_entries(), 1);
    EXPECT_EQ(probe(path, {{0x40000000, 2}}, {{0xEFFFFFFD, 2}}), 0);

    // A read lock of the file releases the exclusive locks first.
    ASSERT_EQ(DBUnLockAll(h), 0);
    ASSERT_EQ(DBLockRecord(h, 1), 0);
    ASSERT_EQ(DBLockHeader(h), 0);
    ASSERT_EQ(DBReadLockFile(h), 0);
    EXPECT_EQ(state(h), State(0, 0));
    EXPECT_EQ(table_entries(), 0);
    EXPECT_TRUE(packet(h).flags & kFlagCountStale);
    EXPECT_EQ(probe(path, {{0x40000000, 2}}, {{0xEFFFFFFD, 2}}, F_RDLCK), 0);
}

TEST_F(TableLock, UnsharedTablesTakeOnlyHeaderAndFileLocks) {
    const int32_t h = table(1, 0);
    EXPECT_EQ(DBLockRecord(h, 1), 0);
    EXPECT_EQ(DBIsRecordLocked(h, 1), 0);
    EXPECT_EQ(state(h), State(0, 0));
    ASSERT_EQ(DBLockHeader(h), 0);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_HEADER, 1));
    EXPECT_EQ(DBUnLockAll(h), 0) << "the unlock calls leave an unshared table alone";
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_HEADER, 1));
    EXPECT_EQ(probe(path, {{4, 4}}, {}), 0);
    ASSERT_EQ(DBCloseFile(h), 0);
    EXPECT_EQ(table_entries(), 0);
    EXPECT_EQ(probe(path, {}, {{4, 4}}), 0) << "closing ends the locks";
}

TEST_F(TableLock, ReadLocksAreSharedAndNotCounted) {
    const int32_t h = table(5, kShared);
    ASSERT_EQ(DBReadLockRecord(h, 3), 0);
    ASSERT_EQ(DBReadLockHeader(h), 0);
    EXPECT_EQ(state(h), State(0, 0));
    EXPECT_EQ(table_entries(), 0);
    EXPECT_EQ(DBIsRecordLocked(h, 3), 0);
    EXPECT_EQ(probe(path, {{1000000003, 1}, {1000000000, 1}}, {}, F_RDLCK), 0);
    ASSERT_EQ(DBUnLockAll(h), 0);
    EXPECT_EQ(probe(path, {{1000000003, 1}}, {}, F_RDLCK), 0) << "not released by DBUnLockAll";

    // Another process may read-lock the same ranges but not lock them exclusively.
    OtherProcess other([&] {
        int32_t mine = -1;
        if (DBOpenFile(&mine, path.c_str(), kShared | 5) < 0) return -1000;
        const int32_t shared = DBReadLockRecord(mine, 3);
        const int32_t exclusive = DBLockRecord(mine, 3);
        return shared == 0 && exclusive == DB_ERR_LOCK_VIOLATION ? 0 : -1;
    });
    EXPECT_EQ(other.setup_result(), 0);
}

TEST_F(TableLock, HeaderLockStaysWhenTheCountCannotBeReRead) {
    const int32_t h = table(1, kShared);
    {
        test::FaultHost host;
        test::ScopedHost guard(host);
        host.fail_nth(test::Call::read, 1, EIO);
        EXPECT_LT(DBLockHeader(h), 0);
    }
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_HEADER, 1));
    EXPECT_TRUE(packet(h).flags & kFlagCountStale) << "read again before its next use";
    EXPECT_EQ(probe(path, {{4, 4}}, {}), 0);
    ASSERT_EQ(DBUnLockHeader(h), 0);
    EXPECT_EQ(state(h), State(0, 0));
}

TEST_F(TableLock, FullLockTableRefusesExclusiveLocks) {
    ASSERT_EQ(DBSetLockCount(1), 0);
    const int32_t h = table(1, kMulti);
    ASSERT_EQ(DBLockRecord(h, 1), 0);
    EXPECT_EQ(DBLockRecord(h, 2), DB_ERR_LOCK_TABLE_FULL);
    EXPECT_EQ(DBLockHeader(h), DB_ERR_LOCK_TABLE_FULL);
    EXPECT_EQ(state(h), State(DB_LOCKSTATE_RECORD, 1));
    EXPECT_EQ(DBReadLockHeader(h), 0) << "read locks take no entry";
}

// ---- the lock list ---------------------------------------------------------------------

TEST_F(TableLock, BadArgumentsAndFailuresLeaveTheLockListArgumentsAlone) {
    auto* sentinel = reinterpret_cast<DBLockInfo*>(0x1234);
    DBLockInfo* list = sentinel;
    int32_t count = -7;
    EXPECT_EQ(DBLockRecord(3, 1), DB_ERR_HANDLE);
    EXPECT_EQ(DBGetLockInfo(7, &list, &count), DB_ERR_HANDLE);
    const int32_t h = table(1, kShared);
    EXPECT_EQ(DBGetLockInfo(h, nullptr, &count), DB_ERR_NULL);
    // Without locks there is no list to give.
    EXPECT_EQ(DBGetLockInfo(h, &list, &count), 0);
    EXPECT_EQ(list, sentinel);
    EXPECT_EQ(count, -7);

    // Nor without memory for it.
    ASSERT_EQ(DBLockRecord(h, 1), 0);
    test::FaultHost host;
    test::ScopedHost guard(host);
    host.fail_nth(test::Call::allocate, 1, ENOMEM);
    list = nullptr;
    EXPECT_EQ(DBGetLockInfo(h, &list, &count), DB_ERR_MEMORY);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, -7);
}

TEST_F(TableLock, LockListCountsTheEntriesWhenARefusedReleaseLeftOne) {
    const int32_t h = table(1, kMulti);
    ASSERT_EQ(DBLockRecord(h, 1), 0);
    ASSERT_EQ(DBLockRecord(h, 2), 0);
    ASSERT_EQ(DBLockHeader(h), 0);
    {
        test::FaultHost host;
        test::ScopedHost guard(host);
        host.fail_nth(test::Call::fcntl, 2, ENOLCK);
        EXPECT_LT(DBUnLockAll(h), 0);
    }
    // The count says 3 while the table holds two entries: the list has two pairs.
    EXPECT_EQ(state(h).second, 3);
    EXPECT_EQ(listed(h), (Listed{{DB_LOCKINFO_RECORD, 2}, {DB_LOCKINFO_HEADER, 0}}));
    ASSERT_EQ(DBUnLockAll(h), 0);
    EXPECT_EQ(table_entries(), 0);
}

// ---- two processes sharing a table ------------------------------------------------------

constexpr int kRecordsEach = 200;
constexpr int kIncrementsEach = 200;

double number_field(int32_t h, int16_t field) {
    double value = -1;
    DBGetFieldData(h, field, &value);
    return value;
}

// Appends records (who, 1..n), each under the header lock (explicit) or with the
// automatic lock of the table. Returns 0 or the number of the failing step.
int append_records(const std::string& path, int mode, int who, int n, bool explicit_lock) {
    int32_t h = -1;
    if (DBOpenFile(&h, path.c_str(), mode) < 0) return 10;
    for (int seq = 1; seq <= n; ++seq) {
        double w = who, s = seq;
        if (DBPutFieldData(h, kWho, &w) < 0 || DBPutFieldData(h, kSeq, &s) < 0) return 11;
        if (explicit_lock && retry([&] { return DBLockHeader(h); }) < 0) return 12;
        int32_t number = 0;
        if (retry([&] { return DBPutRecord(h, &number, DB_PUT_APPEND); }) < 0) return 13;
        if (explicit_lock && DBUnLockHeader(h) < 0) return 14;
    }
    return DBCloseFile(h) < 0 ? 15 : 0;
}

class TableLockShared : public TableLock {
protected:
    // Runs work as writer 2 in a child and as writer 1 here, both starting when the
    // child is ready.
    static void both(const std::function<int(int who)>& work) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            ::close(ready[0]);
            const char byte = 1;
            if (write(ready[1], &byte, 1) != 1) _exit(99);
            _exit(work(2));
        }
        ::close(ready[1]);
        char byte = 0;
        EXPECT_EQ(read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        const int mine = work(1);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(mine, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }

    void expect_every_record_once(int n) {
        const int32_t h = open(path, 1);
        int32_t count = 0;
        ASSERT_EQ(DBGetRecordCount(h, &count), 0);
        ASSERT_EQ(count, 2 * n);
        std::multiset<std::pair<int, int>> seen, expected;
        for (int32_t r = 1; r <= count; ++r) {
            ASSERT_EQ(DBGetRecord(h, r), 0);
            seen.emplace(static_cast<int>(number_field(h, kWho)),
                         static_cast<int>(number_field(h, kSeq)));
        }
        for (int who : {1, 2})
            for (int seq = 1; seq <= n; ++seq) expected.emplace(who, seq);
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(DBCloseFile(h), 0);
    }
};

TEST_F(TableLockShared, AppendsUnderTheHeaderLockFromTwoProcessesKeepEveryRecord) {
    path = create(1);
    both([&](int who) { return append_records(path, kShared | 1, who, kRecordsEach, true); });
    expect_every_record_once(kRecordsEach);
}

TEST_F(TableLockShared, AutomaticallyLockedAppendsFromTwoProcessesKeepEveryRecord) {
    path = create(2);
    both([&](int who) {
        return append_records(path, DB_OPEN_AUTOLOCK | 2, who, kRecordsEach, false);
    });
    expect_every_record_once(kRecordsEach);
}

// Adds 1 to SEQ of record 1, k times, each under the record lock.
int increment_counter(const std::string& path, int mode, int k) {
    int32_t h = -1;
    if (DBOpenFile(&h, path.c_str(), mode) < 0) return 10;
    for (int i = 0; i < k; ++i) {
        if (retry([&] { return DBLockRecord(h, 1); }) < 0) return 11;
        if (DBGetRecord(h, 1) != 0) return 12;
        double value = number_field(h, kSeq) + 1;
        if (DBPutFieldData(h, kSeq, &value) < 0) return 13;
        int32_t number = 1;
        if (DBPutRecord(h, &number, DB_PUT_UPDATE) < 0) return 14;
        if (DBUnLockRecord(h, 1) < 0) return 15;
    }
    return DBCloseFile(h) < 0 ? 16 : 0;
}

TEST_F(TableLockShared, CounterIncrementedUnderTheRecordLockFromTwoProcessesLosesNothing) {
    // Buffered and unbuffered: a shared table's reads and writes reach the file.
    for (int mode : {DB_OPEN_SHARED | 3, DB_OPEN_SHARED | DB_OPEN_UNBUFFERED | 3}) {
        SCOPED_TRACE(mode);
        path = create(3);
        {
            const int32_t h = open(path, 3);
            double zero = 0;
            ASSERT_GE(DBPutFieldData(h, kSeq, &zero), 0);
            int32_t number = 0;
            ASSERT_EQ(DBPutRecord(h, &number, DB_PUT_APPEND), 0);
            ASSERT_EQ(DBCloseFile(h), 0);
        }
        both([&](int) { return increment_counter(path, mode, kIncrementsEach); });
        const int32_t h = open(path, 3);
        ASSERT_EQ(DBGetRecord(h, 1), 0);
        EXPECT_EQ(number_field(h, kSeq), 2.0 * kIncrementsEach);
        ASSERT_EQ(DBCloseFile(h), 0);
    }
}

}  // namespace
