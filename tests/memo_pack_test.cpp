// Memo packs: live memos kept, dead ones dropped, deleted records' references
// cleared, and every record's memo readable whatever fails or kills the pack.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "core/api.hpp"
#include "core/bytes.hpp"
#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

// One memo family as the tests drive it.
struct Family {
    const char* name;
    int32_t dialect;  // table dialect, also the memo open mode's low byte
    bool fpt;
    int32_t size;     // DBT block factor / FPT size code
};

constexpr Family kFamilies[] = {
    {"dBASE III", 1, false, 1}, {"dBASE IV", 2, false, 1}, {"FoxPro", 4, true, 64}};

int32_t open_memo(const Family& f, const std::string& path, int32_t mode = 0) {
    int32_t h = -1;
    const int32_t code = f.fpt ? DBfpOpenMemo(&h, path.c_str(), f.dialect | mode)
                               : DBxbOpenMemo(&h, path.c_str(), f.dialect | mode);
    return code < 0 ? code : h;
}

int32_t put(const Family& f, int32_t h, const std::string& text, int32_t block = 0, int32_t flags = 0) {
    const int32_t code = f.fpt ? DBfpPutMemoRecord(h, &block, text.data(), static_cast<int32_t>(text.size()),
                                                   static_cast<int32_t>(text.size()), flags)
                               : DBxbPutMemoRecord(h, &block, text.c_str(), flags);
    return code < 0 ? code : block;
}

std::string get(const Family& f, int32_t h, int32_t block) {
    char* text = nullptr;
    const int32_t code = f.fpt ? DBfpGetMemoRecord(h, block, &text, 0x7FFFFFFF, 0)
                               : DBxbGetMemoRecord(h, block, &text, 0);
    if (code < 0) return "<" + std::to_string(code) + ">";
    std::string out = text;
    DBFreeMemory(text, "", 0);
    return out;
}

int32_t pack(const Family& f, int32_t table, int32_t* memo) {
    return f.fpt ? DBfpPackMemo(table, memo) : DBxbPackMemo(table, memo);
}

int32_t close_memo(const Family& f, int32_t h) { return f.fpt ? DBfpCloseMemo(h) : DBxbCloseMemo(h); }

std::string text_for(int i) {
    if (i % 5 == 4) return "";  // no memo
    std::string s = "record " + std::to_string(i) + " ";
    while (s.size() < static_cast<std::size_t>(20 + (i * 397) % 3000)) s += "lorem ipsum ";
    return s;
}

// A table of records numbered 1..count with a memo each (record i with text_for(i)),
// some of them replaced once so that the memo file holds dead texts, and the
// records named in deleted marked deleted.
struct Sample {
    std::string table, memo;
    std::vector<std::string> texts;  // by record number - 1
    std::vector<bool> deleted;
};

Sample build_sample(const Family& f, const ScratchDir& dir, const std::string& stem, int count,
                    const std::vector<int>& deleted) {
    Sample s{dir.file(stem + ".DBF"), dir.file(stem + (f.fpt ? ".FPT" : ".DBT")), {}, {}};
    DBFieldSpec fields[2] = {{"ID", 'C', 6, 0}, {"NOTE", 'M', 10, 0}};
    EXPECT_EQ(DBCreateFile(s.table.c_str(), 2, fields, f.dialect), 0) << DBGetErrorStr();
    EXPECT_EQ(f.fpt ? DBfpCreateMemo(s.memo.c_str(), f.size) : DBxbCreateMemo(s.memo.c_str(), f.size, f.dialect), 0);
    int32_t t = -1;
    EXPECT_EQ(DBOpenFile(&t, s.table.c_str(), f.dialect), 0) << DBGetErrorStr();
    const int32_t m = open_memo(f, s.memo);
    for (int i = 1; i <= count; ++i) {
        std::string text = text_for(i);
        int32_t block = 0;
        if (!text.empty()) {
            block = put(f, m, "an older text " + std::to_string(i));
            if (i % 3 == 0) block = put(f, m, text, block, f.fpt ? DB_FPT_REPLACE : DB_DBT_REPLACE);
            else block = put(f, m, text);
        }
        DBClearBuffer(t);
        DBPutStrField(t, 0, std::to_string(i).c_str());
        DBPutFieldData(t, 1, &block);
        int32_t n = 0;
        EXPECT_EQ(DBPutRecord(t, &n, DB_PUT_APPEND), 0);
        s.texts.push_back(text);
        s.deleted.push_back(false);
    }
    for (int d : deleted) {
        EXPECT_EQ(DBMarkRecordInActive(t, d), 0);
        s.deleted[d - 1] = true;
    }
    EXPECT_EQ(close_memo(f, m), 0);
    EXPECT_EQ(DBCloseFile(t), 0);
    return s;
}

int32_t memo_block(int32_t t, int16_t field = 1) {
    int32_t block = -1;
    DBGetFieldData(t, field, &block);
    return block;
}

// "" when every record of the table is there with its memo, else the first problem.
// Deleted records may keep their memo or have none (after a pack).
std::string check(const Family& f, const Sample& s) {
    int32_t t = -1;
    if (DBOpenFile(&t, s.table.c_str(), f.dialect) < 0) return "table does not open";
    const int32_t m = open_memo(f, s.memo);
    std::string problem;
    int32_t count = 0;
    DBGetRecordCount(t, &count);
    if (m < 0) problem = "memo does not open";
    else if (count != static_cast<int32_t>(s.texts.size())) problem = "record count " + std::to_string(count);
    for (int32_t n = 1; problem.empty() && n <= count; ++n) {
        DBGetRecord(t, n);
        const int32_t block = memo_block(t);
        const std::string text = block ? get(f, m, block) : "";
        const std::string& want = s.texts[n - 1];
        if (text != want && !(s.deleted[n - 1] && block == 0))
            problem = "record " + std::to_string(n) + ": block " + std::to_string(block) + " holds \"" +
                      text.substr(0, 40) + "\"";
    }
    if (m >= 0) close_memo(f, m);
    DBCloseFile(t);
    return problem;
}

class MemoPack : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    // Packs the sample; the test fails if the pack does.
    void pack_sample(const Family& f, const Sample& s, int32_t mode = 0) {
        int32_t t = -1;
        ASSERT_EQ(DBOpenFile(&t, s.table.c_str(), f.dialect | mode), 0);
        int32_t m = open_memo(f, s.memo, mode);
        ASSERT_GE(m, 0);
        ASSERT_EQ(pack(f, t, &m), 0) << DBGetErrorStr();
        ASSERT_GE(m, 0);
        EXPECT_EQ(close_memo(f, m), 0);
        EXPECT_EQ(DBCloseFile(t), 0);
    }

    ScratchDir dir;
};

std::string backup_of(const std::string& memo) { return memo.substr(0, memo.size() - 4) + ".BKT"; }

}  // namespace

TEST_F(MemoPack, KeepsTheMemosOfLiveRecordsAndClearsThoseOfDeletedOnes) {
    struct Scenario {
        const char* name;
        std::vector<int> deleted;
    } scenarios[] = {{"none deleted", {}}, {"some deleted", {3, 7, 8, 12}},
                     {"all deleted", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}};
    for (const Family& f : kFamilies) {
        for (const Scenario& sc : scenarios) {
            SCOPED_TRACE(std::string(f.name) + ", " + sc.name);
            const std::string stem = std::string(f.fpt ? "F" : "T") + std::to_string(f.dialect) +
                                     std::to_string(sc.deleted.size());
            const Sample s = build_sample(f, dir, stem, 12, sc.deleted);
            const std::string before = read_file(s.memo);
            pack_sample(f, s);
            EXPECT_EQ(check(f, s), "");
            EXPECT_EQ(read_file(backup_of(s.memo)), before);
            EXPECT_LT(read_file(s.memo).size(), before.size());
            int32_t t = -1;
            ASSERT_EQ(DBOpenFile(&t, s.table.c_str(), f.dialect), 0);
            for (int d : sc.deleted) EXPECT_TRUE(DBGetRecord(t, d) >= 0 && memo_block(t) == 0) << "record " << d;
            DBCloseFile(t);
        }
    }
}

TEST_F(MemoPack, FoxProMemosKeepTheirKindAndEveryByte) {
    const Family& f = kFamilies[2];
    const Sample s = build_sample(f, dir, "K", 2, {});
    int32_t t = -1, m = open_memo(f, s.memo), n = 1;
    ASSERT_EQ(DBOpenFile(&t, s.table.c_str(), 4), 0);
    const std::string picture("\0\x01\x02picture\0bytes", 16);
    int32_t block = put(f, m, picture, 0, DB_FPT_PICTURE);
    DBGetRecord(t, 1);
    DBPutFieldData(t, 1, &block);
    ASSERT_EQ(DBPutRecord(t, &n, DB_PUT_UPDATE), 0);
    ASSERT_EQ(pack(f, t, &m), 0);
    DBGetRecord(t, 1);
    block = memo_block(t);
    int32_t length = 0, is_picture = 0;
    ASSERT_EQ(DBfpGetMemoType(m, block, &length, &is_picture), 0);
    EXPECT_EQ(is_picture, 1);
    char* data = nullptr;
    ASSERT_EQ(DBfpGetMemoRecord(m, block, &data, length, 0), 0);
    EXPECT_EQ(std::string(data, static_cast<std::size_t>(length)), picture);
    DBFreeMemory(data, "", 0);
}

TEST_F(MemoPack, ASharedPackKeepsAutomaticLockingAndTheReopenedFileTakesPuts) {
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.name);
        const Sample s = build_sample(f, dir, std::string("S") + std::to_string(f.dialect), 6, {2});
        int32_t t = -1;
        ASSERT_EQ(DBOpenFile(&t, s.table.c_str(), f.dialect | DB_OPEN_SHARED), 0);
        int32_t m = open_memo(f, s.memo, DB_OPEN_AUTOLOCK);
        ASSERT_EQ(pack(f, t, &m), 0) << DBGetErrorStr();
        EXPECT_GT(put(f, m, "after the pack"), 0);  // no explicit lock needed
        close_memo(f, m);
        DBCloseFile(t);
        EXPECT_EQ(check(f, s), "");
    }
}

TEST_F(MemoPack, RefusesReadOnlyFilesAndForeignHandles) {
    const Sample s = build_sample(kFamilies[0], dir, "R", 3, {});
    int32_t t = -1, m = open_memo(kFamilies[0], s.memo, DB_OPEN_READONLY);
    ASSERT_EQ(DBOpenFile(&t, s.table.c_str(), 1), 0);
    EXPECT_EQ(DBxbPackMemo(t, &m), DB_ERR_READ_ONLY);
    EXPECT_EQ(DBfpPackMemo(t, &m), DB_ERR_HANDLE);
    EXPECT_EQ(DBxbPackMemo(m, &m), DB_ERR_HANDLE);
}

TEST_F(MemoPack, BinaryReferencesOfVisualFoxProTablesAreReadAndWrittenAsNumbers) {
    // A 0x30 table by hand: ID C(4), NOTE M(4) holding a 4-byte little-endian block.
    const std::string table = dir.file("V.DBF"), memo = dir.file("V.FPT");
    ASSERT_EQ(DBfpCreateMemo(memo.c_str(), 64), 0);
    int32_t m = -1;
    ASSERT_EQ(DBfpOpenMemo(&m, memo.c_str(), 0), 0);
    std::vector<int32_t> blocks;
    for (int i = 0; i < 3; ++i) {
        put(kFamilies[2], m, "dead " + std::to_string(i));
        blocks.push_back(put(kFamilies[2], m, "memo " + std::to_string(i)));
    }
    ASSERT_EQ(DBfpCloseMemo(m), 0);
    // header: version 0x30, 1 Jan 2026, 3 records, header 97, record 9; then ID
    // C(4) and NOTE M(4) descriptors (name, type at 11, width at 16) and 0x0D.
    std::string bytes("\x30\x1A\x01\x01\x03\0\0\0\x61\0\x09\0", 12);
    bytes.resize(32, '\0');
    for (auto [name, type] : {std::pair{"ID", 'C'}, std::pair{"NOTE", 'M'}})
        bytes += name + std::string(11 - std::strlen(name), '\0') + type + std::string(4, '\0') + '\x04' + std::string(15, '\0');
    bytes += '\x0D';
    for (int i = 0; i < 3; ++i) {
        std::string record = " ID" + std::to_string(i) + " " + std::string(4, '\0');
        put_le32(&record[5], static_cast<uint32_t>(blocks[i]));
        bytes += record;
    }
    bytes += '\x1A';
    write_file(table, bytes);
    int32_t t = -1;
    if (DBOpenFile(&t, table.c_str(), 10) < 0) GTEST_SKIP() << "0x30 tables do not open yet: " << DBGetErrorStr();
    ASSERT_EQ(DBfpOpenMemo(&m, memo.c_str(), 0), 0);
    ASSERT_EQ(DBfpPackMemo(t, &m), 0) << DBGetErrorStr();
    for (int i = 0; i < 3; ++i) {
        ASSERT_GE(DBGetRecord(t, i + 1), 0);
        const int32_t block = memo_block(t);
        EXPECT_EQ(get(kFamilies[2], m, block), "memo " + std::to_string(i));
    }
    DBCloseFile(t);
    const std::string after = read_file(table);
    EXPECT_EQ(after.size(), bytes.size());  // nothing written beyond a 4-byte field
    EXPECT_EQ(after.substr(97 + 1, 4), "ID0 ");
    EXPECT_EQ(after.substr(97 + 9 + 1, 4), "ID1 ");
}

TEST_F(MemoPack, AFailureAtAnyStepLeavesEveryRecordWithItsMemo) {
    const Call kinds[] = {Call::write, Call::read, Call::creat, Call::open, Call::rename,
                          Call::close, Call::allocate, Call::lseek, Call::unlink};
    int round = 0;
    for (const Family& f : kFamilies) {
        for (Call kind : kinds) {
            for (int n = 1;; ++n) {
                SCOPED_TRACE(std::string(f.name) + ", call kind " + std::to_string(static_cast<int>(kind)) +
                             ", failure " + std::to_string(n));
                const Sample s = build_sample(f, dir, "P" + std::to_string(++round), 8, {2, 5});
                int32_t t = -1;
                ASSERT_EQ(DBOpenFile(&t, s.table.c_str(), f.dialect), 0);
                int32_t m = open_memo(f, s.memo);
                ASSERT_GE(m, 0);
                FaultHost host;
                {
                    ScopedHost guard(host);
                    host.fail_nth(kind, n, kind == Call::allocate ? ENOMEM : EIO);
                    pack(f, t, &m);
                }
                const bool reached = host.calls(kind) >= n;
                DBTerminate();
                ASSERT_EQ(DBInitialize(20, 1), 0);
                EXPECT_EQ(check(f, s), "");
                if (!reached) break;
                ASSERT_LT(n, 400);
            }
        }
    }
}

TEST_F(MemoPack, AProcessKilledAnywhereInAPackLeavesTheOldOrTheNewFilesWhole) {
    const Family& f = kFamilies[0];
    // How long one pack of this sample takes, to spread the kills over it.
    const Sample probe = build_sample(f, dir, "PROBE", 150, {5, 40, 41, 90});
    const auto start = std::chrono::steady_clock::now();
    pack_sample(f, probe);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start).count();
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", pack takes " + std::to_string(took) + " us");
    int in_commit = 0;
    for (int trial = 0; trial < 12; ++trial) {
        const Sample s = build_sample(f, dir, "K" + std::to_string(trial), 150, {5, 40, 41, 90});
        const std::string old_memo = read_file(s.memo);
        const std::string old_table = read_file(s.table);
        const long delay = std::uniform_int_distribution<long>(0, took + took / 5)(random);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            DBTerminate();
            DBInitialize(20, 1);
            int32_t t = -1;
            DBOpenFile(&t, s.table.c_str(), f.dialect);
            int32_t m = open_memo(f, s.memo);
            pack(f, t, &m);
            _exit(0);
        }
        usleep(static_cast<useconds_t>(delay));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        SCOPED_TRACE("trial " + std::to_string(trial) + ", killed after " + std::to_string(delay) + " us");
        const std::string now = read_file(s.memo);
        if (now.empty()) {
            // Between the two renames: the old file is whole under the backup name.
            EXPECT_EQ(read_file(backup_of(s.memo)), old_memo);
            continue;
        }
        if (now != old_memo) {
            // Swapped: the references were all written before, the old file is the backup.
            EXPECT_EQ(read_file(backup_of(s.memo)), old_memo);
            EXPECT_EQ(check(f, s), "");
        } else if (read_file(s.table) == old_table) {
            EXPECT_EQ(check(f, s), "");  // killed in the first pass: nothing touched
        } else {
            ++in_commit;  // between the table flush and the swap (see below)
        }
    }
    // The references are flushed before the files are swapped; a kill between the
    // two leaves the new file complete under its temporary name. The window is a
    // few system calls long; it is reported, not hidden.
    RecordProperty("kills_between_flush_and_swap", in_commit);
}
