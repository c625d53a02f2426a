// FPT memo files: the bytes of new files and memos, whole and piecewise transfers,
// replacement in place and damaged files.
#include <gtest/gtest.h>

#include <string>

#include "core/api.hpp"
#include "core/bytes.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

class MemoFpt : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    int32_t fresh(const std::string& name, int32_t code, int32_t mode = 0) {
        path = dir.file(name);
        EXPECT_EQ(DBfpCreateMemo(path.c_str(), code), 0);
        int32_t h = -1;
        EXPECT_EQ(DBfpOpenMemo(&h, path.c_str(), mode), 0) << DBGetErrorStr();
        return h;
    }

    ScratchDir dir;
    std::string path;
};

std::string get(int32_t h, int32_t block, int32_t maximum = 0x7FFFFFFF, int32_t flags = 0) {
    char* data = nullptr;
    const int32_t code = DBfpGetMemoRecord(h, block, &data, maximum, flags);
    if (code < 0) return "<" + std::to_string(code) + ">";
    int32_t length = 0, picture = 0;
    std::string out;
    if (!(flags & DB_FPT_PIECES) && DBfpGetMemoType(h, block, &length, &picture) == 0)
        out.assign(data, static_cast<std::size_t>(std::min(length, maximum)));
    else
        out = data;
    DBFreeMemory(data, "", 0);
    return out;
}

int32_t put(int32_t h, const std::string& data, int32_t flags = 0, int32_t block = 0) {
    const int32_t code = DBfpPutMemoRecord(h, &block, data.data(), static_cast<int32_t>(data.size()),
                                           static_cast<int32_t>(data.size()), flags);
    return code < 0 ? code : block;
}

// Any bytes, NULs included.
std::string bytes_of(std::size_t length) {
    std::string s(length, '\0');
    for (std::size_t i = 0; i < length; ++i) s[i] = static_cast<char>((i * 131 + i / 255) & 0xFF);
    return s;
}

std::string be(uint32_t v) {
    std::string s(4, '\0');
    put_be32(s.data(), v);
    return s;
}

}  // namespace

TEST_F(MemoFpt, NewFilesHaveTheExactBytesOfTheirBlockSize) {
    // next free block and block size, big-endian, in a header of 512 bytes or one block
    struct Case {
        int32_t code;
        uint32_t next_free, size;
        std::size_t length;
    } cases[] = {{1, 1, 512, 512}, {64, 8, 64, 512}, {100, 6, 100, 600}, {32, 1, 16384, 16384},
                 {33, 16, 33, 528}, {511, 2, 511, 1022}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string file = dir.file("N" + std::to_string(c.code) + ".FPT");
        ASSERT_EQ(DBfpCreateMemo(file.c_str(), c.code), 0);
        std::string expected = be(c.next_free) + be(c.size);
        expected.resize(c.length, '\0');
        EXPECT_EQ(read_file(file), expected);
    }
    EXPECT_EQ(DBfpCreateMemo(dir.file("B.FPT").c_str(), 512), DB_ERR_PAGE_SIZE);
    // Open refuses other dialects, odd block sizes and files shorter than the header.
    const std::string file = dir.file("N64.FPT");
    int32_t h = 3;
    EXPECT_EQ(DBfpOpenMemo(&h, file.c_str(), 1), DB_ERR_VERSION);
    EXPECT_EQ(h, DB_NO_HANDLE);
    write_file(file, be(8) + be(20) + std::string(504, '\0'));
    EXPECT_EQ(DBfpOpenMemo(&h, file.c_str(), 0), DB_ERR_PAGE_SIZE);
    write_file(file, be(8) + be(64) + std::string(400, '\0'));
    EXPECT_EQ(DBfpOpenMemo(&h, file.c_str(), 0), DB_ERR_NOT_MEMO);
    EXPECT_EQ(h, DB_NO_HANDLE);
}

TEST_F(MemoFpt, AppendsStoreBigEndianHeadersAndMoveTheNextFreeBlock) {
    const int32_t h = fresh("A.FPT", 64);
    EXPECT_EQ(put(h, "0123456789"), 8);
    std::string bytes = read_file(path);
    EXPECT_EQ(bytes.substr(0, 4), be(9));
    EXPECT_EQ(bytes.size(), 8u * 64 + 8 + 10);  // ends right after the data
    EXPECT_EQ(bytes.substr(512), be(1) + be(10) + "0123456789");
    EXPECT_EQ(put(h, std::string(60, 'x'), DB_FPT_PICTURE), 9);  // 68 bytes: 2 blocks
    bytes = read_file(path);
    EXPECT_EQ(bytes.substr(0, 4), be(11));
    EXPECT_EQ(bytes.substr(9 * 64, 8), be(0) + be(60));
    int32_t length = 0, picture = 0;
    EXPECT_EQ(DBfpGetMemoType(h, 9, &length, &picture), 0);
    EXPECT_TRUE(length == 60 && picture == 1);
    EXPECT_EQ(get(h, 0), "<-204>");
    EXPECT_EQ(get(h, 11), "<-204>");
}

TEST_F(MemoFpt, MemosOfEveryLengthComeBackWithEveryByte) {
    const std::size_t lengths[] = {1, 511, 512, 513, 65535, 65536, 200000};
    for (int32_t code : {33, 64, 1, 32}) {
        const int32_t h = fresh("R" + std::to_string(code) + ".FPT", code);
        for (std::size_t length : lengths) {
            SCOPED_TRACE("code " + std::to_string(code) + " length " + std::to_string(length));
            const std::string data = bytes_of(length);
            const int32_t block = put(h, data);
            ASSERT_GT(block, 0);
            EXPECT_EQ(get(h, block), data);
        }
        EXPECT_EQ(DBfpCloseMemo(h), 0);
    }
}

TEST_F(MemoFpt, PiecewiseReadsAndWritesMeetInTheMiddle) {
    const int32_t h = fresh("P.FPT", 64);
    const std::string data = bytes_of(100);
    const int32_t block = put(h, data);
    char buffer[41];
    std::string got;
    for (int32_t expected : {DB_FPT_MORE, DB_FPT_MORE, 0}) {
        EXPECT_EQ(DBfpGetMemoToBuffer(h, block, buffer, 40, DB_FPT_PIECES), expected);
        EXPECT_EQ(DBerrno, expected);
        got.append(buffer, got.size() < 80 ? 40 : 20);
    }
    EXPECT_EQ(got, data);
    // Written in three pieces of a declared total.
    int32_t at = 0;
    const std::string whole = bytes_of(70000);
    for (std::size_t from = 0; from < whole.size(); from += 30000) {
        const std::string piece = whole.substr(from, 30000);
        ASSERT_EQ(DBfpPutMemoRecord(h, &at, piece.data(), static_cast<int32_t>(piece.size()), 70000,
                                    DB_FPT_PIECES),
                  0);
    }
    EXPECT_EQ(get(h, at), whole);
    // Read in pieces of at most 65535 bytes.
    std::string pieces;
    int32_t code = DB_FPT_MORE;
    while (code == DB_FPT_MORE) {
        char* part = nullptr;
        code = DBfpGetMemoRecord(h, at, &part, 65535, DB_FPT_PIECES);
        ASSERT_GE(code, 0);
        pieces.append(part, std::min<std::size_t>(65535, whole.size() - pieces.size()));
        DBFreeMemory(part, "", 0);
    }
    EXPECT_EQ(pieces, whole);
}

TEST_F(MemoFpt, APieceBeyondTheTotalOrAPutDuringAPendingReadIsKeptApart) {
    const int32_t h = fresh("T.FPT", 64);
    int32_t block = 0;
    ASSERT_EQ(DBfpPutMemoRecord(h, &block, "abcdef", 6, 10, DB_FPT_PIECES), 0);
    const std::string before = read_file(path);
    EXPECT_EQ(DBfpPutMemoRecord(h, &block, "ghijkl", 6, 10, DB_FPT_PIECES), DB_ERR_BAD_DATA);
    EXPECT_EQ(read_file(path), before);
    ASSERT_EQ(DBfpPutMemoRecord(h, &block, "ghij", 4, 10, DB_FPT_PIECES), 0);
    EXPECT_EQ(get(h, block), "abcdefghij");

    // A put while a piecewise read is pending never writes into the memo being read.
    char buffer[5];
    ASSERT_EQ(DBfpGetMemoToBuffer(h, block, buffer, 4, DB_FPT_PIECES), DB_FPT_MORE);
    int32_t target = block;
    ASSERT_EQ(DBfpPutMemoRecord(h, &target, "new", 3, 3, DB_FPT_PIECES), 0);
    EXPECT_NE(target, block);
    EXPECT_EQ(get(h, block), "abcdefghij");
    EXPECT_EQ(get(h, target), "new");
}

TEST_F(MemoFpt, ReplaceStaysInPlaceOnlyWhenTheMemoFitsItsRoom) {
    const int32_t h = fresh("X.FPT", 64);
    const int32_t block = put(h, bytes_of(10));
    EXPECT_EQ(put(h, std::string(50, 'f'), DB_FPT_REPLACE, block), block);  // 58 fits in 64
    EXPECT_EQ(get(h, block), std::string(50, 'f'));
    const int32_t moved = put(h, std::string(60, 'g'), DB_FPT_REPLACE, block);  // 68 does not
    EXPECT_NE(moved, block);
    EXPECT_EQ(get(h, moved), std::string(60, 'g'));
    // Block 0 and the blocks of the header area are no memo to replace.
    const std::string header = read_file(path).substr(4, 4);
    for (int32_t b : {0, 3}) {
        const int32_t appended = put(h, "0123456789", DB_FPT_REPLACE, b);
        EXPECT_GT(appended, moved);
        EXPECT_EQ(read_file(path).substr(4, 4), header);
    }
    EXPECT_EQ(put(h, "x", 0x200), DB_ERR_COMMAND);
}

TEST_F(MemoFpt, DamagedLengthsAndMaximaAreAnsweredNotTrusted) {
    int32_t h = fresh("D.FPT", 64);
    const int32_t block = put(h, "0123456789");
    const int32_t after = put(h, "after");
    char* data = reinterpret_cast<char*>(1);
    EXPECT_EQ(DBfpGetMemoRecord(h, block, &data, -1, 0), DB_ERR_COMMAND);
    EXPECT_EQ(data, nullptr);
    ASSERT_EQ(DBfpCloseMemo(h), 0);
    std::string bytes = read_file(path);
    bytes.replace(static_cast<std::size_t>(block) * 64 + 4, 4, be(0xFFFFFFF0u));
    write_file(path, bytes);
    ASSERT_EQ(DBfpOpenMemo(&h, path.c_str(), 0), 0);
    EXPECT_EQ(get(h, block), "<-206>");
    int32_t length = 0, picture = 0;
    EXPECT_EQ(DBfpGetMemoType(h, block, &length, &picture), DB_ERR_CORRUPT);
    EXPECT_EQ(put(h, "x", DB_FPT_REPLACE, block), DB_ERR_CORRUPT);
    EXPECT_EQ(get(h, after), "after");
}

TEST_F(MemoFpt, AnAppendAfterALaggingHeaderCutsNothingOff) {
    const int32_t h = fresh("L.FPT", 64);
    const int32_t block = put(h, std::string(100, 'k'));
    ASSERT_EQ(DBfpCloseMemo(h), 0);
    std::string bytes = read_file(path);
    bytes.replace(0, 4, be(8));  // the header still names the memo's own block
    write_file(path, bytes);
    int32_t again = -1;
    ASSERT_EQ(DBfpOpenMemo(&again, path.c_str(), 0), 0);
    const int32_t next = put(again, "later");
    EXPECT_GT(next, block);
    EXPECT_EQ(get(again, block), std::string(100, 'k'));
    EXPECT_EQ(get(again, next), "later");
}

TEST_F(MemoFpt, SharedFilesNeedTheLockOrAutomaticLocking) {
    int32_t h = fresh("S.FPT", 1, DB_OPEN_SHARED);
    EXPECT_EQ(put(h, "a"), DB_ERR_NOT_LOCKED);
    EXPECT_EQ(DBfpLockMemo(h), 0);
    DBfpMemoInfo info{};
    ASSERT_EQ(DBfpGetMemoInfo(h, &info), 0);
    EXPECT_TRUE(info.lock_state == 4 && info.block_size == 512);
    EXPECT_EQ(put(h, "a"), 1);
    EXPECT_EQ(DBfpUnLockMemo(h), 0);
    ASSERT_EQ(DBfpCloseMemo(h), 0);
    ASSERT_EQ(DBfpOpenMemo(&h, path.c_str(), DB_OPEN_AUTOLOCK), 0);
    EXPECT_EQ(put(h, "b"), 2);
    ASSERT_EQ(DBfpCloseMemo(h), 0);
    ASSERT_EQ(DBfpOpenMemo(&h, path.c_str(), DB_OPEN_READONLY), 0);
    EXPECT_EQ(put(h, "c"), DB_ERR_READ_ONLY);
    EXPECT_EQ(get(h, 2), "b");
}
