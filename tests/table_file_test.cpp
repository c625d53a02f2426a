// Table files: the bytes a create writes, checked against hand-computed headers and
// descriptors; every refusal of a create; every damaged or foreign file an open
// must refuse (or accept) without reading past its buffers; flush, close and the
// header flags.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/bytes.hpp"
#include "core/state.hpp"
#include "support/host_faults.hpp"
#include "support/dbf_bytes.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using xbdb::test::Call;
using xbdb::test::read_file;
using xbdb::test::write_file;

namespace {

// A header of a created (empty) table.
std::string header(uint8_t version, uint16_t header_length, uint16_t record_length, uint8_t production = 0) {
    return test::dbf_header(version, 0, header_length, record_length, production);
}
using test::descriptor;

void patch(const std::string& path, std::size_t at, const std::string& bytes) {
    std::string file = read_file(path);
    file.replace(at, bytes.size(), bytes);
    write_file(path, file);
}

std::string le16s(uint16_t v) {
    std::string s(2, '\0');
    put_le16(s.data(), v);
    return s;
}

// Every test has T.DBF: NAME C 10, QTY N 5, dialect 1, header 97, record 16.
class TableFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DBInitialize(20, 1), 0);
        make_small();
    }
    void TearDown() override { DBTerminate(); }

    std::string make_small(int dialect = 1, const char* file = "T.DBF") {
        const std::string at = dir.file(file);
        DBFieldSpec f[] = {{"NAME", 'C', 10, 0}, {"QTY", 'N', 5, 0}};
        EXPECT_EQ(DBCreateFile(at.c_str(), 2, f, dialect), 0);
        return at;
    }
    int32_t open(const std::string& file, int32_t mode = 1) {
        handle = -2;
        return DBOpenFile(&handle, file.c_str(), mode);
    }
    int32_t append(const std::string& record = " ABC       12345") {
        DBRecordInfo info{};
        DBGetRecordInfo(handle, &info);
        std::memcpy(info.buffer, record.data(), record.size());
        int32_t number = 0;
        return DBPutRecord(handle, &number, DB_PUT_APPEND);
    }
    DBFileInfo info() {
        DBFileInfo i{};
        EXPECT_EQ(DBGetFileInfo(handle, &i), 0);
        return i;
    }

    test::ScratchDir dir;
    const std::string path = dir.file("T.DBF");
    int32_t handle = -2;
    test::FaultHost host;
    test::ScopedHost guard{host};
};

// ---- create: the bytes written -------------------------------------------------------

TEST_F(TableFile, CreateDialect1WritesHeaderDescriptorsTerminatorAndEndMark) {
    const std::string people = dir.file("PEOPLE.DBF");
    DBFieldSpec f[] = {{"name", 'c', 20, 0}, {"Price", 'n', 8, 2}, {"BORN", 'D', 3, 7}, {"OK", 'L', 9, 9}};
    ASSERT_EQ(DBCreateFile(people.c_str(), 4, f, 1), 0);
    // header 32 + 4 * 32 + 1 = 161; record 1 + 20 + 8 + 8 + 1 = 38
    EXPECT_EQ(read_file(people), header(0x03, 161, 38) + descriptor("NAME", 'C', 20, 0) +
                                     descriptor("PRICE", 'N', 8, 2) + descriptor("BORN", 'D', 8, 0) +
                                     descriptor("OK", 'L', 1, 0) + "\x0D\x1A");
    // The caller's field definitions are completed in place.
    EXPECT_TRUE(std::string(f[1].name) == "PRICE" && f[1].type == 'N' && f[2].length == 8);
}

TEST_F(TableFile, CreateDialect2MemoWithProductionIndexAndIndexedFlags) {
    const std::string d4 = dir.file("D4.DBF");
    DBFieldSpec f[] = {{"CODE", 'C' | DB_FIELD_INDEXED, 6, 0}, {"NOTES", 'M', 0, 0}, {"RATE", 'F', 20, 18}};
    ASSERT_EQ(DBCreateFile(d4.c_str(), 3, f, 2 | DB_CREATE_PRODUCTION), 0);
    // version 0x03 | 0x88; header 32 + 96 + 1 = 129; record 1 + 6 + 10 + 20 = 37
    EXPECT_EQ(read_file(d4), header(0x8B, 129, 37, 1) + descriptor("CODE", 'C', 6, 0, 1) +
                                 descriptor("NOTES", 'M', 10, 0) + descriptor("RATE", 'F', 20, 18) + "\x0D\x1A");
    ASSERT_EQ(open(d4, 2), 0);
    EXPECT_TRUE(info().dialect == 2 && info().memo == 1 && info().production == 1);
    // Indexed flags need both the production index and dialect 2.
    ASSERT_EQ(DBCreateFile(d4.c_str(), 1, f, 2), 0);
    EXPECT_EQ(read_file(d4)[32 + 31], '\0');
    ASSERT_EQ(DBCreateFile(d4.c_str(), 1, f, 1 | DB_CREATE_PRODUCTION), 0);
    EXPECT_EQ(read_file(d4)[32 + 31], '\0');
}

TEST_F(TableFile, CreateDialect4MemoIsVersionF5) {
    const std::string fox = dir.file("FOX.DBF");
    DBFieldSpec f[] = {{"ID", 'N', 20, 0}, {"MEMO", 'm', 4, 4}};
    ASSERT_EQ(DBCreateFile(fox.c_str(), 2, f, 4), 0);
    EXPECT_EQ(read_file(fox), header(0xF5, 97, 31) + descriptor("ID", 'N', 20, 0) + descriptor("MEMO", 'M', 10, 0) +
                                  "\x0D\x1A");
    EXPECT_EQ(open(fox, 1), DB_ERR_VERSION);  // 0xF5 is not a dialect 1 version
    ASSERT_EQ(open(fox, 4), 0);
}

TEST_F(TableFile, CreateDialect9PutsTerminatorInAWholeSlot) {
    make_small(9);
    // header 32 + 2 * 32 + 32 = 128: 0x0D and 31 zero bytes, then the end mark
    EXPECT_EQ(read_file(path), header(0x03, 128, 16) + descriptor("NAME", 'C', 10, 0) + descriptor("QTY", 'N', 5, 0) +
                                   "\x0D" + std::string(31, '\0') + "\x1A");
    // The terminator slot makes any opening dialect 9.
    ASSERT_EQ(open(path, 1), 0);
    EXPECT_EQ(info().dialect, 9);
    DBRecordInfo rec{};
    ASSERT_EQ(DBGetRecordInfo(handle, &rec), 0);
    EXPECT_TRUE(rec.field_count == 2 && rec.record_length == 16);
}

TEST_F(TableFile, LongCharacterFieldKeepsItsHighByteInTheDecimals) {
    DBFieldSpec f[] = {{"TEXT", 'C', 300, 0}, {"N", 'N', 4, 0}};
    ASSERT_EQ(DBCreateFile(path.c_str(), 2, f, 6), 0);
    EXPECT_EQ(read_file(path).substr(32, 32), descriptor("TEXT", 'C', 44, 1));  // 300 = 44 + 256
    EXPECT_EQ(le16(read_file(path).data() + 10), 305);
    ASSERT_EQ(open(path, 6), 0);
    DBFieldSpec got{};
    ASSERT_EQ(DBGetFieldDescription(handle, 0, &got), 0);
    EXPECT_EQ(got.length, 300);
}

TEST_F(TableFile, CreateRefusesBadDefinitionsAndLeavesNoFile) {
    const std::string bad = dir.file("BAD.DBF");
    DBFieldSpec unterminated{"X", 'C', 5, 0};  // a name filling all 12 bytes without a NUL
    std::memset(unterminated.name, 'A', sizeof unterminated.name);
    const std::tuple<DBFieldSpec, int32_t, int32_t> cases[] = {
        {{"ABCDEFGHIJK", 'C', 5, 0}, 1, DB_ERR_FIELD_NAME}, {unterminated, 1, DB_ERR_FIELD_NAME},
        {{"N", 'N', 20, 0}, 1, DB_ERR_FIELD_LENGTH},        {{"N", 'N', 21, 0}, 2, DB_ERR_FIELD_LENGTH},
        {{"N", 'N', 10, 9}, 1, DB_ERR_DECIMALS},            {{"N", 'N', 19, 16}, 1, DB_ERR_DECIMALS},
        {{"C", 'C', 255, 0}, 1, DB_ERR_FIELD_LENGTH},       {{"C", 'C', 2049, 0}, 6, DB_ERR_FIELD_LENGTH},
        {{"F", 'F', 8, 2}, 1, DB_ERR_FIELD_TYPE},           {{"C", 'C', 10, 0}, 10, DB_ERR_VERSION},
    };
    for (auto [field, dialect, code] : cases) {
        EXPECT_EQ(DBCreateFile(bad.c_str(), 1, &field, dialect), code) << field.name;
        EXPECT_FALSE(std::filesystem::exists(bad)) << field.name;
    }
    // 19 with 15 decimals is fine where 16 is not; dialect 2 has no 15 limit.
    DBFieldSpec ok{"N", 'N', 19, 15}, wide{"N", 'N', 19, 16};
    EXPECT_EQ(DBCreateFile(bad.c_str(), 1, &ok, 1), 0);
    EXPECT_EQ(DBCreateFile(bad.c_str(), 1, &wide, 2), 0);

    EXPECT_EQ(DBCreateFile(bad.c_str(), 0, &ok, 1), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBCreateFile(std::string(80, 'x').c_str(), 1, &ok, 1), DB_ERR_FILENAME);
    std::vector<DBFieldSpec> many(1024, DBFieldSpec{"F", 'L', 0, 0});
    EXPECT_EQ(DBCreateFile(bad.c_str(), 129, many.data(), 1), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBCreateFile(bad.c_str(), 513, many.data(), 7), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBCreateFile(bad.c_str(), 512, many.data(), 7), 0);
    // Records: at most 4000 bytes (8192 in dialect 6): 1 + 17 * 248 = 4217, 1 + 33 * 248 = 8185.
    std::vector<DBFieldSpec> wider(34, DBFieldSpec{"C", 'C', 248, 0});
    EXPECT_EQ(DBCreateFile(bad.c_str(), 17, wider.data(), 1), DB_ERR_RECORD_LENGTH);
    EXPECT_EQ(DBCreateFile(bad.c_str(), 33, wider.data(), 6), 0);
    EXPECT_EQ(DBCreateFile(bad.c_str(), 34, wider.data(), 6), DB_ERR_RECORD_LENGTH);
}

TEST_F(TableFile, FailedCreateRemovesThePartialFileAndLeaksNothing) {
    const std::string part = dir.file("PART.DBF");
    DBFieldSpec f[] = {{"A", 'C', 5, 0}};
    const std::size_t blocks = host.live_blocks();  // the library's own tables
    host.fail_nth(Call::write, 1, ENOSPC);
    EXPECT_EQ(DBCreateFile(part.c_str(), 1, f, 1), DB_ERR_WRITE);
    EXPECT_FALSE(std::filesystem::exists(part));
    host.short_nth(Call::write, 1, 10);
    EXPECT_EQ(DBCreateFile(part.c_str(), 1, f, 1), DB_ERR_WRITE);
    EXPECT_FALSE(std::filesystem::exists(part));
    EXPECT_EQ(host.live_blocks(), blocks);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

// ---- open: damaged and foreign files -----------------------------------------------

TEST_F(TableFile, OpenRefusesDamagedHeaders) {
    const std::string good = read_file(path);
    const std::tuple<const char*, std::size_t, std::string, int32_t> cases[] = {
        {"header length 32", 8, le16s(32), DB_ERR_HEADER_LENGTH},
        {"header length 1", 8, le16s(1), DB_ERR_HEADER_LENGTH},
        {"header length beyond the file", 8, le16s(32 * 60 + 33), DB_ERR_READ},
        {"record length 0", 10, le16s(0), DB_ERR_RECORD_LENGTH},
        {"record length not the fields'", 10, le16s(17), DB_ERR_RECORD_LENGTH},
        {"month 13", 2, "\x0D", DB_ERR_UPDATE_DATE},
        {"day 0", 3, std::string(1, '\0'), DB_ERR_UPDATE_DATE},
        {"bad field type", 32 + 11, "X", DB_ERR_FIELD_TYPE},
        {"name of 11 characters", 32, "ABCDEFGHIJK", DB_ERR_FIELD_NAME},
        {"no terminator", 96, " ", DB_ERR_CORRUPT},
        {"memo field without memo version", 32 + 32 + 11, "M", DB_ERR_VERSION},
        {"truncated header", 20, std::string(), DB_ERR_READ},
    };
    for (const auto& [what, at, bytes, code] : cases) {
        std::string file = good;
        file.replace(at, bytes.empty() ? std::string::npos : bytes.size(), bytes);
        write_file(path, file);
        EXPECT_EQ(open(path), code) << what;
        EXPECT_EQ(DBerrno, code) << what;
        EXPECT_EQ(handle, -1) << what;
    }
    write_file(path, good);
    EXPECT_EQ(open(path, 11), DB_ERR_COMMAND);
    EXPECT_EQ(open(std::string(80, 'x')), DB_ERR_FILENAME);
    EXPECT_EQ(open(dir.file("MISSING.DBF")), DB_ERR_FILE_NOT_FOUND);
    // After all those refusals nothing leaked and the first slot is still free.
    EXPECT_EQ(host.open_descriptors(), 0u);
    ASSERT_EQ(open(path), 0);
    EXPECT_EQ(handle, 0);
}

TEST_F(TableFile, OpenChecksTheProductionFlagOnlyWhereItIsDefined) {
    make_small(2);
    patch(path, 28, "\x02");
    EXPECT_EQ(open(path, 2), DB_ERR_PRODUCTION_FLAG);
    EXPECT_EQ(open(path, 1), 0);
    DBCloseFile(handle);
    patch(path, 0, "\x43");
    EXPECT_EQ(open(path, 2), DB_ERR_VERSION);
}

TEST_F(TableFile, FieldsSummingPastSixteenBitsAreRefused) {
    // 256 C fields of 300 bytes: 76801 bytes, whose low 16 bits (11265) are what the
    // header says. Offsets must not wrap into the record buffer.
    std::string file = header(0x03, 32 + 32 * 256 + 1, (1 + 256 * 300) & 0xFFFF);
    for (int i = 0; i < 256; ++i) file += descriptor(("F" + std::to_string(i)).c_str(), 'C', 44, 1);
    write_file(path, file + "\x0D\x1A");
    EXPECT_EQ(open(path), DB_ERR_RECORD_LENGTH);
}

TEST_F(TableFile, PaddedHeaderEndsTheFieldsAtTheTerminator) {
    // A FoxPro table whose writer padded the header to 488 bytes: the terminator
    // follows the second field, and the rest of the header is not fields.
    std::string file = header(0xF5, 488, 21) + descriptor("NAME", 'C', 10, 0) + descriptor("NOTE", 'M', 10, 0);
    file.resize(488, '\0');
    file[96] = '\x0D';
    write_file(path, file + '\x1A');
    ASSERT_EQ(open(path, 4), 0);
    DBRecordInfo rec{};
    ASSERT_EQ(DBGetRecordInfo(handle, &rec), 0);
    EXPECT_EQ(rec.field_count, 2);
    EXPECT_TRUE(info().dialect == 4 && info().memo == 1);
}

TEST_F(TableFile, YearBytesOfOtherWritersAreAccepted) {
    // Written by a program that stores year - 1900 (126 is 2026), and ours: year - 2000.
    for (auto [bytes, date] : {std::pair{"\x7E\x03\x04", "20260304"}, {"\x5F\x0C\x1F", "20951231"}}) {
        patch(path, 1, bytes);
        char text[16] = {};
        ASSERT_EQ(open(path), 0);
        ASSERT_EQ(DBGetLastUpdate(handle, text, 4), 0);
        EXPECT_STREQ(text, date);
        DBCloseFile(handle);
    }
}

TEST_F(TableFile, FileLengthOtherThanTheHeaderSaysIsOnlyAWarning) {
    const std::string file = read_file(path);  // 97 + 1 bytes, no records
    // One byte more warns; no end mark, or a whole record of marks, is correct.
    for (auto [bytes, code] : {std::pair{file + "x", DB_WARN_FILE_LENGTH}, {file.substr(0, 97), 0},
                               {file.substr(0, 97) + std::string(16, '\x1A'), 0}}) {
        write_file(path, bytes);
        EXPECT_EQ(open(path), code);
        DBCloseFile(handle);
    }
    // A count beyond the file: the open warns, reads beyond the end fail cleanly.
    std::string beyond = file;
    put_le32(beyond.data() + 4, 1000);
    write_file(path, beyond);
    EXPECT_EQ(open(path), DB_WARN_FILE_LENGTH);
    EXPECT_EQ(DBGetRecord(handle, 1000), DB_ERR_READ);
    put_le32(beyond.data() + 4, 0xFFFFFFF0u);
    write_file(path, beyond);
    EXPECT_EQ(open(path), DB_WARN_FILE_LENGTH);
    EXPECT_EQ(DBGetRecord(handle, 0x7FFFFFF0), DB_ERR_SEEK);
}

TEST_F(TableFile, ClipperDialectsCountRecordsFromTheFileLength) {
    make_small(5);
    ASSERT_EQ(open(path, 5), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(append(), 0);
    ASSERT_EQ(DBCloseFile(handle), 0);
    patch(path, 4, std::string(4, '\0'));  // the header count says 0
    for (auto [mode, code, records] : {std::tuple{5, 0, 3}, {6 | DB_OPEN_SHARED, 0, 3}, {1, DB_WARN_FILE_LENGTH, 0}}) {
        int32_t count = -1;
        EXPECT_EQ(open(path, mode), code);
        ASSERT_EQ(DBGetRecordCount(handle, &count), 0);
        EXPECT_EQ(count, records) << mode;
        DBCloseFile(handle);
    }
}

TEST_F(TableFile, FailedOpenFreesEverything) {
    const std::size_t blocks = host.live_blocks();  // the library's own tables
    for (int n = 1; n <= 2; ++n) {
        host.fail_nth(Call::read, n, EIO);
        EXPECT_EQ(open(path), DB_ERR_READ) << n;
    }
    host.fail_nth(Call::allocate, 2, ENOMEM);
    EXPECT_EQ(open(path), DB_ERR_MEMORY);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(host.live_blocks(), blocks);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

// ---- flush, close and the header flags -----------------------------------------------

TEST_F(TableFile, FlushAndCloseKeepForeignHeaderBytes) {
    std::string reserved(16, '\0');
    for (int i = 0; i < 16; ++i) reserved[i] = static_cast<char>(0xA0 + i);
    patch(path, 12, reserved);  // bytes 12..27, including 14 and 15
    patch(path, 29, "\xB1\xB2\xB3");
    patch(path, 32 + 12, "\xC1\xC2\xC3\xC4");
    patch(path, 32 + 18, "\xD1\xD2\xD3");
    const std::string before = read_file(path);
    ASSERT_EQ(open(path), 0);
    EXPECT_TRUE(info().byte14 == 0xA2 && info().byte15 == 0xA3);
    ASSERT_EQ(append(), 0);
    ASSERT_EQ(DBFlushFile(handle), 0);
    ASSERT_EQ(DBCloseFile(handle), 0);
    const std::string after = read_file(path);
    EXPECT_EQ(after.substr(12, 16) + after.substr(29, 68), before.substr(12, 16) + before.substr(29, 68));
    EXPECT_EQ(le32(after.data() + 4), 1u);
}

TEST_F(TableFile, OpenModeBitsSetTheFlagsAndFlushFollowsThem) {
    // read-only 0x01, shared 0x02, unbuffered 0x04; automatic locking is both of these
    for (auto [mode, flags] : {std::pair{1 | DB_OPEN_READONLY, 0x01u}, {1 | DB_OPEN_UNBUFFERED, 0x04u},
                               {1 | DB_OPEN_AUTOLOCK, 0x06u}, {DB_OPEN_AUTOLOCK | DB_OPEN_READONLY, 0x07u}}) {
        ASSERT_EQ(open(path, mode), 0);
        EXPECT_EQ(info().flags, flags) << mode;
        EXPECT_EQ(info().dialect, 1);  // dialect 0 is 1
        DBCloseFile(handle);
    }
    ASSERT_EQ(open(path, DB_OPEN_READONLY), 0);
    EXPECT_EQ(append(), DB_ERR_READ_ONLY);
    EXPECT_EQ(DBFlushFile(handle), DB_ERR_READ_ONLY);
    EXPECT_EQ(DBSetProductionIndex(handle, '1'), DB_ERR_READ_ONLY);
    ASSERT_EQ(DBCloseFile(handle), 0);
    ASSERT_EQ(open(path, 1 | DB_OPEN_UNBUFFERED), 0);
    const int writes = host.calls(Call::write);
    EXPECT_EQ(DBFlushFile(handle), DB_WARN_NOT_BUFFERED);
    EXPECT_EQ(host.calls(Call::write), writes);
}

TEST_F(TableFile, ProductionAndIndexedFlagsAreWrittenInPlace) {
    make_small(2 | DB_CREATE_PRODUCTION);
    ASSERT_EQ(open(path, 2), 0);
    EXPECT_EQ(DBSetFieldIndexed(handle, 1), 0);
    EXPECT_EQ(read_file(path)[32 + 32 + 31], '\x01');
    EXPECT_EQ(DBSetFieldIndexed(handle, 2), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBSetFieldIndexed(handle, -1), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(read_file(path)[31], '\0');
    EXPECT_EQ(DBSetProductionIndex(handle, 0), 0);
    EXPECT_EQ(read_file(path)[28], '\0');
    EXPECT_EQ(DBSetFieldIndexed(handle, 0), DB_ERR_VERSION);  // no production index now
    EXPECT_EQ(DBSetProductionIndex(handle, '1'), 0);
    EXPECT_EQ(read_file(path)[28], '\x01');
    EXPECT_EQ(info().production, 1);
    ASSERT_EQ(open(make_small(1, "ONE.DBF")), 0);
    EXPECT_EQ(DBSetFieldIndexed(handle, 0), DB_ERR_VERSION);
}

TEST_F(TableFile, FailedCloseLeavesTheTableOpenAndTerminateFlushesIt) {
    ASSERT_EQ(open(path), 0);
    ASSERT_EQ(append(), 0);
    host.fail_nth(Call::write, 1, EIO);
    EXPECT_EQ(DBCloseFile(handle), DB_ERR_WRITE);
    int32_t count = 0;
    ASSERT_EQ(DBGetRecordCount(handle, &count), 0);
    EXPECT_EQ(count, 1);
    DBTerminate();
    ASSERT_EQ(DBInitialize(20, 1), 0);
    EXPECT_EQ(le32(read_file(path).data() + 4), 1u);
    EXPECT_EQ(read_file(path).size(), 97u + 16u + 1u);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

}  // namespace
