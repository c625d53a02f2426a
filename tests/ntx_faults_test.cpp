// Host failures in the middle of NTX operations: the code comes back, and nothing
// leaks.
#include <cerrno>

#include "ntx_fixture.hpp"
#include "support/host_faults.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {
class NtxFaults : public NtxTest {};
}  // namespace

TEST_F(NtxFaults, FailedWriteDuringASplitIsReturnedAndLeaksNothing) {
    const std::string path = create("F.NTX", 10);
    FaultHost host;
    ScopedHost guard(host);
    const std::size_t blocks = host.live_blocks();
    int32_t h = open(path, DB_OPEN_UNBUFFERED);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(DBclAddKey(h, key_of(i, 10).c_str(), i + 1), 0);
    host.fail_nth(Call::write, 2, ENOSPC);  // the split writes the new page, then the old
    const int32_t code = DBclAddKey(h, key_of(50, 10).c_str(), 51);
    EXPECT_LT(code, 0);
    EXPECT_EQ(DBerrno, code);
    EXPECT_EQ(DBclCloseIndex(h), 0);
    EXPECT_EQ(host.live_blocks(), blocks);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

TEST_F(NtxFaults, FailedFlushAtCloseKeepsTheIndexOpenUntilItSucceeds) {
    const std::string path = create("C.NTX", 10);
    FaultHost host;
    ScopedHost guard(host);
    const std::size_t blocks = host.live_blocks();
    int32_t h = open(path);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(DBclAddKey(h, key_of(i, 10).c_str(), i + 1), 0);
    host.fail_nth(Call::write, 1, EIO);
    EXPECT_LT(DBclCloseIndex(h), 0);
    EXPECT_EQ(walk_forward(h).size(), 200u);  // still open, still whole in memory
    EXPECT_EQ(DBclCloseIndex(h), 0);
    EXPECT_EQ(host.live_blocks(), blocks);
    EXPECT_EQ(host.open_descriptors(), 0u);
    h = open(path);
    EXPECT_EQ(walk_forward(h).size(), 200u);
    EXPECT_EQ(problems(h), std::vector<std::string>{});
}

TEST_F(NtxFaults, FailedReadsAndAllocationsAreReturned) {
    const std::string path = create("R.NTX", 10);
    int32_t h = open(path);
    for (int i = 0; i < 300; ++i) ASSERT_EQ(DBclAddKey(h, key_of(i, 10).c_str(), i + 1), 0);
    ASSERT_EQ(DBclCloseIndex(h), 0);
    FaultHost host;
    ScopedHost guard(host);
    h = open(path);
    host.fail_nth(Call::read, 1, EIO);
    char key[256] = "0000000100";
    uint32_t recno = 0;
    EXPECT_LT(DBclKeySearch(h, key, &recno, 1), 0);
    EXPECT_EQ(DBclKeySearch(h, key, &recno, 1), 0);  // the page was not kept half-read
    int32_t count = 200;
    host.fail_nth(Call::allocate, 5, ENOMEM);
    EXPECT_EQ(DBclGetSetCacheSize(h, &count, DB_CACHE_SET), DB_WARN_PARTIAL_ALLOC);
    EXPECT_GE(count, 100);
    EXPECT_LT(count, 200);
    EXPECT_EQ(walk_forward(h).size(), 300u);
}
