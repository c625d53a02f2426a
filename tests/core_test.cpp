// Library state, handles, memory routines, messages and the error log.
#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>

#include "core/bytes.hpp"
#include "core/state.hpp"
#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using xbdb::test::Call;
using xbdb::test::FaultHost;
using xbdb::test::ScopedHost;

namespace {

struct TestPacket : Packet {
    char payload[64];
};

int32_t open_test_packet(int32_t kind = DB_KIND_DBF) {
    int32_t handle = -2;
    TestPacket* packet = nullptr;
    _DBAllocNewFilePacket(&handle, static_cast<Kind>(kind), &packet);
    return handle;
}

int closes_seen = 0;
int32_t counting_close(int32_t handle) {
    ++closes_seen;
    release_slot(handle);
    return 0;
}

class Core : public ::testing::Test {
protected:
    void TearDown() override {
        DBTerminate();
        DBErrorLog(0, nullptr);
        unsetenv("DB_SAMBA");
        DBsamba = 0;
    }
    test::ScratchDir dir;
    FaultHost host;
    ScopedHost guard{host};
};

}  // namespace

TEST_F(Core, InitializeSizesTablesAndClampsArguments) {
    EXPECT_EQ(DBInitialize(4, 1), DB_ERR_HANDLE);
    EXPECT_EQ(DBbase.slots, nullptr);
    ASSERT_EQ(DBInitialize(1000, 16), 0);
    EXPECT_EQ(DBbase.slot_count, 507);
    int32_t used = -1, capacity = -1;
    DBGetLockCount(&used, &capacity);
    EXPECT_TRUE(used == 0 && capacity == 1014);
    EXPECT_EQ(DBdate_style, 1);
    // Five files give an empty handle table, and the first open fails.
    ASSERT_EQ(DBInitialize(5, 1), 0);
    EXPECT_EQ(DBbase.slot_count, 0);
    EXPECT_EQ(open_test_packet(), DB_NO_HANDLE);
    EXPECT_EQ(DBerrno, DB_ERR_NO_HANDLES);
}

TEST_F(Core, HandlesAreReusedLowestFirstAndExhaustionIsReported) {
    ASSERT_EQ(DBInitialize(8, 1), 0);  // three slots
    EXPECT_EQ(open_test_packet(), 0);
    EXPECT_EQ(open_test_packet(DB_KIND_NTX), 1);
    EXPECT_EQ(open_test_packet(), 2);
    EXPECT_EQ(DBbase.open_files, 3);
    EXPECT_EQ(open_test_packet(), DB_NO_HANDLE);
    EXPECT_EQ(DBerrno, DB_ERR_NO_HANDLES);

    release_slot(0);
    EXPECT_EQ(DBbase.open_files, 2);
    EXPECT_EQ(open_test_packet(DB_KIND_DBT), 0);
    EXPECT_NE(packet_of(0, Kind::dbt), nullptr);
    EXPECT_EQ(packet_of(0, Kind::dbf), nullptr);
    EXPECT_EQ(packet_of(1, Kind::ndx, Kind::ntx), DBbase.slots[1].packet);
}

TEST_F(Core, TerminateAndASecondInitializeCloseEveryOpenFileThroughItsFamily) {
    ASSERT_EQ(DBInitialize(12, 1), 0);
    closes_seen = 0;
    DBclose[DB_KIND_DBF] = counting_close;
    open_test_packet();
    open_test_packet();
    open_test_packet(DB_KIND_MDX);  // no close registered: released all the same
    // An unknown kind keeps the free slot and allocates nothing.
    int32_t handle = -2;
    TestPacket* packet = nullptr;
    EXPECT_EQ(_DBAllocNewFilePacket(&handle, static_cast<Kind>(9), &packet), DB_ERR_SWITCH);
    EXPECT_TRUE(handle == 3 && packet == nullptr);
    DBTerminate();
    EXPECT_EQ(closes_seen, 2);
    EXPECT_EQ(DBbase.slots, nullptr);
    EXPECT_EQ(host.live_blocks(), 0u);
    ASSERT_EQ(DBInitialize(12, 1), 0);
    open_test_packet();
    ASSERT_EQ(DBInitialize(12, 1), 0);  // terminates first
    EXPECT_EQ(DBbase.open_files, 0);
    DBTerminate();
    EXPECT_EQ(host.live_blocks(), 0u);
}

TEST_F(Core, AllocationFailuresAreReportedAndLeakNothing) {
    host.fail_nth(Call::allocate, 2, ENOMEM);  // the lock table, after the slot table
    EXPECT_EQ(DBInitialize(20, 1), DB_ERR_MEMORY);
    EXPECT_EQ(DBbase.slots, nullptr);
    EXPECT_EQ(DBbase.slot_count, 0);
    EXPECT_EQ(host.live_blocks(), 0u);

    ASSERT_EQ(DBInitialize(20, 1), 0);
    host.fail_nth(Call::allocate, 1, ENOMEM);
    EXPECT_EQ(open_test_packet(), DB_NO_HANDLE);
    EXPECT_EQ(DBerrno, DB_ERR_MEMORY);
    EXPECT_EQ(DBbase.open_files, 0);

    char* block = nullptr;
    host.fail_nth(Call::allocate, 1, ENOMEM);
    EXPECT_EQ(DBAllocateMemoryLog(&block, 10, "x", 1), DB_ERR_MEMORY);
    EXPECT_EQ(block, nullptr);
    ASSERT_EQ(DBAllocateMemoryLog(&block, 0, "x", 1), 0);  // zero bytes is a real block
    ASSERT_NE(block, nullptr);
    char* const old = block;
    host.fail_nth(Call::reallocate, 1, ENOMEM);
    EXPECT_EQ(DBReAllocateMemory(&block, 4096, "x", 1), DB_ERR_MEMORY);
    EXPECT_EQ(block, old);
    DBFreeMemory(block, "x", 1);
    DBTerminate();
    EXPECT_EQ(host.live_blocks(), 0u);
}

TEST_F(Core, LockCountRefusesUnderflowAndOversizedTables) {
    ASSERT_EQ(DBInitialize(10, 1), 0);
    DBbase.locks_used = 3;
    EXPECT_EQ(DBSetLockCount(2), DB_ERR_LOCK_TABLE_UNDERFLOW);
    EXPECT_EQ(DBbase.lock_capacity, 10);
    EXPECT_EQ(DBSetLockCount(40000), DB_ERR_COMMAND);
    EXPECT_EQ(DBbase.lock_capacity, 10);
    host.fail_nth(Call::reallocate, 1, ENOMEM);
    LockEntry* const old = DBbase.locks;
    EXPECT_EQ(DBSetLockCount(50), DB_ERR_MEMORY);
    EXPECT_EQ(DBbase.locks, old);
    DBbase.locks_used = 0;
    EXPECT_EQ(DBSetLockCount(0), 0);
    EXPECT_NE(DBbase.locks, nullptr);
    EXPECT_EQ(DBbase.lock_capacity, 0);
}

TEST_F(Core, SambaIsSetOnlyByTheExactWord) {
    for (auto [value, on] : {std::pair{"Yes", 0}, {"YES ", 0}, {"", 0}, {"YES", 1}, {"yes", 1}}) {
        setenv("DB_SAMBA", value, 1);
        DBsamba = 0;
        ASSERT_EQ(DBInitialize(10, 1), 0);
        EXPECT_EQ(getDBsamba(), on) << value;
    }
    unsetenv("DB_SAMBA");
    ASSERT_EQ(DBInitialize(10, 1), 0);
    EXPECT_EQ(getDBsamba(), 1);  // a setting that survives
}

TEST_F(Core, MessagesAreExactAndUnknownCodesHaveTheUnknownText) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "No error or warnings"},                        {-201, "ERROR - file write failure"},
        {-261, "ERROR - internal lock buffer underflow"},    {201, "WARNING - record read is marked deleted"},
    };
    for (auto [code, text] : cases) {
        DBSetErrorCode(code);
        EXPECT_STREQ(DBGetErrorStr(), text) << code;
    }
    for (int32_t code : {-262, -200, 213, 1, -6000, static_cast<int32_t>(0xC0000000u | EPERM)}) {
        DBSetErrorCode(code);
        EXPECT_STREQ(DBGetErrorStr(), "Unknown error or warning code") << code;
    }
    DBSetErrorCode(0);
}

TEST_F(Core, ErrorLogAppendsOneLinePerFailureWithTheCallerChain) {
    const std::string log = dir.file("err.log");
    ASSERT_EQ(DBInitialize(10, 1), 0);  // turns logging off
    DBErrorLog(1, log.c_str());
    EXPECT_EQ(DBGetVersion(nullptr), DB_ERR_NULL);
    int32_t fd = -1;
    uint8_t flags = 0;
    const std::string missing = dir.file("missing.dbf");
    EXPECT_EQ(DBosOpenFile(&fd, missing.c_str(), 0, &flags), DB_ERR_FILE_NOT_FOUND);

    const std::string text = test::read_file(log);
    // source TAB line TAB code LF, nothing else
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.rfind("state.cpp\t", 0), 0u) << text;
    EXPECT_NE(text.find("\t-221\nfile_ops.cpp\t"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 6), "\t-205\n");

    // Switch 2 turns logging on without renaming; 0 turns it off.
    DBErrorLog(0, nullptr);
    EXPECT_EQ(DBGetVersion(nullptr), DB_ERR_NULL);
    DBErrorLog(2, "ignored.log");
    EXPECT_STREQ(DBlog_filename, log.c_str());
    EXPECT_EQ(DBGetVersion(nullptr), DB_ERR_NULL);
    const std::string after = test::read_file(log);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 3);
}

TEST_F(Core, ErrorLogNameIsBoundedAndLoggingOffCreatesNothing) {
    ASSERT_EQ(DBInitialize(10, 1), 0);
    DBErrorLog(1, "0123456789012345678901234567890123456789");
    EXPECT_STREQ(DBlog_filename, "01234567890123456789012345678");
    DBErrorLog(1, nullptr);  // on, previous name kept
    EXPECT_EQ(DBlog_errs, 1);
    EXPECT_STREQ(DBlog_filename, "01234567890123456789012345678");

    const std::string log = dir.file("never.log");
    DBErrorLog(1, log.c_str());
    DBErrorLog(0, nullptr);
    EXPECT_EQ(DBGetVersion(nullptr), DB_ERR_NULL);
    EXPECT_FALSE(std::filesystem::exists(log));
}

TEST(Bytes, SwapsCaseAndCompare) {
    EXPECT_EQ(static_cast<uint32_t>(_DBSwapBytesLong(0x12345678)), 0x78563412u);
    char text[] = "abcXYZ 19\xe4";
    EXPECT_STREQ(_DBstrupr(text), "ABCXYZ 19\xe4");  // ASCII letters only
    EXPECT_LT(_DBstricmp("PRICE", "PRICEX"), 0);
    EXPECT_EQ(_DBstricmp("Price", "PRICE"), 0);
    char overlap[] = "abcdef";
    _DBmemmove(overlap + 1, overlap, 4);
    EXPECT_STREQ(overlap, "aabcdf");
    _DBmemmove(overlap, overlap + 1, -3);  // a negative count moves nothing
    EXPECT_STREQ(overlap, "aabcdf");
}
