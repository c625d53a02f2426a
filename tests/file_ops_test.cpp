// Host file operations: error translation, short transfers, sizes, long transfers
// and the existence test.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/state.hpp"
#include "os/file_io.hpp"
#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using xbdb::test::Call;
using xbdb::test::FaultHost;
using xbdb::test::ScopedHost;
using xbdb::test::read_file;

namespace {

// Relative names: the fixture works inside its scratch directory, which also keeps
// the log name within the 29 characters of DBlog_filename.
constexpr const char* kData = "data.dbf";
constexpr const char* kLog = "err.log";
const std::string kContent = "0123456789";

class FileOps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        test::write_file(kData, kContent);
        ASSERT_EQ(DBInitialize(20, 1), 0);
        DBErrorLog(1, kLog);
    }
    void TearDown() override {
        DBTerminate();
        DBErrorLog(0, nullptr);
        EXPECT_EQ(chdir(cwd_), 0);
    }

    static long log_lines() {
        const std::string text = read_file(kLog);
        return std::count(text.begin(), text.end(), '\n');
    }
    static int32_t open_data(int32_t mode = 0) {
        int32_t fd = -1;
        uint8_t flags = 0;
        DBosOpenFile(&fd, kData, mode, &flags);
        EXPECT_GE(fd, 0);
        return fd;
    }
    static int32_t position_of(int32_t fd) {
        int32_t at = -2;
        DBosGetFilePosition(fd, &at);
        return at;
    }

    test::ScratchDir dir_;
    FaultHost host_;
    ScopedHost guard_{host_};
    char cwd_[PATH_MAX] = {};
};

// ---- one row per (operation, errno) of the translation tables ----

enum class Op { create, open, close, read, write, seek, tell, length, truncate, rename, remove };

// Per operation: its name, the host call that fails and which one of them (the
// file length seeks to the end with its second).
constexpr const char* kNames[] = {"Create", "Open", "Close", "Read", "Write", "Seek",
                                  "Tell", "Length", "Truncate", "Rename", "Delete"};
constexpr Call kCalls[] = {Call::creat, Call::open,  Call::close, Call::read,
                           Call::write, Call::lseek, Call::lseek, Call::lseek,
                           Call::ftruncate, Call::rename, Call::unlink};

struct Row {
    Op op;
    int err;
    int32_t code;  // errors no table names are errno | 0xC0000000
};

constexpr int32_t untranslated(int err) { return host_error(err); }

std::vector<Row> rows() {
    using enum Op;
    const int32_t e = untranslated(0);  // plus the errno
    return {
    {create, EAGAIN, -240}, {create, EACCES, -240}, {create, ETXTBSY, -240}, {create, ENOENT, -239},
    {create, EFAULT, -239}, {create, ENOTDIR, -239}, {create, ENXIO, -205}, {create, EISDIR, -205},
    {create, ENFILE, -208}, {create, EMFILE, -208}, {create, ENOSPC, -208}, {create, EROFS, -236},
    {create, ELOOP, e | ELOOP}, {open, ENOENT, -205}, {open, ENXIO, -205}, {open, EISDIR, -205},
    {open, EACCES, -240}, {open, ETXTBSY, -240}, {open, EFAULT, -239}, {open, ENOTDIR, -239},
    {open, ENFILE, -208}, {open, EMFILE, -208}, {open, EROFS, -236}, {open, EAGAIN, e | EAGAIN},
    {close, EBADF, -213}, {close, EIO, e | EIO}, {read, EBADF, -213}, {read, EIO, -202},
    {read, EAGAIN, -240}, {read, EACCES, -240}, {read, EINTR, e | EINTR}, {write, EAGAIN, -240},
    {write, EACCES, -240}, {write, EBADF, -213}, {write, EIO, -201}, {write, EFBIG, -201},
    {write, ENOSPC, -201}, {write, EPIPE, e | EPIPE}, {seek, EBADF, -213}, {seek, EINVAL, -212},
    {seek, ESPIPE, e | ESPIPE}, {tell, EBADF, -213}, {tell, EINVAL, -212}, {tell, ESPIPE, e | ESPIPE},
    {length, EBADF, -213}, {length, EINVAL, -212}, {length, EIO, e | EIO}, {truncate, EBADF, -213},
    {truncate, EIO, -201}, {truncate, EAGAIN, -237}, {truncate, EACCES, -237}, {truncate, EPERM, e | EPERM},
    {rename, EACCES, -240}, {rename, EBUSY, -240}, {rename, ENOENT, -205}, {rename, EIO, -201},
    {rename, EFAULT, -239}, {rename, EEXIST, -239}, {rename, EXDEV, -239}, {rename, ENOTDIR, -239},
    {rename, EISDIR, -239}, {rename, EINVAL, -239}, {rename, EROFS, -236}, {rename, ELOOP, e | ELOOP},
    {remove, ENOENT, 204}, {remove, EPERM, -205}, {remove, EFAULT, -239}, {remove, ENOTDIR, -239},
    {remove, EACCES, -240}, {remove, EBUSY, -240}, {remove, ETXTBSY, -240}, {remove, EROFS, -236},
    {remove, ELOOP, e | ELOOP},
    };
}

// Runs op once on kData (fd is open read-write on it); an output that a failure
// sets to -1 is checked here.
int32_t run(Op op, int32_t fd) {
    int32_t out = 0, code = 0;
    uint8_t flags = 0;
    char buffer[4];
    switch (op) {
        case Op::create: code = DBosCreateFile(&out, "new.dbf"); break;
        case Op::open: code = DBosOpenFile(&out, kData, 0, &flags); break;
        case Op::close: return DBosCloseFile(fd);
        case Op::read: return DBosReadData(fd, buffer, sizeof buffer);
        case Op::write: return DBosWriteData(fd, "abcd", 4, 0);
        case Op::seek: return DBosSetFilePosition(fd, 2);
        case Op::tell: code = DBosGetFilePosition(fd, &out); break;
        case Op::length: code = DBosFileLength(fd, &out); break;
        case Op::truncate: return DBosSetFileSize(fd, 4);
        case Op::rename: return os::_DBosRenameFile("new.dbf", kData);
        case Op::remove: return os::_DBosDeleteFile(kData);
    }
    EXPECT_EQ(out, -1);
    return code;
}

class FileOpsErrno : public FileOps, public ::testing::WithParamInterface<Row> {};

TEST_P(FileOpsErrno, TranslatesTheHostErrorAndLeaksNothing) {
    const Row& row = GetParam();
    const int32_t fd = open_data();
    const std::size_t blocks = host_.live_blocks(), fds = host_.open_descriptors();
    const std::size_t logged_before = read_file(kLog).size();
    DBerrno = 0;

    host_.fail_nth(kCalls[static_cast<int>(row.op)], row.op == Op::length ? 2 : 1, row.err);
    EXPECT_EQ(run(row.op, fd), row.code);
    EXPECT_EQ(DBerrno, row.code);
    // One line "source TAB line TAB code LF" per failure; the missing file that a
    // delete is asked to remove is only a warning and writes none.
    const std::string logged = read_file(kLog).substr(logged_before);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), row.code < 0 ? 1 : 0) << logged;
    EXPECT_TRUE(row.code > 0 || logged.ends_with("\t" + std::to_string(row.code) + "\n"));
    EXPECT_EQ(host_.open_descriptors(), fds);
    EXPECT_EQ(host_.live_blocks(), blocks);
    DBosCloseFile(fd);
    EXPECT_EQ(host_.open_descriptors(), 0u);
}

INSTANTIATE_TEST_SUITE_P(FileOps, FileOpsErrno, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             return std::string(kNames[static_cast<int>(info.param.op)]) + "_" +
                                    strerrorname_np(info.param.err);
                         });

// Lands every absolute seek one byte past where it was asked to go.
struct SkewedSeekHost : FaultHost {
    off_t lseek(int fd, off_t offset, int whence) override {
        return FaultHost::lseek(fd, whence == SEEK_SET ? offset + 1 : offset, whence);
    }
};

}  // namespace

TEST_F(FileOps, RoundTripKeepsTheCallersStatus) {
    DBerrno = 207;  // a warning: success does not clear it
    int32_t fd = -1;
    char buffer[4];
    EXPECT_EQ(DBosCreateFile(&fd, "new.dbf"), 207);
    EXPECT_EQ(DBosWriteData(fd, "abcdef", 6, 1), 207);
    EXPECT_EQ(DBosCloseFile(fd), 207);
    EXPECT_EQ(read_file("new.dbf"), "abcdef");

    fd = open_data();
    EXPECT_EQ(DBosSetFilePosition(fd, 3), 207);
    EXPECT_EQ(DBosReadData(fd, buffer, 4), 207);
    EXPECT_TRUE(std::string(buffer, 4) == "3456" && vk_read_length == 4 && position_of(fd) == 7);
    EXPECT_EQ(DBosWriteData(fd, "XY", 2, 0), 207);
    EXPECT_EQ(read_file(kData), "0123456XY9");

    int32_t length = -2;
    EXPECT_EQ(DBosFileLength(fd, &length), 0);  // the one call that clears it
    EXPECT_TRUE(length == 10 && position_of(fd) == 9);
    uint8_t at_end = 9;
    for (auto [at, expected] : {std::pair{9, 0}, {10, 1}, {50, 1}}) {
        ASSERT_EQ(DBosSetFilePosition(fd, at), 0);
        EXPECT_EQ(DBosEndOfFile(fd, &at_end), 0);
        EXPECT_EQ(at_end, expected) << at;
    }
    EXPECT_EQ(DBosCloseFile(fd), 0);

    EXPECT_EQ(os::_DBosRenameFile("new.dbf", kData), 0);  // the new name first
    EXPECT_EQ(read_file("new.dbf"), "0123456XY9");
    EXPECT_FALSE(std::filesystem::exists(kData));
    EXPECT_EQ(log_lines(), 0);
}

TEST_F(FileOps, ShortTransfersAndMisplacedSeeks) {
    const int32_t fd = open_data();
    char buffer[32];
    host_.short_nth(Call::read, 1, 3);
    EXPECT_EQ(DBosReadData(fd, buffer, 8), -202);
    EXPECT_EQ(vk_read_length, 3);
    EXPECT_EQ(log_lines(), 1);

    DBerrno = 0;
    host_.short_nth(Call::write, 1, 2);
    EXPECT_EQ(DBosWriteData(fd, "abcdefgh", 8, 1), -201);
    EXPECT_EQ(DBerrno, -201);
    EXPECT_EQ(log_lines(), 1);  // a short write is not logged

    DBerrno = 0;
    ASSERT_EQ(DBosSetFilePosition(fd, 10), 0);
    EXPECT_EQ(DBosReadData(fd, buffer, 32), -202);  // at the end of the file
    EXPECT_EQ(vk_read_length, 0);
    EXPECT_EQ(log_lines(), 2);

    SkewedSeekHost skewed;
    ScopedHost guard(skewed);
    DBerrno = 0;
    EXPECT_EQ(DBosSetFilePosition(fd, 4), -204);
    EXPECT_EQ(log_lines(), 2);  // nor is a seek that lands elsewhere
    DBosCloseFile(fd);
}

TEST_F(FileOps, SetFileSizeKeepsCutsOrAppendsZeros) {
    const int32_t fd = open_data();
    const int writes = host_.calls(Call::write);
    EXPECT_EQ(DBosSetFileSize(fd, 2600), 0);
    EXPECT_EQ(host_.calls(Call::write) - writes, 3);  // 1024 + 1024 + 542 zero bytes
    EXPECT_EQ(read_file(kData), kContent + std::string(2590, '\0'));
    EXPECT_EQ(position_of(fd), 2600);

    EXPECT_EQ(DBosSetFileSize(fd, 4), 0);
    EXPECT_EQ(read_file(kData), "0123");

    host_.short_nth(Call::write, 2, 100);
    EXPECT_EQ(DBosSetFileSize(fd, 3000), -201);
    EXPECT_EQ(read_file(kData).size(), 4u + 1024 + 100);
    DBosCloseFile(fd);
}

TEST_F(FileOps, MissingFilesDirectoriesAndBadNames) {
    int32_t fd = 0;
    uint8_t flags = 0;
    for (auto [name, mode] : {std::pair{"missing.dbf", 0}, {".", DB_OPEN_READONLY}}) {
        fd = 0;
        EXPECT_EQ(DBosOpenFile(&fd, name, mode, &flags), -205) << name;
        EXPECT_EQ(fd, -1);
    }
    EXPECT_EQ(DBosCreateFile(&fd, "no/such/dir.dbf"), -239);
    EXPECT_EQ(DBosOpenFile(&fd, "", 0, &flags), -214);
    EXPECT_EQ(DBosOpenFile(nullptr, kData, 0, &flags), -221);
    EXPECT_EQ(log_lines(), 5);
    EXPECT_EQ(host_.open_descriptors(), 0u);
}

TEST_F(FileOps, OpenModeSetsOnlyTheReadOnlyAndSharedBits) {
    struct Case {
        int32_t mode;
        uint8_t before, after;
    };
    for (Case c : {Case{0x0500, 0xF0, 0xF5}, {0x0100, 0xFF, 0xFB}, {0x2800, 0xFF, 0xFA}}) {
        int32_t fd = -1;
        uint8_t flags = c.before;
        EXPECT_EQ(DBosOpenFile(&fd, kData, c.mode, &flags), 0);
        EXPECT_EQ(flags, c.after) << std::hex << c.mode;
        DBosCloseFile(fd);
    }
    int32_t fd = -1;
    uint8_t flags = 0x80;
    EXPECT_EQ(DBosOpenFile(&fd, "missing.dbf", 0x0400, &flags), -205);
    EXPECT_EQ(flags, 0x84);  // set before the open is tried

    fd = open_data(DB_OPEN_READONLY);
    EXPECT_EQ(DBosWriteData(fd, "x", 1, 0), -213);  // opened for reading only
    DBosCloseFile(fd);
}

TEST_F(FileOps, ExistenceTestAnswersWithoutChangingTheStatus) {
    DBerrno = 207;
    EXPECT_EQ(os::_DBIsFileThere(kData), 1);
    EXPECT_EQ(log_lines(), 0);
    EXPECT_EQ(os::_DBIsFileThere("missing.dbf"), 0);
    EXPECT_TRUE(read_file(kLog).ends_with("\t-205\n"));  // the line a failed open writes
    EXPECT_EQ(os::_DBIsFileThere("."), 0);

    // A file that exists but may not be read is there (made so through the seam:
    // the tests may run as root, who reads any file).
    host_.fail_nth(Call::stat, 1, EACCES);
    EXPECT_EQ(os::_DBIsFileThere(kData), 1);
    EXPECT_EQ(DBerrno, 207);
    EXPECT_EQ(host_.open_descriptors(), 0u);
}

TEST_F(FileOps, LongTransfersGoInPiecesAndFarPositionsAreRefused) {
    std::vector<char> out(200000), in(out.size());
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7 + i / 251);
    const int32_t fd = open_data();
    DBerrno = 0;
    ASSERT_EQ(os::write_at(fd, 100, out), 0);
    ASSERT_EQ(os::read_at(fd, 100, in), 0);
    EXPECT_TRUE(in == out);
    const std::string bytes = read_file(kData);
    EXPECT_EQ(bytes, kContent + std::string(90, '\0') + std::string(out.begin(), out.end()));
    EXPECT_EQ(os::read_at(fd, 1000, in), -202);  // not a buffer with an unread tail

    // Nothing is positioned or written for a place beyond 31 bits.
    const std::span<const char> two(out.data(), 2);
    const int writes = host_.calls(Call::write), seeks = host_.calls(Call::lseek);
    for (int64_t at : {0x80000000LL, 0x7FFFFFFFLL, 0x10000000ALL, -1LL})
        EXPECT_EQ(os::write_at(fd, at, two), -204) << at;
    EXPECT_EQ(os::read_at(fd, 0x80000000LL, in), -204);
    EXPECT_EQ(host_.calls(Call::write), writes);
    EXPECT_EQ(host_.calls(Call::lseek), seeks);
    DBosCloseFile(fd);
}

TEST_F(FileOps, TablePositionTakesOnlyTheThreeOrigins) {
    int32_t handle = -1;
    Packet* table = nullptr;
    ASSERT_EQ(_DBAllocNewFilePacket(&handle, Kind::dbf, &table), 0);
    table->fd = open_data();  // closed by DBTerminate
    EXPECT_EQ(DBSetFilePosition(handle, 4, DB_SEEK_SET), 4);
    EXPECT_EQ(DBSetFilePosition(handle, 3, DB_SEEK_CUR), 7);
    EXPECT_EQ(DBSetFilePosition(handle, -2, DB_SEEK_END), 8);
    EXPECT_EQ(DBSetFilePosition(handle, 0, 3), -212);
    EXPECT_EQ(DBSetFilePosition(handle + 1, 0, DB_SEEK_SET), -213);
}
