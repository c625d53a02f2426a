// Table files: the bytes a create writes, checked against hand-computed headers and
// descriptors; every refusal of a create; every damaged or foreign file an open
// must refuse (or accept) without reading past its buffers; flush, close and the
// header flags.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/bytes.hpp"
#include "core/state.hpp"
#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb;
using xbdb::test::Call;
using xbdb::test::FaultHost;
using xbdb::test::read_file;
using xbdb::test::ScopedHost;
using xbdb::test::write_file;

namespace {

DBFieldSpec spec(const char* name, int32_t type, int32_t length = 0, int32_t decimals = 0) {
    DBFieldSpec f{};
    std::strncpy(f.name, name, sizeof f.name);
    f.type = type;
    f.length = length;
    f.decimals = decimals;
    return f;
}

std::string today_bytes() {
    int32_t y = 0, m = 0, d = 0, w = 0;
    DBGetDate3(&y, &m, &d, &w);
    return {static_cast<char>(y - 2000), static_cast<char>(m), static_cast<char>(d)};
}

// A 32-byte file header as this library writes it.
std::string header(uint8_t version, uint32_t count, uint16_t header_length,
                   uint16_t record_length, uint8_t production = 0) {
    std::string h(32, '\0');
    h[0] = static_cast<char>(version);
    h.replace(1, 3, today_bytes());
    put_le32(h.data() + 4, count);
    put_le16(h.data() + 8, header_length);
    put_le16(h.data() + 10, record_length);
    h[28] = static_cast<char>(production);
    return h;
}

// A 32-byte field descriptor: name, type, length byte, decimals byte, indexed flag.
std::string descriptor(const char* name, char type, uint8_t length, uint8_t decimals,
                       uint8_t indexed = 0) {
    std::string d(32, '\0');
    d.replace(0, std::strlen(name), name);
    d[11] = type;
    d[16] = static_cast<char>(length);
    d[17] = static_cast<char>(decimals);
    d[31] = static_cast<char>(indexed);
    return d;
}

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

class TableFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    // NAME C 10, QTY N 5, table of dialect d: header 97 (dialect 9: 128), record 16.
    std::string make_small(int dialect = 1, const char* file = "T.DBF") {
        std::string path = dir.file(file);
        DBFieldSpec f[] = {spec("NAME", 'C', 10), spec("QTY", 'N', 5)};
        EXPECT_EQ(DBCreateFile(path.c_str(), 2, f, dialect), 0);
        return path;
    }

    int32_t open(const std::string& path, int32_t mode = 1) {
        handle = -2;
        return DBOpenFile(&handle, path.c_str(), mode);
    }

    int32_t append(const std::string& record) {
        DBRecordInfo info{};
        DBGetRecordInfo(handle, &info);
        std::memcpy(info.buffer, record.data(), record.size());
        int32_t number = 0;
        return DBPutRecord(handle, &number, DB_PUT_APPEND);
    }

    test::ScratchDir dir;
    int32_t handle = -2;
};

// ---- create: the bytes written -------------------------------------------------------

TEST_F(TableFile, CreateDialect1WritesHeaderDescriptorsTerminatorAndEndMark) {
    const std::string path = dir.file("PEOPLE.DBF");
    DBFieldSpec f[] = {spec("name", 'c', 20), spec("Price", 'n', 8, 2), spec("BORN", 'D', 3, 7),
                       spec("OK", 'L', 9, 9)};
    ASSERT_EQ(DBCreateFile(path.c_str(), 4, f, 1), 0);

    // header 32 + 4 * 32 + 1 = 161; record 1 + 20 + 8 + 8 + 1 = 38
    const std::string expected = header(0x03, 0, 161, 38) + descriptor("NAME", 'C', 20, 0) +
                                 descriptor("PRICE", 'N', 8, 2) + descriptor("BORN", 'D', 8, 0) +
                                 descriptor("OK", 'L', 1, 0) + "\x0D\x1A";
    EXPECT_EQ(read_file(path), expected);

    // The caller's field definitions are completed in place.
    EXPECT_STREQ(f[0].name, "NAME");
    EXPECT_EQ(f[0].type, 'C');
    EXPECT_STREQ(f[1].name, "PRICE");
    EXPECT_EQ(f[1].type, 'N');
    EXPECT_EQ(f[2].length, 8);
    EXPECT_EQ(f[2].decimals, 0);
    EXPECT_EQ(f[3].length, 1);
}

TEST_F(TableFile, CreateDialect2MemoWithProductionIndexAndIndexedFlags) {
    const std::string path = dir.file("D4.DBF");
    DBFieldSpec f[] = {spec("CODE", 'C' | DB_FIELD_INDEXED, 6), spec("NOTES", 'M'),
                       spec("RATE", 'F', 20, 18)};
    ASSERT_EQ(DBCreateFile(path.c_str(), 3, f, 2 | DB_CREATE_PRODUCTION), 0);
    EXPECT_EQ(f[0].type, 'C' | DB_FIELD_INDEXED);

    // version 0x03 | 0x88; header 32 + 96 + 1 = 129; record 1 + 6 + 10 + 20 = 37
    const std::string expected = header(0x8B, 0, 129, 37, 1) + descriptor("CODE", 'C', 6, 0, 1) +
                                 descriptor("NOTES", 'M', 10, 0) + descriptor("RATE", 'F', 20, 18) +
                                 "\x0D\x1A";
    EXPECT_EQ(read_file(path), expected);

    ASSERT_EQ(open(path, 2), 0);
    DBFileInfo info{};
    ASSERT_EQ(DBGetFileInfo(handle, &info), 0);
    EXPECT_EQ(info.dialect, 2);
    EXPECT_EQ(info.memo, 1);
    EXPECT_EQ(info.production, 1);
}

TEST_F(TableFile, IndexedFlagsNeedProductionAndDialect2) {
    const std::string path = dir.file("NOPROD.DBF");
    DBFieldSpec f[] = {spec("CODE", 'C' | DB_FIELD_INDEXED, 6)};
    ASSERT_EQ(DBCreateFile(path.c_str(), 1, f, 2), 0);
    EXPECT_EQ(read_file(path)[32 + 31], '\0');
    ASSERT_EQ(DBCreateFile(path.c_str(), 1, f, 1 | DB_CREATE_PRODUCTION), 0);
    EXPECT_EQ(read_file(path)[28], '\x01');
    EXPECT_EQ(read_file(path)[32 + 31], '\0');
}

TEST_F(TableFile, CreateDialect4MemoIsVersionF5) {
    const std::string path = dir.file("FOX.DBF");
    DBFieldSpec f[] = {spec("ID", 'N', 20, 0), spec("MEMO", 'm', 4, 4)};
    ASSERT_EQ(DBCreateFile(path.c_str(), 2, f, 4), 0);
    const std::string expected = header(0xF5, 0, 97, 31) + descriptor("ID", 'N', 20, 0) +
                                 descriptor("MEMO", 'M', 10, 0) + "\x0D\x1A";
    EXPECT_EQ(read_file(path), expected);

    EXPECT_EQ(open(path, 1), DB_ERR_VERSION);  // 0xF5 is not a dialect 1 version
    EXPECT_EQ(handle, -1);
    ASSERT_EQ(open(path, 4), 0);
}

TEST_F(TableFile, CreateDialect9PutsTerminatorInAWholeSlot) {
    const std::string path = make_small(9);
    // header 32 + 2 * 32 + 32 = 128: 0x0D and 31 zero bytes, then the end mark
    const std::string expected = header(0x03, 0, 128, 16) + descriptor("NAME", 'C', 10, 0) +
                                 descriptor("QTY", 'N', 5, 0) + "\x0D" + std::string(31, '\0') +
                                 "\x1A";
    EXPECT_EQ(read_file(path), expected);

    // The terminator slot makes any opening dialect 9.
    ASSERT_EQ(open(path, 1), 0);
    DBFileInfo info{};
    ASSERT_EQ(DBGetFileInfo(handle, &info), 0);
    EXPECT_EQ(info.dialect, 9);
    DBRecordInfo rec{};
    ASSERT_EQ(DBGetRecordInfo(handle, &rec), 0);
    EXPECT_EQ(rec.field_count, 2);
    EXPECT_EQ(rec.record_length, 16);
}

TEST_F(TableFile, LongCharacterFieldKeepsItsHighByteInTheDecimals) {
    const std::string path = dir.file("LONG.DBF");
    DBFieldSpec f[] = {spec("TEXT", 'C', 300), spec("N", 'N', 4)};
    ASSERT_EQ(DBCreateFile(path.c_str(), 2, f, 6), 0);
    EXPECT_EQ(f[0].decimals, 0);
    const std::string file = read_file(path);
    EXPECT_EQ(file.substr(32, 32), descriptor("TEXT", 'C', 44, 1));  // 300 = 44 + 256
    EXPECT_EQ(le16(file.data() + 10), 305);

    ASSERT_EQ(open(path, 6), 0);
    DBFieldSpec got{};
    ASSERT_EQ(DBGetFieldDescription(handle, 0, &got), 0);
    EXPECT_EQ(got.length, 300);
    EXPECT_EQ(got.decimals, 1);
    int32_t longest = 0;
    DBFieldSpec all[2];
    ASSERT_EQ(DBGetFileDescription(handle, &longest, all), 0);
    EXPECT_EQ(longest, 300);
}

TEST_F(TableFile, CreateRefusesBadDefinitionsAndLeavesNoFile) {
    const std::string path = dir.file("BAD.DBF");
    struct Case {
        DBFieldSpec field;
        int32_t dialect;
        int32_t code;
    };
    const Case cases[] = {
        {spec("ABCDEFGHIJK", 'C', 5), 1, DB_ERR_FIELD_NAME},
        {spec("", 'C', 5), 1, DB_ERR_FIELD_NAME},
        {spec("N", 'N', 20), 1, DB_ERR_FIELD_LENGTH},
        {spec("N", 'N', 21), 2, DB_ERR_FIELD_LENGTH},
        {spec("N", 'N', 0), 1, DB_ERR_FIELD_LENGTH},
        {spec("N", 'N', 10, 9), 1, DB_ERR_DECIMALS},
        {spec("N", 'N', 10, -1), 1, DB_ERR_DECIMALS},
        {spec("N", 'N', 19, 16), 1, DB_ERR_DECIMALS},
        {spec("C", 'C', 255), 1, DB_ERR_FIELD_LENGTH},
        {spec("C", 'C', 0), 1, DB_ERR_FIELD_LENGTH},
        {spec("C", 'C', 2049), 6, DB_ERR_FIELD_LENGTH},
        {spec("F", 'F', 8, 2), 1, DB_ERR_FIELD_TYPE},
        {spec("X", 'X', 8), 1, DB_ERR_FIELD_TYPE},
        {spec("C", 'C', 10), 10, DB_ERR_VERSION},
        {spec("C", 'C', 10), -1, DB_ERR_VERSION},
    };
    for (const Case& c : cases) {
        DBFieldSpec f = c.field;
        EXPECT_EQ(DBCreateFile(path.c_str(), 1, &f, c.dialect), c.code) << c.field.name;
        EXPECT_EQ(DBerrno, c.code);
        EXPECT_FALSE(std::filesystem::exists(path)) << c.field.name;
    }
    // A name filling all 12 bytes without a NUL is refused, not read past.
    DBFieldSpec unterminated = spec("X", 'C', 5);
    std::memset(unterminated.name, 'A', sizeof unterminated.name);
    EXPECT_EQ(DBCreateFile(path.c_str(), 1, &unterminated, 1), DB_ERR_FIELD_NAME);
    // 19 with 15 decimals is fine where 16 is not; dialect 2 has no 15 limit.
    DBFieldSpec ok = spec("N", 'N', 19, 15), wide = spec("N", 'N', 19, 16);
    EXPECT_EQ(DBCreateFile(path.c_str(), 1, &ok, 1), 0);
    EXPECT_EQ(DBCreateFile(path.c_str(), 1, &wide, 2), 0);
}

TEST_F(TableFile, CreateRefusesBadCountsLengthsAndArguments) {
    const std::string path = dir.file("BAD.DBF");
    DBFieldSpec one = spec("A", 'C', 5);
    EXPECT_EQ(DBCreateFile(nullptr, 1, &one, 1), DB_ERR_NULL);
    EXPECT_EQ(DBCreateFile(path.c_str(), 1, nullptr, 1), DB_ERR_NULL);
    EXPECT_EQ(DBCreateFile(path.c_str(), 0, &one, 1), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBCreateFile(std::string(80, 'x').c_str(), 1, &one, 1), DB_ERR_FILENAME);

    std::vector<DBFieldSpec> many(129, spec("F", 'L'));
    EXPECT_EQ(DBCreateFile(path.c_str(), 129, many.data(), 1), DB_ERR_FIELD_COUNT);
    many.resize(256, spec("F", 'L'));
    EXPECT_EQ(DBCreateFile(path.c_str(), 256, many.data(), 2), DB_ERR_FIELD_COUNT);
    many.resize(1024, spec("F", 'L'));
    EXPECT_EQ(DBCreateFile(path.c_str(), 1024, many.data(), 5), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBCreateFile(path.c_str(), 513, many.data(), 7), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBCreateFile(path.c_str(), 512, many.data(), 7), 0);

    // 16 C fields of 254: record 1 + 4064 > 4000; in dialect 6, 34 of 250 > 8192.
    std::vector<DBFieldSpec> wide(16, spec("C", 'C', 254));
    EXPECT_EQ(DBCreateFile(path.c_str(), 16, wide.data(), 1), DB_ERR_RECORD_LENGTH);
    std::vector<DBFieldSpec> wider(33, spec("C", 'C', 248));
    EXPECT_EQ(DBCreateFile(path.c_str(), 33, wider.data(), 6), 0);  // 1 + 8184
    wider.push_back(spec("C", 'C', 8));
    EXPECT_EQ(DBCreateFile(path.c_str(), 34, wider.data(), 6), DB_ERR_RECORD_LENGTH);
}

TEST_F(TableFile, FailedCreateRemovesThePartialFileAndLeaksNothing) {
    const std::string path = dir.file("PART.DBF");
    FaultHost host;
    ScopedHost guard(host);
    DBFieldSpec f[] = {spec("A", 'C', 5)};
    host.fail_nth(Call::write, 1, ENOSPC);
    EXPECT_EQ(DBCreateFile(path.c_str(), 1, f, 1), DB_ERR_WRITE);
    EXPECT_FALSE(std::filesystem::exists(path));
    host.short_nth(Call::write, 1, 10);
    EXPECT_EQ(DBCreateFile(path.c_str(), 1, f, 1), DB_ERR_WRITE);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(host.live_blocks(), 0u);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

// ---- open: damaged and foreign files -----------------------------------------------

TEST_F(TableFile, OpenRefusesDamagedHeaders) {
    const std::string good = read_file(make_small());
    struct Case {
        const char* what;
        std::size_t at;
        std::string bytes;
        int32_t code;
    };
    const Case cases[] = {
        {"header length 32", 8, le16s(32), DB_ERR_HEADER_LENGTH},
        {"header length 1", 8, le16s(1), DB_ERR_HEADER_LENGTH},
        {"header length remainder 3", 8, le16s(99), DB_ERR_HEADER_LENGTH},
        {"header length beyond the file", 8, le16s(32 * 60 + 33), DB_ERR_READ},
        {"record length 0", 10, le16s(0), DB_ERR_RECORD_LENGTH},
        {"record length not the fields'", 10, le16s(17), DB_ERR_RECORD_LENGTH},
        {"month 13", 2, "\x0D", DB_ERR_UPDATE_DATE},
        {"month 0", 2, std::string(1, '\0'), DB_ERR_UPDATE_DATE},
        {"day 32", 3, "\x20", DB_ERR_UPDATE_DATE},
        {"day 0", 3, std::string(1, '\0'), DB_ERR_UPDATE_DATE},
        {"bad field type", 32 + 11, "X", DB_ERR_FIELD_TYPE},
        {"name of 11 characters", 32, "ABCDEFGHIJK", DB_ERR_FIELD_NAME},
        {"no terminator", 96, " ", DB_ERR_CORRUPT},
        {"memo field without memo version", 32 + 32 + 11, "M", DB_ERR_VERSION},
        {"version 0xF5 in dialect 1", 0, "\xF5", DB_ERR_VERSION},
        {"version 0x30 in dialect 1", 0, "\x30", DB_ERR_VERSION},
    };
    const std::string path = dir.file("BAD.DBF");
    for (const Case& c : cases) {
        std::string file = good;
        file.replace(c.at, c.bytes.size(), c.bytes);
        write_file(path, file);
        EXPECT_EQ(open(path), c.code) << c.what;
        EXPECT_EQ(DBerrno, c.code) << c.what;
        EXPECT_EQ(handle, -1) << c.what;
    }
    write_file(path, good.substr(0, 20));
    EXPECT_EQ(open(path), DB_ERR_READ) << "truncated header";
    write_file(path, good);
    EXPECT_EQ(open(path, 11), DB_ERR_COMMAND);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(open(std::string(80, 'x')), DB_ERR_FILENAME);
    EXPECT_EQ(handle, -1);
    EXPECT_EQ(open(dir.file("MISSING.DBF")), DB_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(handle, -1);
    // After all those refusals the first slot is still free.
    ASSERT_EQ(open(path), 0);
    EXPECT_EQ(handle, 0);
}

TEST_F(TableFile, OpenChecksTheProductionFlagOnlyWhereItIsDefined) {
    const std::string path = make_small(2);
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
    const int fields = 256;
    std::string file = header(0x03, 0, 0, 0);
    put_le16(file.data() + 8, static_cast<uint16_t>(32 + 32 * fields + 1));
    put_le16(file.data() + 10, static_cast<uint16_t>((1 + fields * 300) & 0xFFFF));
    for (int i = 0; i < fields; ++i)
        file += descriptor(("F" + std::to_string(i)).c_str(), 'C', 44, 1);
    file += "\x0D\x1A";
    const std::string path = dir.file("WRAP.DBF");
    write_file(path, file);
    EXPECT_EQ(open(path), DB_ERR_RECORD_LENGTH);
    EXPECT_EQ(handle, -1);
}

TEST_F(TableFile, PaddedHeaderEndsTheFieldsAtTheTerminator) {
    // A FoxPro table whose writer padded the header to 488 bytes: the terminator
    // follows the second field, and the rest of the header is not fields.
    std::string file = header(0xF5, 0, 488, 16) + descriptor("NAME", 'C', 10, 0) +
                       descriptor("NOTE", 'M', 10, 0);
    file.resize(488, '\0');
    file[96] = '\x0D';
    file[488 - 1] = '\0';
    put_le16(file.data() + 10, 21);
    file += '\x1A';
    const std::string path = dir.file("PAD.DBF");
    write_file(path, file);
    ASSERT_EQ(open(path, 4), 0);
    DBRecordInfo info{};
    ASSERT_EQ(DBGetRecordInfo(handle, &info), 0);
    EXPECT_EQ(info.field_count, 2);
    DBFileInfo fi{};
    DBGetFileInfo(handle, &fi);
    EXPECT_EQ(fi.dialect, 4);
    EXPECT_EQ(fi.memo, 1);
}

TEST_F(TableFile, YearBytesOfOtherWritersAreAccepted) {
    const std::string path = make_small();
    char text[16] = {};
    // Written by a program that stores year - 1900: 126 is 2026.
    patch(path, 1, "\x7E\x03\x04");
    ASSERT_EQ(open(path), 0);
    ASSERT_EQ(DBGetLastUpdate(handle, text, 4), 0);
    EXPECT_STREQ(text, "20260304");
    DBCloseFile(handle);
    // Ours: year - 2000.
    patch(path, 1, "\x5F\x0C\x1F");
    ASSERT_EQ(open(path), 0);
    ASSERT_EQ(DBGetLastUpdate(handle, text, 4), 0);
    EXPECT_STREQ(text, "20951231");
    EXPECT_EQ(DBGetLastUpdate(handle, nullptr, 4), DB_ERR_NULL);
}

TEST_F(TableFile, CreatedTableCarriesTodaysDate) {
    const std::string path = make_small();
    ASSERT_EQ(open(path), 0);
    char text[16] = {}, expected[16] = {};
    ASSERT_EQ(DBGetLastUpdate(handle, text, 4), 0);
    DBGetDateStr(expected, 4);
    EXPECT_STREQ(text, expected);
}

TEST_F(TableFile, FileLengthOtherThanTheHeaderSaysIsOnlyAWarning) {
    const std::string path = make_small();
    const std::string file = read_file(path);  // 97 + 1 bytes, no records
    write_file(path, file + "x");
    EXPECT_EQ(open(path), DB_WARN_FILE_LENGTH);
    EXPECT_GE(handle, 0);
    DBCloseFile(handle);
    write_file(path, file.substr(0, 97));  // no end mark: still correct
    EXPECT_EQ(open(path), 0);
    DBCloseFile(handle);
    write_file(path, file.substr(0, 97) + std::string(16, '\x1A'));  // a whole record of marks
    EXPECT_EQ(open(path), 0);
    DBCloseFile(handle);

    // A count beyond the file: the open warns, reads beyond the end fail cleanly.
    std::string beyond = file;
    put_le32(beyond.data() + 4, 1000);
    write_file(path, beyond);
    EXPECT_EQ(open(path), DB_WARN_FILE_LENGTH);
    EXPECT_EQ(DBGetRecord(handle, 5), DB_ERR_READ);
    EXPECT_EQ(DBGetRecord(handle, 1000), DB_ERR_READ);
    put_le32(beyond.data() + 4, 0xFFFFFFF0u);
    write_file(path, beyond);
    int32_t second = -2;
    EXPECT_EQ(DBOpenFile(&second, path.c_str(), 1), DB_WARN_FILE_LENGTH);
    EXPECT_EQ(DBGetRecord(second, 0x7FFFFFF0), DB_ERR_SEEK);
}

TEST_F(TableFile, ClipperDialectsCountRecordsFromTheFileLength) {
    const std::string path = make_small(5);
    ASSERT_EQ(open(path, 5), 0);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(append(" ABC       12345"), 0);
    ASSERT_EQ(DBCloseFile(handle), 0);
    patch(path, 4, std::string(4, '\0'));  // the header count says 0

    int32_t count = -1;
    ASSERT_EQ(open(path, 5), 0);
    ASSERT_EQ(DBGetRecordCount(handle, &count), 0);
    EXPECT_EQ(count, 3);
    DBCloseFile(handle);
    ASSERT_EQ(open(path, 6 | DB_OPEN_SHARED), 0);
    ASSERT_EQ(DBGetRecordCount(handle, &count), 0);
    EXPECT_EQ(count, 3);
    DBCloseFile(handle);
    EXPECT_EQ(open(path, 1), DB_WARN_FILE_LENGTH);
    ASSERT_EQ(DBGetRecordCount(handle, &count), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(TableFile, FailedOpenFreesEverything) {
    const std::string path = make_small();
    FaultHost host;
    ScopedHost guard(host);
    for (int n = 1; n <= 2; ++n) {
        host.fail_nth(Call::read, n, EIO);
        EXPECT_EQ(open(path), DB_ERR_READ) << n;
        EXPECT_EQ(handle, -1);
    }
    host.fail_nth(Call::allocate, 2, ENOMEM);
    EXPECT_EQ(open(path), DB_ERR_MEMORY);
    EXPECT_EQ(host.live_blocks(), 0u);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

// ---- flush, close and the header flags -----------------------------------------------

TEST_F(TableFile, FlushAndCloseKeepForeignHeaderBytes) {
    const std::string path = make_small();
    std::string reserved(16, '\0');
    for (int i = 0; i < 16; ++i) reserved[i] = static_cast<char>(0xA0 + i);
    patch(path, 12, reserved);  // bytes 12..27, including 14 and 15
    patch(path, 29, "\xB1\xB2\xB3");
    patch(path, 32 + 12, "\xC1\xC2\xC3\xC4");
    patch(path, 32 + 18, "\xD1\xD2\xD3");
    const std::string before = read_file(path);

    ASSERT_EQ(open(path), 0);
    DBFileInfo info{};
    ASSERT_EQ(DBGetFileInfo(handle, &info), 0);
    EXPECT_EQ(info.byte14, 0xA2);
    EXPECT_EQ(info.byte15, 0xA3);
    ASSERT_EQ(append(" ABC       12345"), 0);
    ASSERT_EQ(DBFlushFile(handle), 0);
    ASSERT_EQ(DBCloseFile(handle), 0);

    const std::string after = read_file(path);
    EXPECT_EQ(after.substr(12, 16), before.substr(12, 16));
    EXPECT_EQ(after.substr(29, 3), before.substr(29, 3));
    EXPECT_EQ(after.substr(32, 65), before.substr(32, 65));
    EXPECT_EQ(le32(after.data() + 4), 1u);
}

TEST_F(TableFile, FlushRefusesReadOnlyAndSkipsUnbufferedTables) {
    const std::string path = make_small();
    ASSERT_EQ(open(path, 1 | DB_OPEN_READONLY), 0);
    EXPECT_EQ(DBFlushFile(handle), DB_ERR_READ_ONLY);
    EXPECT_EQ(DBSetProductionIndex(handle, '1'), DB_ERR_READ_ONLY);
    DBFileInfo info{};
    DBGetFileInfo(handle, &info);
    EXPECT_EQ(info.flags, 0x01u);
    ASSERT_EQ(DBCloseFile(handle), 0);

    FaultHost host;
    ScopedHost guard(host);
    ASSERT_EQ(open(path, 1 | DB_OPEN_UNBUFFERED), 0);
    const int writes = host.calls(Call::write);
    EXPECT_EQ(DBFlushFile(handle), DB_WARN_NOT_BUFFERED);
    EXPECT_EQ(host.calls(Call::write), writes);
    DBGetFileInfo(handle, &info);
    EXPECT_EQ(info.flags, 0x04u);
}

TEST_F(TableFile, OpenModeBitsSetTheInformationFlags) {
    const std::string path = make_small();
    DBFileInfo info{};
    ASSERT_EQ(open(path, 1 | DB_OPEN_AUTOLOCK), 0);
    DBGetFileInfo(handle, &info);
    EXPECT_EQ(info.flags, 0x06u);  // shared and unbuffered
    DBCloseFile(handle);
    ASSERT_EQ(open(path, DB_OPEN_AUTOLOCK | DB_OPEN_READONLY), 0);  // dialect 0 is 1
    DBGetFileInfo(handle, &info);
    EXPECT_EQ(info.flags, 0x07u);
    EXPECT_EQ(info.dialect, 1);
    EXPECT_STREQ(info.name, path.c_str());
    int32_t number = 0;
    EXPECT_EQ(DBPutRecord(handle, &number, DB_PUT_APPEND), DB_ERR_READ_ONLY);
}

TEST_F(TableFile, ProductionAndIndexedFlagsAreWrittenInPlace) {
    const std::string path = make_small(2 | DB_CREATE_PRODUCTION);
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
    DBFileInfo info{};
    DBGetFileInfo(handle, &info);
    EXPECT_EQ(info.production, 1);
    DBCloseFile(handle);

    ASSERT_EQ(open(make_small(1, "ONE.DBF")), 0);
    EXPECT_EQ(DBSetFieldIndexed(handle, 0), DB_ERR_VERSION);
}

TEST_F(TableFile, FailedCloseLeavesTheTableOpen) {
    const std::string path = make_small();
    FaultHost host;
    ScopedHost guard(host);
    ASSERT_EQ(open(path), 0);
    ASSERT_EQ(append(" ABC       12345"), 0);
    host.fail_nth(Call::write, 1, EIO);
    EXPECT_EQ(DBCloseFile(handle), DB_ERR_WRITE);
    int32_t count = 0;
    ASSERT_EQ(DBGetRecordCount(handle, &count), 0);
    EXPECT_EQ(count, 1);
    ASSERT_EQ(DBCloseFile(handle), 0);
    EXPECT_EQ(DBCloseFile(handle), DB_ERR_HANDLE);
    EXPECT_EQ(le32(read_file(path).data() + 4), 1u);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

TEST_F(TableFile, TerminateClosesAndFlushesOpenTables) {
    const std::string path = make_small();
    ASSERT_EQ(open(path), 0);
    ASSERT_EQ(append(" ABC       12345"), 0);
    DBTerminate();
    ASSERT_EQ(DBInitialize(20, 1), 0);
    EXPECT_EQ(le32(read_file(path).data() + 4), 1u);
    EXPECT_EQ(read_file(path).size(), 97u + 16u + 1u);
}

}  // namespace
