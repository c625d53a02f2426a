// Table packs and restructures: the packed file checked byte for byte against the
// records that were not deleted, the backup and temporary names, the open mode the
// table keeps, a pack refused while another process holds a lock, a pack failing
// at every step, and the headers DBModifyFile writes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "core/api.hpp"
#include "core/bytes.hpp"
#include "support/host_faults.hpp"
#include "support/dbf_bytes.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using xbdb::test::Call;
using xbdb::test::FaultHost;
using xbdb::test::read_file;
using xbdb::test::ScopedHost;
using xbdb::test::ScratchDir;
using xbdb::test::write_file;

namespace {

DBFieldSpec spec(const char* name, int32_t type, int32_t length = 0, int32_t decimals = 0) {
    DBFieldSpec f{};
    std::memcpy(f.name, name, std::min(std::strlen(name), sizeof f.name - 1));
    f.type = type;
    f.length = length;
    f.decimals = decimals;
    return f;
}

uint32_t u16(const std::string& s, std::size_t at) { return le16(s.data() + at); }
uint32_t u32(const std::string& s, std::size_t at) { return le32(s.data() + at); }

// The records of a table file, each with its deletion byte.
std::vector<std::string> records_of(const std::string& file) {
    const uint32_t start = u16(file, 8), length = u16(file, 10), count = u32(file, 4);
    std::vector<std::string> out;
    for (uint32_t i = 0; i < count; ++i) out.push_back(file.substr(start + i * length, length));
    return out;
}

std::vector<std::string> not_deleted(const std::vector<std::string>& records) {
    std::vector<std::string> out;
    for (const std::string& r : records)
        if (r[0] != '*') out.push_back(r);
    return out;
}

std::string joined(const std::vector<std::string>& records) {
    std::string out;
    for (const std::string& r : records) out += r;
    return out;
}

// Temporary pack files (N.DBF) left in dir.
int temporary_files(const ScratchDir& dir) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        n += name.size() > 4 && name.find_first_not_of("0123456789") == name.size() - 4;
    }
    return n;
}

std::string header(uint8_t version, uint32_t count, uint16_t length, uint16_t record, uint8_t production) {
    return test::dbf_header(version, count, length, record, production);
}
using test::descriptor;

// A host that notes the names of the files it creates.
class CreateLog : public FaultHost {
public:
    std::vector<std::string> created;
    int creat(const char* path, mode_t mode) override {
        created.emplace_back(path);
        return FaultHost::creat(path, mode);
    }
};

class TablePack : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    // A table of count records (ID, NAME, AMOUNT, and NOTE in memo dialects), with
    // the records named in deleted marked deleted. Returns the file's bytes.
    std::string make_table(const std::string& path, int32_t dialect, int count,
                           const std::vector<int>& deleted, bool memo = false) {
        std::vector<DBFieldSpec> fields = {spec("ID", 'C', 6), spec("NAME", 'c', 20),
                                           spec("AMOUNT", 'N', 8, 2)};
        if (memo) fields.push_back(spec("NOTE", 'M'));
        EXPECT_EQ(DBCreateFile(path.c_str(), static_cast<int32_t>(fields.size()), fields.data(), dialect), 0);
        int32_t h = -1;
        EXPECT_EQ(DBOpenFile(&h, path.c_str(), dialect), 0);
        for (int i = 1; i <= count; ++i) {
            DBClearBuffer(h);
            DBPutStrField(h, 0, std::to_string(i).c_str());
            DBPutStrField(h, 1, ("name " + std::to_string(i * 7919 % 1000)).c_str());
            double amount = i * 1.25;
            DBPutFieldData(h, 2, &amount);
            if (memo) {
                uint32_t block = static_cast<uint32_t>(i % 4 ? i + 1 : 0);
                DBPutFieldData(h, 3, &block);
            }
            int32_t n = 0;
            EXPECT_EQ(DBPutRecord(h, &n, DB_PUT_APPEND), 0);
        }
        for (int d : deleted) EXPECT_EQ(DBMarkRecordInActive(h, d), 0);
        EXPECT_EQ(DBCloseFile(h), 0);
        return read_file(path);
    }

    // Opens, packs and closes path; the pack's code.
    int32_t pack_file(const std::string& path, int32_t mode) {
        int32_t h = -1;
        EXPECT_EQ(DBOpenFile(&h, path.c_str(), mode), 0);
        const int32_t code = DBPackFile(&h);
        if (h >= 0) {
            EXPECT_EQ(DBCloseFile(h), 0);
        }
        return code;
    }

    // The packed file against the file before: same header apart from date and
    // count, exactly the records not deleted, the end mark, nothing after it.
    static void expect_packed(const std::string& before, const std::string& after, int32_t dialect) {
        const uint32_t start = u16(before, 8), length = u16(before, 10);
        const std::vector<std::string> kept = not_deleted(records_of(before));
        ASSERT_GE(after.size(), start);
        EXPECT_EQ(after.substr(0, 1), before.substr(0, 1));
        EXPECT_EQ(after.substr(8, start - 8), before.substr(8, start - 8));  // descriptors too
        EXPECT_EQ(u32(after, 4), kept.size());
        const std::string mark(dialect == 7 ? length : 1, '\x1A');
        EXPECT_EQ(after.substr(start), joined(kept) + mark);
    }

    // Runs DBModifyFile on a file of 600 bytes of 'Z'; returns the code and the file.
    int32_t modify(std::vector<DBFieldSpec>& fields, int32_t dialect, int32_t records,
                   std::string* file) {
        const std::string path = dir.file("MOD.DBF");
        write_file(path, std::string(600, 'Z'));
        const int fd = ::open(path.c_str(), O_RDWR);
        const int32_t code = DBModifyFile(fd, records, static_cast<int32_t>(fields.size()), fields.data(), dialect);
        EXPECT_NE(fcntl(fd, F_GETFD), -1);  // still open: the host's to close
        ::close(fd);
        *file = read_file(path);
        return code;
    }

    ScratchDir dir;
};

// A second process that opens the table shared and locks record 1 until it ends.
class RecordLocker {
public:
    explicit RecordLocker(const std::string& path) {
        int up[2], down[2];
        if (pipe(up) != 0 || pipe(down) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            ::close(up[0]);
            ::close(down[1]);
            int32_t h = -1;
            char ok = DBOpenFile(&h, path.c_str(), 1 | DB_OPEN_SHARED) == 0 && DBLockRecord(h, 1) == 0;
            if (write(up[1], &ok, 1) != 1 || read(down[0], &ok, 1) < 0) _exit(1);
            _exit(0);
        }
        ::close(up[1]);
        ::close(down[0]);
        release_ = down[1];
        char ok = 0;
        locked_ = read(up[0], &ok, 1) == 1 && ok;
        ::close(up[0]);
    }
    ~RecordLocker() {
        ::close(release_);
        int status = 0;
        if (pid_ > 0) waitpid(pid_, &status, 0);
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool locked_ = false;
};

}  // namespace

TEST_F(TablePack, KeepsExactlyTheRecordsNotDeletedByteForByte) {
    std::vector<int> some, all;
    for (int i = 1; i <= 1200; ++i) {
        all.push_back(i);
        if (i % 3 == 0 || (i >= 460 && i <= 480)) some.push_back(i);  // a run across a block edge
    }
    const struct {
        const char* name;
        std::vector<int> deleted;
    } scenarios[] = {{"none", {}}, {"some", some}, {"all", all}};
    for (int32_t dialect : {1, 2, 5, 7, 9}) {
        for (const auto& sc : scenarios) {
            SCOPED_TRACE("dialect " + std::to_string(dialect) + ", " + sc.name + " deleted");
            const std::string path = dir.file("D" + std::to_string(dialect) + sc.name + ".DBF");
            const std::string before = make_table(path, dialect, 1200, sc.deleted);
            int32_t h = -1;
            ASSERT_EQ(DBOpenFile(&h, path.c_str(), dialect), 0);
            ASSERT_EQ(DBPackFile(&h), 0) << DBGetErrorStr();
            int32_t count = -1;
            EXPECT_EQ(DBGetRecordCount(h, &count), 0);
            EXPECT_EQ(count, 1200 - static_cast<int32_t>(sc.deleted.size()));
            EXPECT_EQ(DBCloseFile(h), 0);
            expect_packed(before, read_file(path), dialect);
            EXPECT_EQ(read_file(path.substr(0, path.size() - 4) + ".BAK"), before);
            EXPECT_EQ(temporary_files(dir), 0);
        }
    }
}

TEST_F(TablePack, OnlyAnAsteriskMarksARecordDeleted) {
    const std::string path = dir.file("MARKS.DBF");
    std::string file = make_table(path, 1, 4, {});
    const uint32_t start = u16(file, 8), length = u16(file, 10);
    file[start] = '\0';
    file[start + length] = '*';
    file[start + 2 * length] = 'X';
    write_file(path, file);
    ASSERT_EQ(pack_file(path, 1), 0);
    const std::vector<std::string> after = records_of(read_file(path));
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0][0], '\0');
    EXPECT_EQ(after[1][0], 'X');
    EXPECT_EQ(after[2][0], ' ');
}

TEST_F(TablePack, MemoFilesAreUntouchedAndRecordsKeepTheirMemoNumbers) {
    for (int32_t dialect : {1, 4}) {
        SCOPED_TRACE("dialect " + std::to_string(dialect));
        const std::string stem = dir.file("MEMO" + std::to_string(dialect));
        const std::string memo = stem + (dialect == 4 ? ".FPT" : ".DBT");
        ASSERT_EQ(dialect == 4 ? DBfpCreateMemo(memo.c_str(), 64) : DBxbCreateMemo(memo.c_str(), 1, 1), 0);
        const std::string memo_bytes = read_file(memo);
        const std::string before = make_table(stem + ".DBF", dialect, 40, {2, 3, 17, 40}, true);
        ASSERT_EQ(pack_file(stem + ".DBF", dialect), 0);
        expect_packed(before, read_file(stem + ".DBF"), dialect);
        EXPECT_EQ(read_file(memo), memo_bytes);
        int32_t h = -1;
        ASSERT_EQ(DBOpenFile(&h, (stem + ".DBF").c_str(), dialect), 0);
        DBGetRecord(h, 2);  // record 4 before the pack
        int32_t block = -1;
        DBGetFieldData(h, 3, &block);
        EXPECT_EQ(block, 0);
        DBGetRecord(h, 3);  // record 5
        DBGetFieldData(h, 3, &block);
        EXPECT_EQ(block, 6);
        DBCloseFile(h);
    }
}

TEST_F(TablePack, CarriesTheProductionAndIndexedFieldFlags) {
    const std::string path = dir.file("PROD.DBF");
    DBFieldSpec fields[] = {spec("KEY", 'C' | DB_FIELD_INDEXED, 8), spec("VALUE", 'N', 6)};
    ASSERT_EQ(DBCreateFile(path.c_str(), 2, fields, 2 | DB_CREATE_PRODUCTION), 0);
    ASSERT_EQ(pack_file(path, 2), 0);
    const std::string after = read_file(path);
    EXPECT_EQ(after[28], 1);
    EXPECT_EQ(after[32 + 31], 1);
    EXPECT_EQ(after[64 + 31], 0);
}

TEST_F(TablePack, NamesTheBackupAndTheTemporaryFileInTheTablesDirectory) {
    // 0.DBF is taken, so the new file is written as 1.DBF.
    write_file(dir.file("0.DBF"), "someone else's");
    const std::string table = dir.file("T.DBF");
    make_table(table, 1, 3, {2});
    write_file(dir.file("T.BAK"), "an older backup");
    CreateLog host;
    {
        ScopedHost guard(host);
        ASSERT_EQ(pack_file(table, 1), 0);
    }
    EXPECT_EQ(host.created, std::vector<std::string>{dir.file("1.DBF")});
    EXPECT_EQ(read_file(dir.file("0.DBF")), "someone else's");
    EXPECT_FALSE(std::filesystem::exists(dir.file("1.DBF")));
    EXPECT_EQ(records_of(read_file(dir.file("T.BAK"))).size(), 3u);

    // No extension: ".BAK" is appended; a full stop in a directory name is not one.
    std::filesystem::create_directory(dir.file("a.dir"));
    const std::string bare = dir.file("a.dir/DATA");
    const std::string before = make_table(bare, 1, 3, {1});
    ASSERT_EQ(pack_file(bare, 1), 0);
    EXPECT_EQ(read_file(bare + ".BAK"), before);
    EXPECT_EQ(records_of(read_file(bare)).size(), 2u);
}

TEST_F(TablePack, RefusesNamesThatWouldNotFitBeforeDoingAnything) {
    // A name of 75 characters without extension gives a backup name of 79: it packs.
    // One more character and the backup name would not fit a packet's name.
    for (std::size_t length : {75u, 76u}) {
        const std::string path = dir.path() + "/" + std::string(length - dir.path().size() - 1, 'N');
        ASSERT_EQ(path.size(), length);
        const std::string before = make_table(path, 1, 3, {2});
        int32_t h = -1;
        ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
        const int32_t code = DBPackFile(&h);
        EXPECT_EQ(code, length == 75 ? 0 : DB_ERR_FILENAME);
        EXPECT_EQ(std::filesystem::exists(path + ".BAK"), length == 75);
        int32_t count = 0;
        EXPECT_EQ(DBGetRecordCount(h, &count), 0);
        EXPECT_EQ(count, length == 75 ? 2 : 3);
        EXPECT_EQ(DBCloseFile(h), 0);
        if (length == 76) {
            EXPECT_EQ(read_file(path), before);
        }
        EXPECT_EQ(temporary_files(dir), 0);
    }
}

TEST_F(TablePack, TheReopenedTableKeepsItsOpenMode) {
    const std::string path = dir.file("MODE.DBF");
    make_table(path, 1, 5, {1, 2});

    // Automatic locking: an append without a lock still works after the pack.
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1 | DB_OPEN_AUTOLOCK), 0);
    ASSERT_EQ(DBPackFile(&h), 0);
    DBFileInfo info{};
    ASSERT_EQ(DBGetFileInfo(h, &info), 0);
    EXPECT_EQ(info.flags & (DB_INFO_SHARED | DB_INFO_UNBUFFERED), DB_INFO_SHARED | DB_INFO_UNBUFFERED);
    int32_t n = 0;
    EXPECT_EQ(DBPutRecord(h, &n, DB_PUT_APPEND), 0);
    EXPECT_EQ(n, 4);
    ASSERT_EQ(DBCloseFile(h), 0);

    // Several record locks at once.
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1 | DB_OPEN_SHARED | DB_OPEN_MULTILOCK), 0);
    ASSERT_EQ(DBPackFile(&h), 0);
    EXPECT_EQ(DBLockRecord(h, 1), 0);
    EXPECT_EQ(DBLockRecord(h, 2), 0);
    EXPECT_EQ(DBIsRecordLocked(h, 1), 1);
    EXPECT_EQ(DBIsRecordLocked(h, 2), 1);
    ASSERT_EQ(DBCloseFile(h), 0);

    // Unbuffered without flushing stays unbuffered; a buffered table keeps its cache size.
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1 | DB_OPEN_UNBUFFERED_NOFLUSH), 0);
    ASSERT_EQ(DBPackFile(&h), 0);
    EXPECT_EQ(DBFlushFile(h), DB_WARN_NOT_BUFFERED);
    ASSERT_EQ(DBCloseFile(h), 0);
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
    int32_t records = 50;
    ASSERT_EQ(DBGetSetCacheSize(h, &records, DB_CACHE_SET), 0);
    ASSERT_EQ(DBPackFile(&h), 0);
    ASSERT_EQ(DBGetSetCacheSize(h, &records, DB_CACHE_GET), 0);
    EXPECT_EQ(records, 50);
    ASSERT_EQ(DBCloseFile(h), 0);
}

TEST_F(TablePack, ASharedTableLockedByAnotherProcessIsNotPacked) {
    const std::string path = dir.file("0.DBF");  // the first temporary name is the table's own
    const std::string before = make_table(path, 1, 6, {3});
    ASSERT_EQ(DBSetLockRetryCount(0), 0);
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1 | DB_OPEN_SHARED), 0);
    {
        RecordLocker other(path);
        ASSERT_TRUE(other.locked());
        const int32_t handle = h;
        EXPECT_EQ(DBPackFile(&h), DB_ERR_LOCK_VIOLATION);
        EXPECT_EQ(h, handle);
        EXPECT_FALSE(std::filesystem::exists(dir.file("1.DBF")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("0.BAK")));
        EXPECT_EQ(read_file(path), before);
        EXPECT_EQ(DBGetRecord(h, 6), 0);
    }
    ASSERT_EQ(DBPackFile(&h), 0);
    EXPECT_EQ(DBCloseFile(h), 0);
    expect_packed(before, read_file(path), 1);
}

TEST_F(TablePack, AFailureBeforeTheSwapLeavesTheTableOpenAndWhole) {
    const std::string path = dir.file("MID.DBF");
    const std::string before = make_table(path, 1, 1200, {5, 600, 1000});
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
    const int32_t handle = h;
    {
        FaultHost host;
        ScopedHost guard(host);
        host.fail_nth(Call::write, 3, ENOSPC);  // the create's write, then the second block
        EXPECT_LT(DBPackFile(&h), 0);
    }
    EXPECT_EQ(h, handle);
    EXPECT_EQ(temporary_files(dir), 0);
    // Every record reads back through the table's own cache, and the table still writes.
    const std::vector<std::string> records = records_of(before);
    DBRecordInfo info{};
    ASSERT_EQ(DBGetRecordInfo(h, &info), 0);
    for (int32_t n = 1; n <= 1200; ++n) {
        ASSERT_GE(DBGetRecord(h, n), 0);
        ASSERT_EQ(std::string(info.buffer, records[0].size()), records[n - 1]) << "record " << n;
    }
    int32_t n = 0;
    EXPECT_EQ(DBPutRecord(h, &n, DB_PUT_APPEND), 0);
    EXPECT_EQ(DBCloseFile(h), 0);
    EXPECT_EQ(records_of(read_file(path)).size(), 1201u);
}

TEST_F(TablePack, AFailedRenameOfTheNewFilePutsTheTableBack) {
    const std::string path = dir.file("REN.DBF");
    const std::string before = make_table(path, 1, 10, {4});
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
    {
        FaultHost host;
        ScopedHost guard(host);
        host.fail_nth(Call::rename, 2, EIO);
        EXPECT_LT(DBPackFile(&h), 0);
    }
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(temporary_files(dir), 0);
    ASSERT_GE(h, 0);
    EXPECT_EQ(DBGetRecord(h, 10), 0);
    EXPECT_EQ(DBCloseFile(h), 0);
}

TEST_F(TablePack, AFailureAtAnyStepLosesNoRecordAndLeaksNothing) {
    const Call kinds[] = {Call::write, Call::rename, Call::creat, Call::open, Call::read,
                          Call::allocate, Call::unlink, Call::stat};
    int round = 0;
    for (Call kind : kinds) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE("call kind " + std::to_string(static_cast<int>(kind)) + ", failure " +
                         std::to_string(n));
            const std::string path = dir.file("P" + std::to_string(++round) + ".DBF");
            const std::string before = make_table(path, 7, 600, {1, 2, 300, 600});
            int32_t h = -1;
            ASSERT_EQ(DBOpenFile(&h, path.c_str(), 7), 0);
            FaultHost host;
            bool reached = false;
            {
                ScopedHost guard(host);
                host.fail_nth(kind, n, kind == Call::allocate ? ENOMEM : EIO);
                const int32_t code = DBPackFile(&h);
                reached = host.calls(kind) >= n;
                if (!reached) {
                    EXPECT_EQ(code, 0);
                }
                // After the failure the table is open (or closed, after the swap) and reads.
                if (reached && h >= 0) {
                    EXPECT_GE(DBGetRecord(h, 1), 0);
                }
                DBTerminate();
            }
            EXPECT_EQ(host.live_blocks(), 0u);
            EXPECT_EQ(host.open_descriptors(), 0u);
            ASSERT_EQ(DBInitialize(20, 1), 0);
            EXPECT_EQ(temporary_files(dir), 0);
            const std::string after = read_file(path);
            if (after != before) {
                expect_packed(before, after, 7);
                EXPECT_EQ(read_file(path.substr(0, path.size() - 4) + ".BAK"), before);
            }
            ASSERT_EQ(DBOpenFile(&h, path.c_str(), 7), 0);
            ASSERT_EQ(DBCloseFile(h), 0);
            if (!reached) break;
            ASSERT_LT(n, 200);
        }
    }
}

TEST_F(TablePack, RefusesTablesThatACreateCannotLayOutTheSameWay) {
    // A foreign table with a 4-byte memo field: a create would make it 10 wide, and
    // copying the records byte for byte into that layout would garble them.
    const std::string foreign = dir.file("FOREIGN.DBF");
    const std::string before = header(0x83, 1, 97, 10, 0) + descriptor("A", 'C', 5, 0) +
                               descriptor("M", 'M', 4, 0) + "\x0D" + std::string(" abcd\x07\0\0\0", 9) + "\x1A";
    write_file(foreign, before);
    // A Visual FoxPro table: only a restructure writes those headers.
    const std::string fox = dir.file("FOX.DBF");
    write_file(fox, "");
    const int fd = ::open(fox.c_str(), O_RDWR);
    DBFieldSpec fields[] = {spec("A", 'C', 5)};
    ASSERT_EQ(DBModifyFile(fd, 0, 1, fields, 10), 0);
    ASSERT_EQ(write(fd, "\x1A", 1), 1);
    ::close(fd);
    const std::string fox_before = read_file(fox);
    for (const auto& [path, dialect, code] : {std::tuple(foreign, 1, DB_ERR_RECORD_LENGTH),
                                              std::tuple(fox, 10, DB_ERR_VERSION)}) {
        int32_t h = -1;
        ASSERT_EQ(DBOpenFile(&h, path.c_str(), dialect), 0);
        EXPECT_EQ(DBPackFile(&h), code);
        EXPECT_EQ(DBGetRecord(h, 1), path == fox ? DB_ERR_SEEK : 0);
        EXPECT_EQ(DBCloseFile(h), 0);
    }
    EXPECT_EQ(read_file(foreign), before);
    EXPECT_EQ(read_file(fox), fox_before);
    EXPECT_EQ(temporary_files(dir), 0);
}

TEST_F(TablePack, RefusesReadOnlyTablesAndBadHandles) {
    const std::string path = dir.file("RO.DBF");
    make_table(path, 1, 2, {1});
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1 | DB_OPEN_READONLY), 0);
    EXPECT_EQ(DBPackFile(&h), DB_ERR_READ_ONLY);
    EXPECT_EQ(DBCloseFile(h), 0);
    EXPECT_EQ(DBPackFile(nullptr), DB_ERR_NULL);
    int32_t bad = 7;
    EXPECT_EQ(DBPackFile(&bad), DB_ERR_HANDLE);
}

// ---- DBModifyFile ----------------------------------------------------------------------

TEST_F(TablePack, ModifyWritesTheHeaderInPlaceOverWhateverFollows) {
    std::string file;
    // Visual FoxPro: 2 fields, header 32 * 2 + 296 = 360.
    std::vector<DBFieldSpec> fox = {spec("name", 'C', 10), spec("PRICE", 'Y')};
    ASSERT_EQ(modify(fox, 10, 7, &file), 0);
    std::string expected = header(0x30, 7, 360, 19, 0) + descriptor("NAME", 'C', 10, 0) +
                           descriptor("PRICE", 'Y', 8, 4) + '\x0D' + std::string(263, '\0');
    ASSERT_EQ(expected.size(), 360u);
    EXPECT_EQ(file, expected + std::string(240, 'Z'));
    EXPECT_EQ(fox[0].name, std::string("NAME"));
    EXPECT_EQ(fox[1].length, 8);
    EXPECT_EQ(fox[1].decimals, 4);

    // Dialect 9: the terminator takes a 32-byte slot; header 32 * 2 + 64.
    std::vector<DBFieldSpec> slot = {spec("D", 'd'), spec("M", 'M')};
    ASSERT_EQ(modify(slot, 9, 0, &file), 0);
    expected = header(0x83, 0, 128, 19, 0) + descriptor("D", 'D', 8, 0) + descriptor("M", 'M', 10, 0) +
               '\x0D' + std::string(31, '\0');
    EXPECT_EQ(file, expected + std::string(472, 'Z'));

    // Dialect 2 with a production index: the flag and the indexed field; I as N.
    std::vector<DBFieldSpec> prod = {spec("KEY", 'C' | DB_FIELD_INDEXED, 200), spec("COUNT", 'I', 9),
                                     spec("NOTE", 'M')};
    ASSERT_EQ(modify(prod, 2 | DB_CREATE_PRODUCTION, 3, &file), 0);
    expected = header(0x8B, 3, 129, 220, 1) + descriptor("KEY", 'C', 200, 0, 1) +
               descriptor("COUNT", 'I', 9, 0) + descriptor("NOTE", 'M', 10, 0) + '\x0D';
    EXPECT_EQ(file, expected + std::string(471, 'Z'));

    // A dialect-10 memo field is 8 wide and leaves the version alone.
    std::vector<DBFieldSpec> memo = {spec("TEXT", 'M')};
    ASSERT_EQ(modify(memo, 10, 0, &file), 0);
    EXPECT_EQ(file.substr(0, 64), header(0x30, 0, 328, 9, 0) + descriptor("TEXT", 'M', 8, 0));
}

TEST_F(TablePack, ATableMadeByModifyOpens) {
    const std::string path = dir.file("NEW.DBF");
    for (int32_t dialect : {1, 9, 10}) {
        write_file(path, "");
        const int fd = ::open(path.c_str(), O_RDWR);
        DBFieldSpec fields[] = {spec("A", 'C', 5), spec("B", 'N', 6, 2)};
        ASSERT_EQ(DBModifyFile(fd, 0, 2, fields, dialect), 0);
        ASSERT_EQ(write(fd, "\x1A", 1), 1);
        ::close(fd);
        int32_t h = -1;
        ASSERT_EQ(DBOpenFile(&h, path.c_str(), dialect), 0) << "dialect " << dialect;
        DBRecordInfo info{};
        ASSERT_EQ(DBGetRecordInfo(h, &info), 0);
        EXPECT_EQ(info.field_count, 2);
        EXPECT_EQ(info.record_length, 12);
        EXPECT_EQ(DBCloseFile(h), 0);
    }
}

TEST_F(TablePack, ModifyRefusesWhatACreateRefusesAndLeavesTheFileAlone) {
    const struct {
        const char* why;
        DBFieldSpec field;
        int32_t dialect;
        int32_t code;
    } cases[] = {
        {"dialect 11", spec("A", 'C', 5), 11, DB_ERR_VERSION},
        {"currency outside dialect 10", spec("A", 'Y'), 1, DB_ERR_FIELD_TYPE},
        {"lower-case currency", spec("A", 'y'), 10, DB_ERR_FIELD_TYPE},
        {"integer outside 2, 4, 8", spec("A", 'I', 5), 1, DB_ERR_FIELD_TYPE},
        {"lower-case integer", spec("A", 'i', 5), 2, DB_ERR_FIELD_TYPE},
        {"unknown type", spec("A", 'Q', 5), 10, DB_ERR_FIELD_TYPE},
        {"name of 11", spec("ABCDEFGHIJK", 'C', 5), 1, DB_ERR_FIELD_NAME},
        {"N of 20 in dialect 1", spec("A", 'N', 20), 1, DB_ERR_FIELD_LENGTH},
        {"16 decimals in dialect 3", spec("A", 'N', 19, 16), 3, DB_ERR_DECIMALS},
        {"C of 255", spec("A", 'C', 255), 10, DB_ERR_FIELD_LENGTH},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<DBFieldSpec> fields = {c.field};
        std::string file;
        EXPECT_EQ(modify(fields, c.dialect, 0, &file), c.code);
        EXPECT_EQ(file, std::string(600, 'Z'));
    }
    std::vector<DBFieldSpec> many(129, spec("F", 'L'));
    std::string file;
    EXPECT_EQ(modify(many, 1, 0, &file), DB_ERR_FIELD_COUNT);
    many.resize(255, spec("F", 'L'));
    EXPECT_EQ(modify(many, 10, 0, &file), 0);
    EXPECT_EQ(u16(file, 8), 32 * 255 + 296);
    DBFieldSpec one = spec("A", 'C', 5);
    EXPECT_EQ(DBModifyFile(0, 0, 0, &one, 1), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBModifyFile(0, 0, 1, nullptr, 1), DB_ERR_NULL);
    EXPECT_LT(DBModifyFile(-1, 0, 1, &one, 1), 0);
}
