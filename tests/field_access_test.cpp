// Field access and conversion: every conversion code both ways on blank and
// non-blank fields, foreign field widths that must not write or read past the
// field, name lookup and descriptions, and round trips through a table file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/state.hpp"
#include "support/scratch_dir.hpp"
#include "table/table.hpp"

using namespace xbdb;
using namespace xbdb::table;
using namespace std::string_literals;

namespace {

struct Def {
    const char* name;
    char type;
    uint32_t length;
    uint8_t decimals = 0;
};

// Builds an open table in memory (no file): the packet, its field descriptors and a
// record buffer of exactly the record length, so that the sanitizer sees any byte
// written or read past the last field.
class FieldConversion : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override {
        if (handle >= 0) release_slot(handle);
        DBTerminate();
    }

    void make_table(std::initializer_list<Def> defs, int dialect = 1) {
        ASSERT_EQ(_DBAllocNewFilePacket(&handle, Kind::dbf, &t), 0);
        t->field_count = static_cast<int16_t>(defs.size());
        t->fields.reset(static_cast<Field*>(allocate(defs.size() * sizeof(Field))));
        uint32_t offset = 1;
        int i = 0;
        for (const Def& d : defs) {
            Field& f = t->fields[i++];
            std::strncpy(f.name, d.name, sizeof f.name - 1);
            f.type = d.type;
            f.offset = offset;
            f.length = d.length;
            f.length_byte = static_cast<uint8_t>(d.length);
            f.decimals = d.type == 'C' ? static_cast<uint8_t>(d.length >> 8) : d.decimals;
            offset += d.length;
        }
        put_le16(t->header + kRecordLengthAt, static_cast<uint16_t>(offset));
        t->own_record = allocate_block(offset);
        t->record = t->own_record.get();
        std::memset(t->record, ' ', offset);
        t->dialect = static_cast<uint8_t>(dialect);
    }

    std::string raw(int16_t field) const {
        const Field& f = t->field(field);
        return std::string(t->record + f.offset, f.length);
    }
    void set_raw(int16_t field, const std::string& bytes) {
        const Field& f = t->field(field);
        ASSERT_EQ(bytes.size(), f.length);
        std::memcpy(t->record + f.offset, bytes.data(), bytes.size());
    }
    // A typed put of value (a date as its text).
    template <class T>
    int32_t put(int16_t field, T value) {
        return DBPutFieldData(handle, field, &value);
    }
    int32_t put_date(int16_t field, std::string text) { return DBPutFieldData(handle, field, text.data()); }
    double get_double(int16_t field) {
        double value = -1.0;
        DBGetFieldData(handle, field, &value);
        return value;
    }
    std::string get_text(int16_t field) {
        std::vector<char> text(t->field(field).length + 1, 'X');
        EXPECT_GE(DBGetStrField(handle, field, text.data()), 0);
        return std::string(text.data());
    }

    int32_t handle = -1;
    TablePacket* t = nullptr;
};

}  // namespace

TEST_F(FieldConversion, NumbersReadBlankAsZeroAndPrintRightAligned) {
    // RATE and the two foreign widths beyond any fixed work buffer.
    make_table({{"PRICE", 'N', 8, 2}, {"RATE", 'F', 6, 2}, {"WIDE", 'N', 200, 2}, {"WIDEST", 'N', 255, 0}});
    double value = -1.0;
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), DB_WARN_FIELD_EMPTY);
    EXPECT_EQ(value, 0.0);
    set_raw(0, "   12.50");
    EXPECT_EQ(get_double(0), 12.5);
    const struct { int16_t field; double value; std::string stored; } puts[] = {
        {1, 3.14159, "  3.14"}, {1, -1.5, " -1.50"}, {1, 999.99, "999.99"},
        {2, 1.5, std::string(196, ' ') + "1.50"}};
    for (const auto& p : puts) {
        value = p.value;
        EXPECT_EQ(DBPutFieldData(handle, p.field, &value), 0);
        EXPECT_EQ(raw(p.field), p.stored);
        EXPECT_EQ(get_double(p.field), std::round(p.value * 100) / 100);
    }
    set_raw(3, std::string(250, ' ') + "12345");
    EXPECT_EQ(get_double(3), 12345.0);
}

TEST_F(FieldConversion, NumberWiderThanItsFieldIsRefusedAndFieldKept) {
    make_table({{"QTY", 'N', 5, 0}, {"TOTAL", 'N', 19, 2}, {"RATE", 'N', 6, 2}});
    set_raw(0, "   42");
    EXPECT_EQ(put(0, 1234567.5), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(0), "   42");
    EXPECT_EQ(put(1, 1e300), DB_ERR_BAD_DATA);
    EXPECT_EQ(put(2, 999.995), DB_ERR_BAD_DATA);  // rounds up to 7 characters
    EXPECT_EQ(put(2, double(NAN)), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(1) + raw(2), std::string(25, ' '));
}

TEST_F(FieldConversion, TextIsCutOrBlankPadded) {
    make_table({{"CODE", 'C', 3}, {"NEXT", 'C', 2}});
    set_raw(1, "ZZ");
    EXPECT_EQ(DBPutStrField(handle, 0, "Hello"), DB_WARN_TRUNCATED);
    EXPECT_EQ(raw(0), "Hel");
    EXPECT_EQ(DBPutStrField(handle, 0, "Hi"), 0);
    EXPECT_EQ(raw(0), "Hi ");
    EXPECT_EQ(raw(1), "ZZ");
    EXPECT_EQ(get_text(0), "Hi ");
    EXPECT_EQ(DBPutStrField(handle, 0, ""), 0);
    char text[4] = "XXX";
    EXPECT_EQ(DBGetStrField(handle, 0, text), DB_WARN_FIELD_EMPTY);  // converted all the same
    EXPECT_STREQ(text, "   ");
}

TEST_F(FieldConversion, DatesReadInTheDefaultStyleAndAreWrittenAsYyyymmdd) {
    make_table({{"DUE", 'D', 8}});
    char text[11];
    const struct { int32_t style; const char* blank; const char* shown; } styles[] = {
        {2, "  /  /    ", "12/31/1999"}, {3, "    /   ", "1999/365"}, {15, "    .  .  ", "1999.12.31"}};
    for (const auto& s : styles) {
        DBdate_style = s.style;
        set_raw(0, "        ");
        EXPECT_EQ(DBGetFieldData(handle, 0, text), DB_WARN_FIELD_EMPTY);
        EXPECT_STREQ(text, s.blank);
        set_raw(0, "19991231");
        EXPECT_EQ(DBGetFieldData(handle, 0, text), 0);
        EXPECT_STREQ(text, s.shown);
    }
    set_raw(0, "19991332");
    EXPECT_LT(DBGetFieldData(handle, 0, text), 0);
    EXPECT_STREQ(text, "19991332");

    DBdate_style = 1;
    EXPECT_EQ(put_date(0, "12/31/99"), 0);
    EXPECT_EQ(raw(0), "20991231");
    EXPECT_LT(put_date(0, "13/45/99"), 0);
    EXPECT_EQ(raw(0), "20991231");
    EXPECT_EQ(put_date(0, ""), 0);  // the parse's empty date
    EXPECT_EQ(DBerrno, 0);
    EXPECT_EQ(raw(0), "        ");
}

TEST_F(FieldConversion, ForeignDateWidthsStayInsideFieldAndOutput) {
    make_table({{"WIDE", 'D', 10}, {"NARROW", 'D', 6}, {"NEXT", 'C', 2}});
    set_raw(0, "20240315XY");
    set_raw(2, "ZZ");
    char text[16];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(DBGetFieldData(handle, 0, text), 0);
    EXPECT_STREQ(text, "03/15/24");
    EXPECT_EQ(std::string(text + 11, 5), "#####");

    EXPECT_EQ(put_date(0, "12/01/24"), 0);
    EXPECT_EQ(put_date(1, "12/01/24"), 0);
    EXPECT_EQ(raw(0) + raw(1) + raw(2), "20241201  202412ZZ");
    // The narrow field is read blank-padded to 8, which is no date: the text is kept.
    EXPECT_LT(DBGetFieldData(handle, 1, text), 0);
    EXPECT_STREQ(text, "202412  ");
}

TEST_F(FieldConversion, LogicalBytes) {
    make_table({{"PAID", 'L', 1}});
    char value = 'X';
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), DB_WARN_FIELD_EMPTY);
    EXPECT_EQ(value, '?');
    // Read: y/T/1 true, n/0 false; an unknown byte leaves the output untouched.
    const struct { char stored; char read; } reads[] = {{'y', 1}, {'\x01', 1}, {'n', 0}, {'\0', 0}, {'x', 'X'}};
    for (const auto& r : reads) {
        set_raw(0, std::string(1, r.stored));
        value = 'X';
        EXPECT_EQ(DBGetFieldData(handle, 0, &value), 0);
        EXPECT_EQ(value, r.read);
    }
    const struct { char in; const char* stored; } puts[] = {{'n', "F"}, {1, "T"}, {'?', " "}, {0, "F"}};
    for (const auto& p : puts) {
        EXPECT_EQ(put(0, p.in), 0);
        EXPECT_EQ(raw(0), p.stored);
    }
    EXPECT_EQ(put(0, 'x'), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(0), "F");
}

TEST_F(FieldConversion, MemoNumbersAsTextAndNarrowFields) {
    make_table({{"NOTES", 'M', 10}, {"SHORT", 'M', 6}, {"NEXT", 'C', 2}});
    set_raw(2, "ZZ");
    int32_t block = -1;
    EXPECT_EQ(DBGetFieldData(handle, 0, &block), DB_WARN_FIELD_EMPTY);
    EXPECT_EQ(block, 0);
    EXPECT_EQ(put(0, 5u), 0);
    EXPECT_EQ(DBGetFieldData(handle, 0, &block), 0);
    EXPECT_EQ(block, 5);
    EXPECT_EQ(put(0, 2147483648u), DB_ERR_BAD_DATA);
    // A foreign field narrower than 10 takes the number right-aligned, if it fits.
    EXPECT_EQ(put(1, 123456u), 0);
    EXPECT_EQ(put(1, 1234567u), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(0) + raw(1) + raw(2), "         5123456ZZ");
}

TEST_F(FieldConversion, MemoNumbersAreBinaryInDialect10) {
    make_table({{"NOTES", 'M', 4}}, 10);
    EXPECT_EQ(put(0, 5u), 0);
    EXPECT_EQ(raw(0), std::string("\x05\0\0\0", 4));
    int32_t block = -1;
    EXPECT_EQ(DBGetFieldData(handle, 0, &block), 0);
    EXPECT_EQ(block, 5);
    char text[5];
    EXPECT_EQ(DBGetStrField(handle, 0, text), 0);  // the text get stays raw
    EXPECT_EQ(std::string(text, 5), std::string("\x05\0\0\0\0", 5));
    EXPECT_EQ(put(0, 0xF0000001u), 0);
    EXPECT_EQ(raw(0), "\x01\0\0\xF0"s);
}

// Values are given as their bytes: the test hosts are little-endian, so the bytes of
// int16_t 0x0102 are 02 01 and those of int32_t -2 are FE FF FF FF.
TEST_F(FieldConversion, BinaryIntegerFieldsKeepTheirBytesAndStayInsideTheField) {
    // Types 1, 3, 11, 13 and I; the last, a foreign type-13 field of width 1, ends
    // the record: its put takes one byte, its get zeros the rest of the 8-byte output.
    make_table({{"SHORT", 1, 2}, {"LONG", 3, 4}, {"SERIAL", 11, 4}, {"WIDE", 13, 8}, {"ID", 'I', 4}, {"TINY", 13, 1}});
    const std::string stored[] = {"\x02\x01", "\xFE\xFF\xFF\xFF", "\x44\x33\x22\x11",
                                  "\x08\x07\x06\x05\x04\x03\x02\x01", "\x78\x56\x34\x12", "\xAB"};
    for (int16_t i = 0; i < 6; ++i) {
        uint8_t value[8];
        std::memset(value, 0xEE, sizeof value);
        EXPECT_EQ(DBGetFieldData(handle, i, value), DB_WARN_FIELD_EMPTY) << i;
        EXPECT_EQ(std::string(value, value + stored[i].size()), std::string(stored[i].size(), '\0')) << i;
        std::memset(value, 0x77, sizeof value);
        std::memcpy(value, stored[i].data(), stored[i].size());
        EXPECT_EQ(DBPutFieldData(handle, i, value), 0) << i;
        EXPECT_EQ(raw(i), stored[i]) << i;
        std::memset(value, 0xEE, sizeof value);
        EXPECT_EQ(DBGetFieldData(handle, i, value), 0) << i;
        EXPECT_EQ(std::string(value, value + stored[i].size()), stored[i]) << i;
    }
    char tiny[8];
    std::memset(tiny, 0x55, sizeof tiny);
    EXPECT_EQ(DBGetFieldData(handle, 5, tiny), 0);
    EXPECT_EQ(std::string(tiny, 8), std::string("\xAB\0\0\0\0\0\0\0", 8));
    int32_t id = 0;
    EXPECT_EQ(DBGetFieldData(handle, 4, &id), 0);
    EXPECT_EQ(id, 0x12345678);
}

TEST_F(FieldConversion, DateTimeWordsAreReversedFromACopyAndOnlyWithinTheField) {
    make_table({{"STAMP", 'T', 8}, {"CASH", 'Y', 8}, {"SHORT", 'T', 4}, {"NEXT", 'C', 2}});
    set_raw(3, "ZZ");
    const uint32_t original[2] = {0x01020304, 0x05060708};
    uint32_t words[2] = {original[0], original[1]};
    EXPECT_EQ(DBPutFieldData(handle, 0, words), 0);
    EXPECT_EQ(raw(0), "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(words[0], original[0]);  // the caller's value is left as it was
    EXPECT_EQ(DBPutFieldData(handle, 1, words), 0);
    EXPECT_EQ(raw(1), raw(0));  // the same value put twice stores the same bytes
    uint32_t back[2] = {};
    EXPECT_EQ(DBGetFieldData(handle, 0, back), 0);
    EXPECT_EQ(back[1], original[1]);
    char text[9];
    EXPECT_EQ(DBGetStrField(handle, 0, text), 0);
    EXPECT_EQ(std::memcmp(text, original, 8), 0);

    // A foreign field of 4 bytes is neither written nor read past its width.
    EXPECT_EQ(DBPutFieldData(handle, 2, words), 0);
    EXPECT_EQ(raw(2), "\x01\x02\x03\x04");
    EXPECT_EQ(raw(3), "ZZ");
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(DBGetStrField(handle, 2, text), 0);
    EXPECT_EQ(std::string(text, 8), std::string("\x01\x02\x03\x04\0###", 8));
}

TEST_F(FieldConversion, BinaryNumbersAreTextButDoublesInDialect10) {
    make_table({{"RATIO", 'B', 10, 2}});
    EXPECT_EQ(put(0, 2.5), 0);
    EXPECT_EQ(raw(0), "      2.50");
    set_raw(0, std::string(10, '\0'));
    double value = -1;
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), DB_WARN_FIELD_EMPTY);  // zero bytes are blank here
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(DBIsFieldBlank(handle, 0), 0);  // but only spaces are blank to the test
    release_slot(handle);
    make_table({{"RATIO", 'B', 8}}, 10);
    EXPECT_EQ(put(0, -0.75), 0);
    EXPECT_EQ(raw(0), std::string("\0\0\0\0\0\0\xE8\xBF", 8));
    EXPECT_EQ(get_double(0), -0.75);
}

TEST_F(FieldConversion, HostItemsNeverReachPastTheirSize) {
    make_table({{"NAME", 'C', 3}, {"DUE", 'D', 8}, {"TINY", 13, 1}, {"STAMP", 'T', 4},
                {"QTY", 'N', 4}, {"NOTES", 'M', 10}, {"PAID", 'L', 1}});
    set_raw(2, "\x7F");
    set_raw(3, "\x01\x02\x03\x04");
    char item[5] = {'#', '#', '#', '#', '#'};
    EXPECT_EQ(get_host_item(*t, item, 2), 0);
    EXPECT_EQ(std::string(item, 2), "\x7F#");
    EXPECT_EQ(get_host_item(*t, item, 3), 0);
    EXPECT_EQ(std::string(item, 5), "\x04\x03\x02\x01#");

    const char name_item[4] = {'A', 'B', 'C', 'D'};  // no NUL: the text is cut
    EXPECT_EQ(put_host_item(*t, name_item, 0), DB_WARN_TRUNCATED);
    EXPECT_EQ(raw(0), "ABC");
    const char date_item[11] = {'0', '1', '/', '0', '2', '/', '2', '0', '2', '5', 'Z'};
    DBdate_style = 2;
    EXPECT_EQ(put_host_item(*t, date_item, 1), DB_ERR_DATE);  // 11 bytes, nothing beyond
    const char tiny_item[1] = {0x11};
    EXPECT_EQ(put_host_item(*t, tiny_item, 2), 0);
    EXPECT_EQ(raw(2), "\x11");
}

TEST_F(FieldConversion, NamesLookedUpCaseBlindOverTheWholeName) {
    make_table({{"NAME", 'C', 300}, {"PRICE", 'N', 8, 2}, {"ODD", '\xF0', 3}});
    int16_t field = -1;
    EXPECT_EQ(DBGetFieldNumber(handle, &field, "price"), 0);
    EXPECT_EQ(field, 1);
    EXPECT_EQ(DBGetFieldNumber(handle, &field, "PRICE "), DB_ERR_FIELD_NAME);
    EXPECT_EQ(field, 3);  // the number of fields
    double value = 7.25;
    EXPECT_EQ(DBPutNamedData(handle, "Price", &value), 0);
    char text[301];
    EXPECT_EQ(DBGetNamedStr(handle, "PRICE", text), 0);
    EXPECT_STREQ(text, "    7.25");
    EXPECT_EQ(DBGetNamedData(handle, "COST", &value), DB_ERR_FIELD_NAME);
    EXPECT_EQ(DBIsNamedBlank(handle, "name"), 1);  // only spaces are blank
    EXPECT_EQ(DBerrno, 1);
    EXPECT_EQ(DBIsNamedBlank(handle, "price"), 0);

    DBFieldSpec spec{}, all[3];
    EXPECT_EQ(DBGetFieldDescription(handle, 2, &spec), 0);
    EXPECT_EQ(spec.type, -16);  // widened with its sign
    int32_t longest = 0;
    EXPECT_EQ(DBGetFileDescription(handle, &longest, all), 0);
    EXPECT_EQ(longest, 300);
    EXPECT_EQ(all[0].length, 300);
    EXPECT_EQ(all[0].decimals, 1);  // the length's high byte
    EXPECT_EQ(all[1].decimals, 2);
    std::memcpy(t->fields[1].name, "ELEVENCHARS", 11);  // a foreign name without its NUL
    EXPECT_EQ(DBGetFieldDescription(handle, 1, &spec), DB_ERR_FIELD_LENGTH);
    EXPECT_EQ(DBGetFieldName(handle, text, 1), DB_ERR_FIELD_LENGTH);
}

TEST_F(FieldConversion, BadHandlesFieldNumbersAndPointers) {
    make_table({{"NAME", 'C', 4}, {"NONE", 'C', 0}});
    char text[5];
    DBFieldSpec spec{};
    int16_t field = 0;
    EXPECT_EQ(DBGetStrField(handle + 1, 0, text), DB_ERR_HANDLE);
    EXPECT_EQ(DBGetFieldNumber(handle + 1, &field, "NAME"), DB_ERR_HANDLE);
    EXPECT_EQ(DBGetStrField(handle, -1, text), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBPutStrField(handle, 2, "x"), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBGetFieldName(handle, text, 2), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBGetFieldDescription(handle, 2, &spec), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBIsFieldBlank(handle, 2), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBIsFieldBlank(handle, 1), 0);  // an empty field is never blank
    EXPECT_EQ(DBGetFieldData(handle, 0, nullptr), DB_ERR_NULL);
    EXPECT_EQ(DBPutStrField(handle, 0, nullptr), DB_ERR_NULL);
    EXPECT_EQ(DBGetFieldNumber(handle, nullptr, "NAME"), DB_ERR_NULL);
    EXPECT_EQ(DBGetFieldDescription(handle, 0, nullptr), DB_ERR_NULL);
    EXPECT_EQ(DBGetFileDescription(handle, nullptr, &spec), DB_ERR_NULL);
    EXPECT_EQ(DBIsNamedBlank(handle, "NOPE"), DB_ERR_FIELD_NAME);
    EXPECT_EQ(DBerrno, DB_ERR_FIELD_NAME);
}

// A round trip through a table file: fields put into the record buffer reach the
// file only through the record writes, and read back the same after a reopen.
TEST(FieldFile, FieldsPutThenAppendedReadBackAfterReopen) {
    ASSERT_EQ(DBInitialize(20, 1), 0);
    test::ScratchDir dir;
    const std::string path = dir.file("T.DBF");
    DBFieldSpec specs[] = {{"NAME", 'C', 10, 0}, {"PRICE", 'N', 8, 2}, {"DUE", 'D', 0, 0},
                           {"PAID", 'L', 0, 0}, {"NOTES", 'M', 0, 0}};
    ASSERT_EQ(DBCreateFile(path.c_str(), 5, specs, 1), 0);
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
    double price = 7.25;
    char due[] = "02/29/24", paid = 'y';
    uint32_t block = 5;
    EXPECT_EQ(DBPutNamedStr(h, "name", "Ann"), 0);
    EXPECT_EQ(DBPutNamedData(h, "PRICE", &price), 0);
    EXPECT_EQ(DBPutNamedData(h, "DUE", due), 0);
    EXPECT_EQ(DBPutNamedData(h, "PAID", &paid), 0);
    EXPECT_EQ(DBPutNamedData(h, "NOTES", &block), 0);
    int32_t number = 0;
    ASSERT_EQ(DBPutRecord(h, &number, DB_PUT_APPEND), 0);
    ASSERT_EQ(DBCloseFile(h), 0);

    // Header 32 + 5 * 32 + 1 = 193 bytes, a record of 1 + 10 + 8 + 8 + 1 + 10 = 38 bytes.
    EXPECT_EQ(test::read_file(path).substr(193), std::string(" Ann           7.2520240229T         5\x1A"));
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
    ASSERT_EQ(DBGetRecord(h, 1), 0);
    char name[11], date[11], logical = 'X';
    double read_price = 0;
    int32_t read_block = 0;
    EXPECT_EQ(DBGetStrField(h, 0, name), 0);
    EXPECT_EQ(DBGetFieldData(h, 1, &read_price), 0);
    EXPECT_EQ(DBGetFieldData(h, 2, date), 0);
    EXPECT_EQ(DBGetFieldData(h, 3, &logical), 0);
    EXPECT_EQ(DBGetFieldData(h, 4, &read_block), 0);
    EXPECT_EQ(std::string(name) + "|" + date, "Ann       |02/29/24");
    EXPECT_TRUE(read_price == 7.25 && logical == 1 && read_block == 5);
    DBTerminate();
}
