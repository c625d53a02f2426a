// Record I/O: records round-tripped through the file and checked byte for byte,
// the cache (its sizes and write-back), the failure paths of appends and flushes
// (count restored, file still opens), shared tables writing through while the
// lock is held, and the whole-record host structure.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/bytes.hpp"
#include "core/state.hpp"
#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using xbdb::test::Call;
using xbdb::test::read_file;

namespace {

constexpr std::size_t kHeader = 97;  // two fields: 32 + 64 + 1
constexpr std::size_t kRecord = 16;  // deletion byte, NAME C 10, QTY N 5

// Record i of the test tables: " R<i> padded" and the number i in 5 digits.
std::string record_text(int i) {
    std::string name = "R" + std::to_string(i);
    name.resize(10, ' ');
    std::string qty = std::to_string(i);
    return " " + name + std::string(5 - qty.size(), ' ') + qty;
}

// Every test starts with T.DBF (NAME C 10, QTY N 5, dialect 1) and a host whose
// calls can be made to fail.
class RecordIo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DBInitialize(20, 1), 0);
        create();
    }
    void TearDown() override { DBTerminate(); }

    void create(int dialect = 1) {
        DBFieldSpec f[] = {{"NAME", 'C', 10, 0}, {"QTY", 'N', 5, 0}};
        ASSERT_EQ(DBCreateFile(path.c_str(), 2, f, dialect), 0);
    }
    int32_t open(int32_t mode = 1, int32_t* out = nullptr) { return DBOpenFile(out ? out : &handle, path.c_str(), mode); }
    char* buffer(int32_t h = -1) {
        DBRecordInfo info{};
        DBGetRecordInfo(h < 0 ? handle : h, &info);
        return info.buffer;
    }
    int32_t put(const std::string& record, int32_t command, int32_t number = 0, int32_t h = -1) {
        std::memcpy(buffer(h), record.data(), record.size());
        return DBPutRecord(h < 0 ? handle : h, &number, command);
    }
    int32_t append(int i, int32_t h = -1) { return put(record_text(i), DB_PUT_APPEND, 0, h); }
    std::string current(int32_t h = -1) { return std::string(buffer(h), kRecord); }
    std::string file_record(int i) { return read_file(path).substr(kHeader + (i - 1) * kRecord, kRecord); }
    uint32_t file_count() { return le32(read_file(path).data() + 4); }
    int32_t count(int32_t h = -1) {
        int32_t n = -1;
        DBGetRecordCount(h < 0 ? handle : h, &n);
        return n;
    }
    int32_t cache(int32_t records, int32_t command = DB_CACHE_SET) {
        const int32_t code = DBGetSetCacheSize(handle, &records, command);
        return code < 0 ? code : records;
    }

    test::ScratchDir dir;
    std::string path = dir.file("T.DBF");
    int32_t handle = -2;
    test::FaultHost host;
    test::ScopedHost guard{host};
};

TEST_F(RecordIo, AppendedRecordsReachTheFileWithCountDateAndOneEndMark) {
    const std::string empty = read_file(path);
    ASSERT_EQ(open(), 0);
    for (int i = 1; i <= 20; ++i) ASSERT_EQ(append(i), 0);  // more than one cache block
    ASSERT_EQ(DBCloseFile(handle), 0);

    int32_t y = 0, m = 0, d = 0, w = 0;
    DBGetDate3(&y, &m, &d, &w);
    std::string expected = empty.substr(0, kHeader);
    expected[1] = static_cast<char>(y - 2000), expected[2] = static_cast<char>(m), expected[3] = static_cast<char>(d);
    put_le32(expected.data() + 4, 20);  // count
    for (int i = 1; i <= 20; ++i) expected += record_text(i);
    EXPECT_EQ(read_file(path), expected + '\x1A');

    ASSERT_EQ(open(), 0);
    for (int i : {20, 1, 13}) {
        ASSERT_EQ(DBGetRecord(handle, i), 0);
        EXPECT_EQ(current(), record_text(i));
        EXPECT_EQ(DBIsEndOfFile(handle), i == 20 ? 1 : 0);
        EXPECT_EQ(DBIsBeginningOfFile(handle), i == 1 ? 1 : 0);
    }
}

TEST_F(RecordIo, UpdatesRewriteOnlyTheirRecordAndAppendsKeepTheEndMark) {
    ASSERT_EQ(open(), 0);
    for (int i = 1; i <= 12; ++i) ASSERT_EQ(append(i), 0);
    ASSERT_EQ(DBFlushFile(handle), 0);
    ASSERT_EQ(put(record_text(99), DB_PUT_UPDATE, 3), 0);
    EXPECT_EQ(file_record(3), record_text(3));  // not before the flush
    ASSERT_EQ(DBFlushFile(handle), 0);
    EXPECT_EQ(file_record(3) + file_record(4), record_text(99) + record_text(4));
    EXPECT_EQ(put(record_text(1), DB_PUT_UPDATE, 13), DB_ERR_SEEK);
    EXPECT_EQ(put(record_text(1), 0x200), DB_ERR_COMMAND);
    ASSERT_EQ(DBCloseFile(handle), 0);

    ASSERT_EQ(open(), 0);
    ASSERT_EQ(put(record_text(50), DB_PUT_UPDATE, 1), 0);
    ASSERT_EQ(append(13), 0);
    ASSERT_EQ(DBCloseFile(handle), 0);
    ASSERT_EQ(read_file(path).size(), kHeader + 13 * kRecord + 1);
    EXPECT_EQ(read_file(path).back(), '\x1A');
    EXPECT_EQ(file_record(1) + file_record(13), record_text(50) + record_text(13));
    EXPECT_EQ(file_count(), 13u);
}

TEST_F(RecordIo, Dialect7EndsWithAWholeRecordOfMarks) {
    create(7);
    for (int32_t mode : {7 | DB_OPEN_UNBUFFERED, 7}) {
        ASSERT_EQ(open(mode), 0);
        ASSERT_EQ(append(1), 0);
        ASSERT_EQ(DBCloseFile(handle), 0);
    }
    ASSERT_EQ(read_file(path).size(), kHeader + 3 * kRecord);
    EXPECT_EQ(read_file(path).substr(kHeader + 2 * kRecord), std::string(kRecord, '\x1A'));
    EXPECT_EQ(open(7), 0);  // a whole record of marks is a correct length
}

TEST_F(RecordIo, ReadsOutsideTheTableAndDeletionMarks) {
    ASSERT_EQ(open(1 | DB_OPEN_UNBUFFERED), 0);
    for (int i = 1; i <= 3; ++i) ASSERT_EQ(append(i), 0);
    EXPECT_EQ(DBGetRecord(handle, 0), DB_ERR_SEEK);
    EXPECT_EQ(DBGetRecord(handle, 4), DB_ERR_SEEK);
    EXPECT_EQ(DBMarkRecordInActive(handle, 4), DB_ERR_SEEK);

    ASSERT_EQ(DBMarkRecordInActive(handle, 2), 0);
    EXPECT_EQ(file_record(2)[0], '*');
    const int writes = host.calls(Call::write);
    EXPECT_EQ(DBMarkRecordInActive(handle, 2), 0);  // already marked: nothing written
    EXPECT_EQ(host.calls(Call::write), writes);
    EXPECT_EQ(DBGetRecord(handle, 2), DB_WARN_DELETED);
    EXPECT_EQ(DBIsRecordDeleted(handle), DB_WARN_DELETED);
    ASSERT_EQ(DBMarkRecordActive(handle, 2), 0);
    EXPECT_EQ(file_record(2)[0], ' ');

    // Any other deletion byte reads as deleted, but is not '*'; an update keeps the
    // deletion byte it is given, an append always writes an active record.
    ASSERT_EQ(put("#" + record_text(3).substr(1), DB_PUT_UPDATE, 3), 0);
    EXPECT_EQ(DBGetRecord(handle, 3), DB_WARN_DELETED);
    EXPECT_EQ(DBIsRecordDeleted(handle), 0);
    EXPECT_EQ(file_record(3)[0], '#');
    ASSERT_EQ(put("*" + record_text(4).substr(1), DB_PUT_APPEND), 0);
    EXPECT_EQ(file_record(4), record_text(4));
}

TEST_F(RecordIo, CallersBufferBecomesTheRecordBufferAndStaysTheirs) {
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(append(1), 0);
    std::vector<char> mine(kRecord, '?');
    ASSERT_EQ(DBSetBufferAddress(handle, mine.data()), 0);
    ASSERT_EQ(DBGetRecord(handle, 1), 0);
    EXPECT_EQ(std::string(mine.data(), kRecord), record_text(1));
    ASSERT_EQ(DBCloseFile(handle), 0);  // must not free the caller's buffer
}

// ---- the cache -----------------------------------------------------------------------

TEST_F(RecordIo, CacheSizesAreBoundedAndResizingWritesBack) {
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(cache(0, DB_CACHE_GET), 32);  // 8 records are 128 bytes, less than 512: 512 / 16
    EXPECT_EQ(cache(-5), 1);                // at least one record
    EXPECT_EQ(cache(0x7FFFFFFF), 16 * 1024 * 1024 / 16);  // at most 16 MiB of them
    EXPECT_EQ(cache(3, 2), DB_ERR_COMMAND);
    ASSERT_EQ(cache(3), 3);
    for (int i = 1; i <= 10; ++i) ASSERT_EQ(append(i), 0);
    ASSERT_EQ(cache(64), 64);
    EXPECT_EQ(file_count(), 10u);  // the dirty block was written first
    for (int i = 10; i >= 1; --i) {
        ASSERT_EQ(DBGetRecord(handle, i), 0);
        EXPECT_EQ(current(), record_text(i));
    }
    // A cache that cannot grow keeps the old one.
    host.fail_nth(Call::reallocate, 1, ENOMEM);
    int32_t records = 500;
    EXPECT_EQ(DBGetSetCacheSize(handle, &records, DB_CACHE_SET), DB_WARN_PARTIAL_ALLOC);
    EXPECT_EQ(records, 64);
    ASSERT_EQ(DBGetRecord(handle, 5), 0);
    EXPECT_EQ(current(), record_text(5));
    DBCloseFile(handle);
    ASSERT_EQ(open(1 | DB_OPEN_UNBUFFERED), 0);
    EXPECT_EQ(cache(10), 0);  // unbuffered tables have none
}

TEST_F(RecordIo, LargeCacheOfLongRecordsReadsEverySlot) {
    // 100 records of 1000 bytes in one cache: slots far beyond 32 KiB and a read
    // longer than 64 KiB.
    std::vector<DBFieldSpec> f(4, DBFieldSpec{"C", 'C', 250, 0});
    f[3].length = 249;
    ASSERT_EQ(DBCreateFile(path.c_str(), 4, f.data(), 1), 0);
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(cache(100), 100);
    for (int i = 1; i <= 120; ++i) {
        std::memset(buffer(), 'a' + i % 26, 1000);
        int32_t number = 0;
        ASSERT_EQ(DBPutRecord(handle, &number, DB_PUT_APPEND), 0);
    }
    ASSERT_EQ(DBFlushFile(handle), 0);
    EXPECT_EQ(read_file(path).size(), 161u + 120u * 1000u + 1u);
    ASSERT_EQ(DBGetRecord(handle, 1), 0);  // loads records 1..100
    for (int i : {100, 34, 120}) {
        ASSERT_EQ(DBGetRecord(handle, i), 0);
        EXPECT_EQ(std::string(buffer() + 1, 999), std::string(999, static_cast<char>('a' + i % 26))) << i;
    }
}

// ---- failures ------------------------------------------------------------------------

TEST_F(RecordIo, FailedUnbufferedAppendRestoresTheCount) {
    ASSERT_EQ(open(1 | DB_OPEN_UNBUFFERED), 0);
    ASSERT_EQ(append(1), 0);
    for (int n = 1; n <= 3; ++n) {  // record, end mark, header
        host.fail_nth(Call::write, n, ENOSPC);
        EXPECT_EQ(append(2), DB_ERR_WRITE) << n;
        int32_t number = 0;
        DBGetRecordNumber(handle, &number);
        EXPECT_TRUE(count() == 1 && number == 1) << n;
    }
    ASSERT_EQ(DBCloseFile(handle), 0);
    ASSERT_GE(open(), 0);
    EXPECT_EQ(count(), 1);
    ASSERT_EQ(DBGetRecord(handle, 1), 0);
    EXPECT_EQ(current(), record_text(1));
}

TEST_F(RecordIo, FailedWriteBackDuringAnAppendRestoresTheCount) {
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(cache(2), 2);
    ASSERT_EQ(append(1), 0);
    ASSERT_EQ(append(2), 0);
    host.fail_nth(Call::write, 1, EIO);  // the third append writes the full block
    EXPECT_EQ(append(3), DB_ERR_WRITE);
    EXPECT_EQ(count(), 2);
    ASSERT_EQ(append(3), 0);
    ASSERT_EQ(DBCloseFile(handle), 0);
    EXPECT_EQ(file_count(), 3u);
    EXPECT_EQ(file_record(3), record_text(3));
}

TEST_F(RecordIo, FailedFlushKeepsEverythingPendingForTheNextOne) {
    ASSERT_EQ(open(), 0);
    for (int i = 1; i <= 4; ++i) ASSERT_EQ(append(i), 0);
    for (int n = 1; n <= 3; ++n) {  // records, header, end mark
        host.fail_nth(Call::write, n, EIO);
        EXPECT_EQ(DBFlushFile(handle), DB_ERR_WRITE) << n;
        EXPECT_EQ(count(), 4);
    }
    int32_t other = -2;
    EXPECT_GE(open(1 | DB_OPEN_READONLY, &other), 0);  // the file still opens
    DBCloseFile(other);
    ASSERT_EQ(DBFlushFile(handle), 0);
    EXPECT_EQ(file_count(), 4u);
    EXPECT_EQ(read_file(path).size(), kHeader + 4 * kRecord + 1);
}

TEST_F(RecordIo, FailedCacheLoadLeavesNoStaleRecords) {
    ASSERT_EQ(open(), 0);
    for (int i = 1; i <= 40; ++i) ASSERT_EQ(append(i), 0);
    ASSERT_EQ(DBFlushFile(handle), 0);
    host.short_nth(Call::read, 1, 100);  // records 5..36 come back cut short
    EXPECT_EQ(DBGetRecord(handle, 5), DB_ERR_READ);
    for (int i : {36, 5, 40}) {
        ASSERT_EQ(DBGetRecord(handle, i), 0);
        EXPECT_EQ(current(), record_text(i));
    }
}

// ---- shared tables -------------------------------------------------------------------

TEST_F(RecordIo, SharedAppendNeedsTheHeaderLockAndWritesAtOnce) {
    ASSERT_EQ(open(1 | DB_OPEN_SHARED), 0);
    EXPECT_EQ(append(1), DB_ERR_NOT_LOCKED);
    ASSERT_EQ(DBLockHeader(handle), 0);
    host.fail_nth(Call::write, 1, ENOSPC);
    EXPECT_EQ(append(1), DB_ERR_WRITE);
    EXPECT_EQ(count(), 0);  // restored, the lock kept
    ASSERT_EQ(append(1), 0);
    ASSERT_EQ(append(2), 0);
    // In the file while the lock is still held.
    EXPECT_EQ(file_count(), 2u);
    EXPECT_EQ(file_record(2), record_text(2));
    EXPECT_EQ(read_file(path).size(), kHeader + 2 * kRecord + 1);
    ASSERT_EQ(DBUnLockHeader(handle), 0);

    EXPECT_EQ(put(record_text(9), DB_PUT_UPDATE, 1), DB_ERR_NOT_LOCKED);
    ASSERT_EQ(DBLockRecord(handle, 1), 0);
    ASSERT_EQ(put(record_text(9), DB_PUT_UPDATE, 1), 0);
    EXPECT_EQ(file_record(1), record_text(9));
    EXPECT_EQ(DBMarkRecordInActive(handle, 2), DB_ERR_NOT_LOCKED);
    ASSERT_EQ(DBLockFile(handle), 0);
    ASSERT_EQ(DBMarkRecordInActive(handle, 2), 0);
    EXPECT_EQ(file_record(2)[0], '*');
}

TEST_F(RecordIo, AutomaticLocksAreTakenAndReleasedAlsoWhenTheWriteFails) {
    ASSERT_EQ(open(1 | DB_OPEN_AUTOLOCK), 0);
    host.fail_nth(Call::read, 1, EIO);  // the count re-read under the new header lock
    EXPECT_EQ(append(1), DB_ERR_READ);
    EXPECT_EQ(count(), 0);
    ASSERT_EQ(append(1), 0);
    ASSERT_EQ(append(2), 0);
    ASSERT_EQ(put(record_text(7), DB_PUT_UPDATE, 2), 0);
    ASSERT_EQ(DBMarkRecordInActive(handle, 1), 0);
    host.fail_nth(Call::write, 1, EIO);  // the update's record write, under its record lock
    EXPECT_EQ(put(record_text(5), DB_PUT_UPDATE, 2), DB_ERR_WRITE);
    DBFileInfo info{};
    ASSERT_EQ(DBGetFileInfo(handle, &info), 0);
    EXPECT_EQ(info.lock_count, 0);
    int32_t used = -1, capacity = 0;
    DBGetLockCount(&used, &capacity);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(file_count(), 2u);
    EXPECT_EQ(file_record(2), record_text(7));
    EXPECT_EQ(file_record(1)[0], '*');
}

TEST_F(RecordIo, SharedReadsSeeOtherWritersAfterALockOrFlush) {
    ASSERT_EQ(open(), 0);
    for (int i = 1; i <= 5; ++i) ASSERT_EQ(append(i), 0);
    ASSERT_EQ(DBCloseFile(handle), 0);

    int32_t writer = -2;
    ASSERT_EQ(open(1 | DB_OPEN_SHARED), 0);
    ASSERT_EQ(open(1 | DB_OPEN_UNBUFFERED, &writer), 0);
    ASSERT_EQ(DBGetRecord(handle, 3), 0);  // caches the block
    ASSERT_EQ(put(record_text(33), DB_PUT_UPDATE, 3, writer), 0);
    ASSERT_EQ(append(6, writer), 0);

    EXPECT_EQ(count(), 6);                  // the count is re-read
    ASSERT_EQ(DBLockRecord(handle, 3), 0);  // a locked record comes from the file
    ASSERT_EQ(DBGetRecord(handle, 3), 0);
    EXPECT_EQ(current(), record_text(33));
    ASSERT_EQ(DBUnLockAll(handle), 0);
    ASSERT_EQ(DBGetRecord(handle, 6), 0);
    EXPECT_EQ(current(), record_text(6));

    ASSERT_EQ(put(record_text(44), DB_PUT_UPDATE, 4, writer), 0);
    ASSERT_EQ(DBFlushFile(handle), 0);  // empties the cache
    ASSERT_EQ(DBGetRecord(handle, 4), 0);
    EXPECT_EQ(current(), record_text(44));
}

TEST_F(RecordIo, RefusedHeaderLockWritesNoFlag) {
    create(2 | DB_CREATE_PRODUCTION);
    ASSERT_EQ(open(2 | DB_OPEN_SHARED), 0);
    DBSetLockRetryCount(0);  // one try: the refusal is final
    host.fail_nth(Call::fcntl, 1, EAGAIN);
    EXPECT_LT(DBSetProductionIndex(handle, 0), 0);
    EXPECT_EQ(read_file(path)[28], '\x01');
    DBFileInfo info{};
    ASSERT_EQ(DBGetFileInfo(handle, &info), 0);
    EXPECT_TRUE(info.production == 1 && info.lock_count == 0);
    ASSERT_EQ(DBSetProductionIndex(handle, 0), 0);
    EXPECT_EQ(read_file(path)[28], '\0');
}

// ---- the whole-record host structure -------------------------------------------------

TEST_F(RecordIo, HostRecordStructureRoundTrips) {
    DBFieldSpec f[] = {{"NAME", 'C', 5, 0}, {"PRICE", 'N', 8, 2}, {"BORN", 'D', 0, 0}, {"OK", 'L', 0, 0},
                       {"NOTE", 'M', 0, 0}};
    ASSERT_EQ(DBCreateFile(path.c_str(), 5, f, 1), 0);
    ASSERT_EQ(open(), 0);
    DBSetDefaultDateStyle(4);

    // deletion byte 0, C 5 + 1 at 1, N double at 7, D 11 at 15, L 1 at 26, M int32 at 27
    constexpr std::size_t kSize = 1 + 6 + 8 + 11 + 1 + 4;
    char in[kSize] = {'*', 'H', 'i'};
    const double price = 12.5;
    const int32_t memo = 42;
    std::memcpy(in + 7, &price, 8);
    std::memcpy(in + 15, "20240229", 9);
    in[26] = 'T';
    std::memcpy(in + 27, &memo, 4);
    int32_t number = 0;
    ASSERT_EQ(DBPutRecordFromBuffer(handle, in, &number, DB_PUT_APPEND), 0);
    EXPECT_EQ(number, 1);
    // record: ' ' "Hi   " "   12.50" "20240229" "T" "        42"
    const std::string stored = " Hi      12.5020240229T        42";
    char out[kSize];
    std::memset(out, 0x55, sizeof out);
    ASSERT_EQ(DBGetRecordToBuffer(handle, out, 1), 0);
    double got = 0;
    int32_t memo_out = 0;
    std::memcpy(&got, out + 7, 8);
    std::memcpy(&memo_out, out + 27, 4);
    EXPECT_EQ(std::string(out, 7), std::string(" Hi   \0", 7));
    EXPECT_TRUE(got == 12.5 && memo_out == 42 && out[26] == 1);
    EXPECT_STREQ(out + 15, "20240229");

    // A bad item stops the conversion and is returned; the record is unchanged.
    in[26] = 'x';
    EXPECT_EQ(DBPutRecordFromBuffer(handle, in, &number, DB_PUT_UPDATE), DB_ERR_BAD_DATA);
    ASSERT_EQ(DBCloseFile(handle), 0);
    EXPECT_EQ(read_file(path).substr(193, 33), stored);
}

}  // namespace
