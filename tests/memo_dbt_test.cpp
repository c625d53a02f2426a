// DBT memo files: the bytes of new files, texts put and got back in both layouts,
// soft line breaks, in-place replacement, the dBASE IV free chain and damaged files.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "core/api.hpp"
#include "core/bytes.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

class MemoDbt : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    // A new file opened with mode; the test fails when either step does.
    int32_t fresh(const std::string& name, int32_t dialect, int32_t factor = 1, int32_t bits = 0) {
        path = dir.file(name);
        EXPECT_EQ(DBxbCreateMemo(path.c_str(), factor, dialect), 0);
        return open(path, dialect | bits);
    }
    // Writes bytes over the file (a damaged copy of it) and opens that with mode.
    int32_t damaged(const std::string& bytes, int32_t mode) {
        write_file(path, bytes);
        return open(path, mode);
    }
    int32_t open(const std::string& path, int32_t mode) {
        int32_t h = -1;
        EXPECT_EQ(DBxbOpenMemo(&h, path.c_str(), mode), 0) << DBGetErrorStr();
        return h;
    }

    ScratchDir dir;
    std::string path;
};

std::string get(int32_t h, int32_t block, int32_t flags = 0) {
    char* text = nullptr;
    const int32_t code = DBxbGetMemoRecord(h, block, &text, flags);
    if (code < 0) return "<" + std::to_string(code) + ">";
    std::string out = text;
    DBFreeMemory(text, "", 0);
    return out;
}

int32_t put(int32_t h, const std::string& text, int32_t flags = 0, int32_t block = 0) {
    const int32_t code = DBxbPutMemoRecord(h, &block, text.c_str(), flags);
    return code < 0 ? code : block;
}

// Printable text of a given length with spaces, so that nothing is all one byte.
std::string text_of(std::size_t length) {
    std::string s;
    for (std::size_t i = 0; s.size() < length; ++i) s += (i % 7 == 6) ? ' ' : static_cast<char>('a' + i % 26);
    return s;
}

uint32_t le32_at(const std::string& bytes, std::size_t at) { return le32(bytes.data() + at); }

}  // namespace

TEST_F(MemoDbt, NewFilesHaveTheExactBytesOfTheirLayout) {
    struct Case {
        const char* name;
        int32_t dialect, factor;
        std::size_t length;
        const char* stored_name;  // dBASE IV header bytes 8..15
    } cases[] = {
        {"three.dbt", 1, 1, 513, nullptr},  // dBASE III: block 0 then 0x1A, factor unused
        {"THREE6.DBT", 6, 7, 513, nullptr},
        {"notes.dbt", 2, 1, 513, "NOTES\0\0\0"},
        {"abcdefghij.x.dbt", 2, 4, 2049, "ABCDEFGH"},  // 8 characters of the base name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(c.name);
        ASSERT_EQ(DBxbCreateMemo(path.c_str(), c.factor, c.dialect), 0);
        const std::string bytes = read_file(path);
        ASSERT_EQ(bytes.size(), c.length);
        std::string expected(c.length, '\0');
        expected[0] = 1;                   // next free block / free chain head
        expected[c.length - 1] = '\x1A';   // the end byte after block 0
        if (c.stored_name) {
            std::memcpy(&expected[8], c.stored_name, 8);
            expected[18] = 2;               // 00 00 02 01
            expected[19] = 1;
            expected[20] = static_cast<char>((512 * c.factor) & 0xFF);  // block length
            expected[21] = static_cast<char>((512 * c.factor) >> 8);
        }
        EXPECT_EQ(bytes, expected);
    }
}

TEST_F(MemoDbt, CreateAndOpenRefuseWhatIsNoMemoFile) {
    const std::string path = dir.file("M.DBT");
    EXPECT_EQ(DBxbCreateMemo(path.c_str(), 33, 2), DB_ERR_PAGE_SIZE);
    EXPECT_EQ(DBxbCreateMemo(path.c_str(), 1, 4), DB_ERR_VERSION);
    ASSERT_EQ(DBxbCreateMemo(path.c_str(), 1, 2), 0);
    int32_t h = 7;
    EXPECT_EQ(DBxbOpenMemo(&h, path.c_str(), 8), DB_ERR_VERSION);
    EXPECT_EQ(h, DB_NO_HANDLE);
    std::string bytes = read_file(path);
    bytes[20] = 100;  // block length 100
    bytes[21] = 0;
    write_file(path, bytes);
    EXPECT_EQ(DBxbOpenMemo(&h, path.c_str(), 2), DB_ERR_PAGE_SIZE);
    write_file(path, std::string(300, '\0'));  // shorter than a dBASE III header block
    EXPECT_EQ(DBxbOpenMemo(&h, path.c_str(), 1), DB_ERR_NOT_MEMO);
    EXPECT_EQ(DBxbOpenMemo(&h, path.c_str(), 2), DB_ERR_PAGE_SIZE);  // length 0 in the header

    // dBASE IV files of other programs open whatever their marker bytes 16..19, 22..23.
    ASSERT_EQ(DBxbCreateMemo(path.c_str(), 1, 2), 0);
    bytes = read_file(path);
    bytes[16] = 0x0B;  // as a version byte, with 17..19 zero
    bytes[18] = bytes[19] = 0;
    bytes[22] = 0x7F;
    write_file(path, bytes);
    h = open(path, 2);
    EXPECT_EQ(get(h, put(h, "kept")), "kept");
}

TEST_F(MemoDbt, TextsOfEveryLengthComeBackInEveryLayout) {
    struct Layout {
        int32_t dialect, factor;
    } layouts[] = {{1, 1}, {6, 1}, {2, 1}, {2, 4}, {2, 32}};
    const std::size_t lengths[] = {1, 511, 512, 513, 65535, 65536, 200000};
    for (const Layout& l : layouts) {
        const int32_t h = fresh("L" + std::to_string(l.dialect) + "_" + std::to_string(l.factor) + ".DBT",
                                l.dialect, l.factor);
        for (std::size_t length : lengths) {
            SCOPED_TRACE("dialect " + std::to_string(l.dialect) + " factor " + std::to_string(l.factor) +
                         " length " + std::to_string(length));
            const std::string text = text_of(length);
            const int32_t block = put(h, text);
            if (l.dialect != 2 && length > 65535) {
                // A reader would stop at 128 blocks: such a text is refused, not lost later.
                EXPECT_EQ(block, DB_ERR_BAD_DATA);
                continue;
            }
            ASSERT_GT(block, 0);
            EXPECT_EQ(get(h, block), text);
        }
        EXPECT_EQ(DBxbCloseMemo(h), 0);
    }
}

TEST_F(MemoDbt, DBaseIIIAppendsAtTheNextFreeBlockAndWastesABlockOnAnExactFit) {
    const int32_t h = fresh("N.DBT", 1);
    EXPECT_EQ(put(h, "hello"), 1);
    EXPECT_EQ(put(h, std::string(510, 'x')), 2);  // 510 + 2 = 512 still moves by 2
    const std::string bytes = read_file(path);
    EXPECT_EQ(le32_at(bytes, 0), 4u);
    EXPECT_EQ(bytes.substr(512, 7), std::string("hello\x1A\x1A"));
    EXPECT_EQ(bytes.substr(1024 + 510, 2), std::string("\x1A\x1A"));
    EXPECT_EQ(get(h, 0), "<-204>");
    EXPECT_EQ(get(h, 5), "<-204>");
}

TEST_F(MemoDbt, WrappedLinesCarrySoftBreaksThatAGetCanStrip) {
    struct Case {
        std::string text;
        std::string stored;
    } cases[] = {
        // Breaks after the last space within 20 characters.
        {"the quick brown fox jumps over the lazy dog",
         "the quick brown fox \x8D\njumps over the lazy \x8D\ndog"},
        // A word longer than the line is cut after 20 characters.
        {std::string(30, 'w'), std::string(20, 'w') + "\x8D\n" + std::string(10, 'w')},
        // A hard line break within reach ends the line with its line feed.
        {"short line\r\nnext one", "short line\r\nnext one"},
    };
    const int32_t h = fresh("W.DBT", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const int32_t block = put(h, c.text, 20);
        ASSERT_GT(block, 0);
        EXPECT_EQ(get(h, block), c.stored);
        EXPECT_EQ(get(h, block, DB_DBT_STRIP_SOFT), c.text);
    }
    EXPECT_EQ(put(h, "text", 133), DB_ERR_MEMO_LINE_LENGTH);
    const int32_t plain = fresh("P.DBT", 6);  // dialect 6 never wraps
    EXPECT_EQ(get(plain, put(plain, std::string(30, 'w'), 20)), std::string(30, 'w'));
}

TEST_F(MemoDbt, ReplaceKeepsTheBlockOnlyWhenTheTextFitsAndBlockZeroAppends) {
    int32_t h = fresh("R.DBT", 1);
    const int32_t block = put(h, std::string(100, 'a'));
    EXPECT_EQ(put(h, std::string(300, 'b'), DB_DBT_REPLACE, block), block);
    const int32_t moved = put(h, std::string(600, 'c'), DB_DBT_REPLACE, block);
    EXPECT_NE(moved, block);
    EXPECT_EQ(get(h, moved), std::string(600, 'c'));
    EXPECT_EQ(get(h, block), std::string(300, 'b'));
    // Block 0 is an empty memo field, not a text: the replace appends in both layouts.
    for (int32_t dialect : {1, 2}) {
        const std::string name = "Z" + std::to_string(dialect) + ".DBT";
        h = fresh(name, dialect);
        const std::string before = read_file(dir.file(name)).substr(4, 20);
        EXPECT_EQ(put(h, "abc", DB_DBT_REPLACE, 0), 1) << dialect;
        EXPECT_EQ(get(h, 1), "abc");
        EXPECT_EQ(read_file(dir.file(name)).substr(4, 20), before);
    }
}

TEST_F(MemoDbt, DBaseIVReusesAFreedRunFirstFit) {
    const int32_t h = fresh("F.DBT", 2);
    const int32_t first = put(h, text_of(1000));  // 1008 bytes: blocks 1 and 2
    const int32_t second = put(h, "after");        // block 3
    ASSERT_EQ(first, 1);
    ASSERT_EQ(second, 3);
    const int32_t moved = put(h, text_of(2000), DB_DBT_REPLACE, first);  // blocks 4..7
    EXPECT_EQ(moved, 4);
    std::string bytes = read_file(path);
    EXPECT_EQ(le32_at(bytes, 0), 1u);        // head: the freed run
    EXPECT_EQ(le32_at(bytes, 512), 8u);      // its next: the end of the file
    EXPECT_EQ(le32_at(bytes, 516), 2u);      // its length
    EXPECT_EQ(put(h, text_of(1016)), 1);     // 1024 bytes fit the 2-block run
    bytes = read_file(path);
    EXPECT_EQ(le32_at(bytes, 0), 8u);        // chain empty again
    EXPECT_EQ(bytes.substr(512, 4), std::string("\xFF\xFF\x08\x00", 4));
    EXPECT_EQ(le32_at(bytes, 516), 1024u);
    EXPECT_EQ(put(h, text_of(1017)), 8);     // too long for any run: appended
    EXPECT_EQ(get(h, 1), text_of(1016));
    EXPECT_EQ(get(h, second), "after");
    EXPECT_EQ(get(h, moved), text_of(2000));
}

TEST_F(MemoDbt, DamagedDBaseIVFilesAreAnsweredNotTrusted) {
    int32_t h = fresh("D.DBT", 2);
    const int32_t a = put(h, "first text");
    const int32_t b = put(h, "second text");
    std::string bytes = read_file(path);
    put_le32(&bytes[512 * a + 4], 0x7FFFFF00);  // total far past the end of the file
    h = damaged(bytes, 2);
    EXPECT_EQ(get(h, a), "<-206>");
    // A replace there frees nothing: the next text does not land over the second one.
    const int32_t c = put(h, std::string(700, 'r'), DB_DBT_REPLACE, a);
    EXPECT_GT(c, b);
    EXPECT_EQ(le32_at(read_file(path), 0), static_cast<uint32_t>(c + 2));  // chain still empty
    EXPECT_EQ(get(h, b), "second text");
    bytes = read_file(path);
    put_le32(&bytes[0], static_cast<uint32_t>(a));  // a free chain that loops on itself
    put_le32(&bytes[512 * a], static_cast<uint32_t>(a));
    put_le32(&bytes[512 * a + 4], 0);
    h = damaged(bytes, 2);
    EXPECT_EQ(put(h, "anything"), DB_ERR_CORRUPT);
}

TEST_F(MemoDbt, DamagedDBaseIIIFilesAreAnsweredNotTrusted) {
    fresh("E.DBT", 1);
    std::string bytes = read_file(path).substr(0, 512) + std::string(700, 'x');  // the file ends inside
    EXPECT_EQ(get(damaged(bytes, 1), 1), "<-206>");
    bytes += std::string(128 * 512, 'y') + "\x1A";  // no terminator within 128 blocks
    EXPECT_EQ(get(damaged(bytes, 1), 1), "<-229>");
    put_le32(&bytes[0], 0);  // next free block 0 would write over the header
    EXPECT_EQ(put(damaged(bytes, 1), "abc"), DB_ERR_CORRUPT);
    EXPECT_EQ(read_file(path), bytes);
}

TEST_F(MemoDbt, RefusedPutsWriteNothing) {
    int32_t h = fresh("X.DBT", 1);
    const std::string before = read_file(path);
    int32_t block = 0;
    EXPECT_EQ(DBxbPutMemoRecord(h, &block, "", 0), DB_ERR_BAD_DATA);
    EXPECT_EQ(DBxbPutMemoRecord(h, &block, "a", 0x200), DB_ERR_COMMAND);
    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(DBxbGetMemoRecord(h, 2, &text, 0), DB_ERR_SEEK);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(DBxbCloseMemo(h), 0);
    h = open(path, 1 | DB_OPEN_READONLY);
    EXPECT_EQ(put(h, "a"), DB_ERR_READ_ONLY);
    ASSERT_EQ(DBxbCloseMemo(h), 0);
    h = open(path, 1 | DB_OPEN_SHARED);
    EXPECT_EQ(put(h, "a"), DB_ERR_NOT_LOCKED);
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(DBxbLockMemo(h), 0);
    EXPECT_EQ(put(h, "a"), 1);
    EXPECT_EQ(DBxbUnLockMemo(h), 0);
    DBxbMemoInfo info{};
    ASSERT_EQ(DBxbGetMemoInfo(h, &info), 0);
    EXPECT_EQ(info.flags, static_cast<uint32_t>(DB_INFO_SHARED | DB_INFO_UNBUFFERED));
    EXPECT_TRUE(info.dialect == 1 && info.lock_state == 0 && info.block_length == 512);
}

TEST_F(MemoDbt, ProcessesAppendingUnderAutomaticLocksKeepEveryText) {
    const std::string path = dir.file("S.DBT");
    ASSERT_EQ(DBxbCreateMemo(path.c_str(), 1, 2), 0);
    DBSetLockRetryCount(50);
    constexpr int kTexts = 40;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    const char who = child == 0 ? 'c' : 'p';
    if (child == 0) {
        DBTerminate();
        DBInitialize(20, 1);
        DBSetLockRetryCount(50);
    }
    int32_t h = -1;
    int32_t blocks[kTexts] = {};
    bool ok = DBxbOpenMemo(&h, path.c_str(), 2 | DB_OPEN_AUTOLOCK) == 0;
    for (int i = 0; ok && i < kTexts; ++i)
        ok = DBxbPutMemoRecord(h, &blocks[i], (std::string(1 + i * 37, who) + std::to_string(i)).c_str(), 0) == 0;
    int status = 0;
    if (child != 0) waitpid(child, &status, 0);
    for (int i = 0; ok && i < kTexts; ++i) ok = get(h, blocks[i]) == std::string(1 + i * 37, who) + std::to_string(i);
    if (child == 0) _exit(ok ? 0 : 1);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
