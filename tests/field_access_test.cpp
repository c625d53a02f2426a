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
    make_table({{"PRICE", 'N', 8, 2}, {"RATE", 'F', 6, 2}});
    double value = -1.0;
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), DB_WARN_FIELD_EMPTY);
    EXPECT_EQ(value, 0.0);
    set_raw(0, "   12.50");
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), 0);
    EXPECT_EQ(value, 12.5);

    double pi = 3.14159, negative = -1.5, fits = 999.99;
    EXPECT_EQ(DBPutFieldData(handle, 1, &pi), 0);
    EXPECT_EQ(raw(1), "  3.14");
    EXPECT_EQ(DBPutFieldData(handle, 1, &negative), 0);
    EXPECT_EQ(raw(1), " -1.50");
    EXPECT_EQ(DBPutFieldData(handle, 1, &fits), 0);
    EXPECT_EQ(raw(1), "999.99");
}

TEST_F(FieldConversion, NumberWiderThanItsFieldIsRefusedAndFieldKept) {
    make_table({{"QTY", 'N', 5, 0}, {"TOTAL", 'N', 19, 2}, {"RATE", 'N', 6, 2}});
    set_raw(0, "   42");
    double too_wide = 1234567.5, huge = 1e300, rounds_up = 999.995, nan = NAN;
    EXPECT_EQ(DBPutFieldData(handle, 0, &too_wide), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(0), "   42");
    EXPECT_EQ(DBPutFieldData(handle, 1, &huge), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(1), std::string(19, ' '));
    EXPECT_EQ(DBPutFieldData(handle, 2, &rounds_up), DB_ERR_BAD_DATA);
    EXPECT_EQ(DBPutFieldData(handle, 2, &nan), DB_ERR_BAD_DATA);
    EXPECT_EQ(DBerrno, DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(2), std::string(6, ' '));
}

TEST_F(FieldConversion, WideForeignNumberFieldsConvertWholly) {
    make_table({{"WIDE", 'N', 200, 2}, {"WIDEST", 'N', 255, 0}});
    double value = 1.5;
    EXPECT_EQ(DBPutFieldData(handle, 0, &value), 0);
    EXPECT_EQ(raw(0), std::string(196, ' ') + "1.50");
    EXPECT_EQ(get_double(0), 1.5);
    set_raw(1, std::string(250, ' ') + "12345");
    EXPECT_EQ(get_double(1), 12345.0);
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

TEST_F(FieldConversion, DatesReadInTheDefaultStyle) {
    make_table({{"DUE", 'D', 8}});
    char text[11];
    const struct { int32_t style; const char* blank; } blanks[] = {
        {2, "  /  /    "}, {5, "      "}, {3, "    /   "}, {15, "    .  .  "}};
    for (const auto& b : blanks) {
        DBdate_style = b.style;
        EXPECT_EQ(DBGetFieldData(handle, 0, text), DB_WARN_FIELD_EMPTY);
        EXPECT_STREQ(text, b.blank) << "style " << b.style;
    }
    set_raw(0, "19991231");
    const struct { int32_t style; const char* shown; } shown[] = {
        {1, "12/31/99"}, {7, "31.12.1999"}, {3, "1999/365"}, {4, "19991231"}};
    for (const auto& s : shown) {
        DBdate_style = s.style;
        EXPECT_EQ(DBGetFieldData(handle, 0, text), 0);
        EXPECT_STREQ(text, s.shown) << "style " << s.style;
    }
    set_raw(0, "19991332");
    EXPECT_LT(DBGetFieldData(handle, 0, text), 0);
    EXPECT_STREQ(text, "19991332");
}

TEST_F(FieldConversion, DatesWrittenAsYyyymmdd) {
    make_table({{"DUE", 'D', 8}});
    char input[] = "12/31/99";
    EXPECT_EQ(DBPutFieldData(handle, 0, input), 0);
    EXPECT_EQ(raw(0), "20991231");
    char bad[] = "13/45/99";
    EXPECT_LT(DBPutFieldData(handle, 0, bad), 0);
    EXPECT_EQ(raw(0), "20991231");
    char spaces[] = "   ";
    EXPECT_EQ(DBPutFieldData(handle, 0, spaces), 0);
    EXPECT_EQ(raw(0), "        ");
    set_raw(0, "20240101");
    char empty[] = "";
    EXPECT_EQ(DBPutFieldData(handle, 0, empty), 0);  // the parse's empty date
    EXPECT_EQ(DBerrno, 0);
    EXPECT_EQ(raw(0), "        ");
    DBdate_style = 7;
    char german[] = "29.02.2024";
    EXPECT_EQ(DBPutFieldData(handle, 0, german), 0);
    EXPECT_EQ(raw(0), "20240229");
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

    char date[] = "12/01/24";
    EXPECT_EQ(DBPutFieldData(handle, 0, date), 0);
    EXPECT_EQ(raw(0), "20241201  ");
    EXPECT_EQ(DBPutFieldData(handle, 1, date), 0);
    EXPECT_EQ(raw(1), "202412");
    EXPECT_EQ(raw(2), "ZZ");
    // The narrow field is read blank-padded to 8, which is no date: the text is kept.
    EXPECT_LT(DBGetFieldData(handle, 1, text), 0);
    EXPECT_STREQ(text, "202412  ");
}

TEST_F(FieldConversion, LogicalBytes) {
    make_table({{"PAID", 'L', 1}});
    char value = 'X';
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), DB_WARN_FIELD_EMPTY);
    EXPECT_EQ(value, '?');
    const struct { char stored; char read; } reads[] = {{'y', 1}, {'T', 1}, {'\x01', 1}, {'n', 0}, {'\0', 0}};
    for (const auto& r : reads) {
        set_raw(0, std::string(1, r.stored));
        value = 'X';
        EXPECT_EQ(DBGetFieldData(handle, 0, &value), 0);
        EXPECT_EQ(value, r.read);
    }
    set_raw(0, "x");
    value = 'X';
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), 0);
    EXPECT_EQ(value, 'X');

    const struct { char in; const char* stored; } puts[] = {{'n', "F"}, {1, "T"}, {'Y', "T"}, {'?', " "}, {0, "F"}};
    for (const auto& p : puts) {
        char in = p.in;
        EXPECT_EQ(DBPutFieldData(handle, 0, &in), 0);
        EXPECT_EQ(raw(0), p.stored);
    }
    char bad = 'x';
    EXPECT_EQ(DBPutFieldData(handle, 0, &bad), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(0), "F");
}

TEST_F(FieldConversion, MemoNumbersAsTextAndNarrowFields) {
    make_table({{"NOTES", 'M', 10}, {"SHORT", 'M', 6}, {"NEXT", 'C', 2}});
    set_raw(2, "ZZ");
    int32_t block = -1;
    EXPECT_EQ(DBGetFieldData(handle, 0, &block), DB_WARN_FIELD_EMPTY);
    EXPECT_EQ(block, 0);
    uint32_t five = 5, too_big = 2147483648u, largest = 2147483647u;
    EXPECT_EQ(DBPutFieldData(handle, 0, &five), 0);
    EXPECT_EQ(raw(0), "         5");
    EXPECT_EQ(DBGetFieldData(handle, 0, &block), 0);
    EXPECT_EQ(block, 5);
    EXPECT_EQ(DBPutFieldData(handle, 0, &too_big), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(0), "         5");
    EXPECT_EQ(DBPutFieldData(handle, 0, &largest), 0);
    EXPECT_EQ(raw(0), "2147483647");

    uint32_t fits = 123456, wide = 1234567;
    EXPECT_EQ(DBPutFieldData(handle, 1, &fits), 0);
    EXPECT_EQ(raw(1), "123456");
    EXPECT_EQ(DBPutFieldData(handle, 1, &wide), DB_ERR_BAD_DATA);
    EXPECT_EQ(raw(1), "123456");
    EXPECT_EQ(raw(2), "ZZ");
}

TEST_F(FieldConversion, MemoNumbersAreBinaryInDialect10) {
    make_table({{"NOTES", 'M', 4}}, 10);
    uint32_t five = 5, big = 0xF0000001u;
    EXPECT_EQ(DBPutFieldData(handle, 0, &five), 0);
    EXPECT_EQ(raw(0), std::string("\x05\0\0\0", 4));
    int32_t block = -1;
    EXPECT_EQ(DBGetFieldData(handle, 0, &block), 0);
    EXPECT_EQ(block, 5);
    char text[5];
    EXPECT_EQ(DBGetStrField(handle, 0, text), 0);  // the text get stays raw
    EXPECT_EQ(std::string(text, 5), std::string("\x05\0\0\0\0", 5));
    EXPECT_EQ(DBPutFieldData(handle, 0, &big), 0);
    EXPECT_EQ(raw(0), "\x01\0\0\xF0"s);
}

// Values are given as their bytes: the test hosts are little-endian, so the bytes of
// int16_t 0x0102 are 02 01 and those of int32_t -2 are FE FF FF FF.
TEST_F(FieldConversion, BinaryIntegerFieldsKeepTheirBytes) {
    make_table({{"SHORT", 1, 2}, {"LONG", 3, 4}, {"SERIAL", 11, 4}, {"WIDE", 13, 8}, {"ID", 'I', 4}});
    const std::string stored[] = {"\x02\x01", "\xFE\xFF\xFF\xFF", "\x44\x33\x22\x11",
                                  "\x08\x07\x06\x05\x04\x03\x02\x01", "\x78\x56\x34\x12"};
    for (int16_t i = 0; i < 5; ++i) {
        const std::size_t size = stored[i].size();
        uint8_t value[8];
        std::memset(value, 0xEE, sizeof value);
        EXPECT_EQ(DBGetFieldData(handle, i, value), DB_WARN_FIELD_EMPTY) << i;
        EXPECT_EQ(std::string(value, value + size), std::string(size, '\0')) << i;
        std::memcpy(value, stored[i].data(), size);
        EXPECT_EQ(DBPutFieldData(handle, i, value), 0) << i;
        EXPECT_EQ(raw(i), stored[i]) << i;
        std::memset(value, 0, sizeof value);
        EXPECT_EQ(DBGetFieldData(handle, i, value), 0) << i;
        EXPECT_EQ(std::string(value, value + size), stored[i]) << i;
    }
    int32_t id = 0;
    EXPECT_EQ(DBGetFieldData(handle, 4, &id), 0);
    EXPECT_EQ(id, 0x12345678);
}

TEST_F(FieldConversion, NarrowTypeByteFieldLastInRecordStaysInside) {
    make_table({{"NAME", 'C', 3}, {"TINY", 13, 1}});  // the record ends at the TINY byte
    uint8_t value[8] = {0xAB, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(DBPutFieldData(handle, 1, value), 0);
    EXPECT_EQ(raw(1), "\xAB");
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(DBGetFieldData(handle, 1, out), 0);
    EXPECT_EQ(out[0], 0xAB);
    for (int i = 1; i < 8; ++i) EXPECT_EQ(out[i], 0) << i;
}

TEST_F(FieldConversion, DateTimeWordsAreReversedFromACopy) {
    make_table({{"STAMP", 'T', 8}, {"CASH", 'Y', 8}});
    const uint32_t original[2] = {0x01020304, 0x05060708};
    uint32_t words[2] = {original[0], original[1]};
    EXPECT_EQ(DBPutFieldData(handle, 0, words), 0);
    EXPECT_EQ(raw(0), "\x01\x02\x03\x04\x05\x06\x07\x08");
    EXPECT_EQ(words[0], original[0]);  // the caller's value is left as it was
    EXPECT_EQ(DBPutFieldData(handle, 1, words), 0);
    EXPECT_EQ(raw(1), raw(0));  // the same value put twice stores the same bytes

    uint32_t back[2] = {};
    EXPECT_EQ(DBGetFieldData(handle, 0, back), 0);
    EXPECT_EQ(back[0], original[0]);
    EXPECT_EQ(back[1], original[1]);
    char text[9];
    EXPECT_EQ(DBGetStrField(handle, 0, text), 0);
    EXPECT_EQ(std::memcmp(text, original, 8), 0);
}

TEST_F(FieldConversion, NarrowDateTimeFieldIsNotReversedPastItsWidth) {
    make_table({{"STAMP", 'T', 4}, {"NEXT", 'C', 2}});
    set_raw(1, "ZZ");
    const uint32_t words[2] = {0x01020304, 0x05060708};
    EXPECT_EQ(DBPutFieldData(handle, 0, const_cast<uint32_t*>(words)), 0);
    EXPECT_EQ(raw(0), "\x01\x02\x03\x04");
    EXPECT_EQ(raw(1), "ZZ");
    char text[8];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(DBGetStrField(handle, 0, text), 0);
    EXPECT_EQ(std::string(text, 8), std::string("\x01\x02\x03\x04\0###", 8));
}

TEST_F(FieldConversion, BinaryNumbers) {
    make_table({{"RATIO", 'B', 10, 2}});
    double half = 2.5;
    EXPECT_EQ(DBPutFieldData(handle, 0, &half), 0);
    EXPECT_EQ(raw(0), "      2.50");
    EXPECT_EQ(get_double(0), 2.5);
    set_raw(0, std::string(10, '\0'));
    double value = -1.0;
    EXPECT_EQ(DBGetFieldData(handle, 0, &value), DB_WARN_FIELD_EMPTY);  // zero bytes are blank here
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(DBIsFieldBlank(handle, 0), 0);  // but only spaces are blank to the test
}

TEST_F(FieldConversion, BinaryNumbersAreDoublesInDialect10) {
    make_table({{"RATIO", 'B', 8}}, 10);
    double value = -0.75;
    EXPECT_EQ(DBPutFieldData(handle, 0, &value), 0);
    EXPECT_EQ(raw(0), std::string("\0\0\0\0\0\0\xE8\xBF", 8));
    EXPECT_EQ(get_double(0), -0.75);
}

TEST_F(FieldConversion, BlankTestCountsOnlySpacesAndNeverAnEmptyField) {
    make_table({{"NAME", 'C', 4}, {"NONE", 'C', 0}});
    EXPECT_EQ(DBIsFieldBlank(handle, 0), 1);
    EXPECT_EQ(DBerrno, 1);
    EXPECT_EQ(DBIsNamedBlank(handle, "name"), 1);
    EXPECT_EQ(DBIsFieldBlank(handle, 1), 0);
    set_raw(0, "  a ");
    EXPECT_EQ(DBIsNamedBlank(handle, "NAME"), 0);
    EXPECT_EQ(DBerrno, 0);
}

TEST_F(FieldConversion, HostItemsNeverReachPastTheirSize) {
    make_table({{"NAME", 'C', 3}, {"DUE", 'D', 8}, {"TINY", 13, 1}, {"STAMP", 'T', 4},
                {"QTY", 'N', 4}, {"NOTES", 'M', 10}, {"PAID", 'L', 1}});
    const int32_t sizes[] = {4, 11, 1, 4, 8, 4, 1};
    for (int16_t i = 0; i < 7; ++i) EXPECT_EQ(host_item_size(t->field(i)), sizes[i]) << i;

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
    make_table({{"NAME", 'C', 300}, {"PRICE", 'N', 8, 2}});
    int16_t field = -1;
    EXPECT_EQ(DBGetFieldNumber(handle, &field, "price"), 0);
    EXPECT_EQ(field, 1);
    EXPECT_EQ(DBGetFieldNumber(handle, &field, "PRICE "), DB_ERR_FIELD_NAME);
    EXPECT_EQ(field, 2);  // the number of fields
    EXPECT_EQ(DBGetFieldNumber(handle, nullptr, "PRICE"), DB_ERR_NULL);
    EXPECT_EQ(DBGetFieldNumber(handle + 1, &field, "PRICE"), DB_ERR_HANDLE);

    char name[11];
    EXPECT_EQ(DBGetFieldName(handle, name, 1), 0);
    EXPECT_STREQ(name, "PRICE");
    EXPECT_EQ(DBGetFieldName(handle, name, 2), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBGetFieldName(handle, nullptr, 0), DB_ERR_NULL);

    double value = 7.25;
    EXPECT_EQ(DBPutNamedData(handle, "Price", &value), 0);
    EXPECT_EQ(DBPutNamedStr(handle, "name", "Ann"), 0);
    char text[301];
    EXPECT_EQ(DBGetNamedStr(handle, "PRICE", text), 0);
    EXPECT_STREQ(text, "    7.25");
    value = 0;
    EXPECT_EQ(DBGetNamedData(handle, "price", &value), 0);
    EXPECT_EQ(value, 7.25);
    EXPECT_EQ(DBGetNamedData(handle, "COST", &value), DB_ERR_FIELD_NAME);
}

TEST_F(FieldConversion, DescriptionsOfOneAndOfAllFields) {
    make_table({{"NAME", 'C', 300}, {"PRICE", 'N', 8, 2}, {"ODD", '\xF0', 3}});
    DBFieldSpec spec{};
    EXPECT_EQ(DBGetFieldDescription(handle, 0, &spec), 0);
    EXPECT_STREQ(spec.name, "NAME");
    EXPECT_EQ(spec.type, 'C');
    EXPECT_EQ(spec.length, 300);
    EXPECT_EQ(spec.decimals, 1);  // the length's high byte
    EXPECT_EQ(DBGetFieldDescription(handle, 2, &spec), 0);
    EXPECT_EQ(spec.type, -16);  // widened with its sign
    EXPECT_EQ(DBGetFieldDescription(handle, 3, &spec), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBGetFieldDescription(handle, 0, nullptr), DB_ERR_NULL);

    DBFieldSpec all[3];
    int32_t longest = 0;
    EXPECT_EQ(DBGetFileDescription(handle, &longest, all), 0);
    EXPECT_EQ(longest, 300);
    EXPECT_STREQ(all[1].name, "PRICE");
    EXPECT_EQ(all[1].length, 8);
    EXPECT_EQ(all[1].decimals, 2);
    EXPECT_EQ(DBGetFileDescription(handle, nullptr, all), DB_ERR_NULL);

    std::memcpy(t->fields[1].name, "ELEVENCHARS", 11);  // a foreign name without its NUL
    EXPECT_EQ(DBGetFieldDescription(handle, 1, &spec), DB_ERR_FIELD_LENGTH);
    char name[11];
    EXPECT_EQ(DBGetFieldName(handle, name, 1), DB_ERR_FIELD_LENGTH);
}

TEST_F(FieldConversion, BadHandlesFieldNumbersAndPointers) {
    make_table({{"NAME", 'C', 4}});
    char text[5];
    EXPECT_EQ(DBGetStrField(handle + 1, 0, text), DB_ERR_HANDLE);
    EXPECT_EQ(DBGetStrField(handle, -1, text), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBPutStrField(handle, 1, "x"), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBGetFieldData(handle, 0, nullptr), DB_ERR_NULL);
    EXPECT_EQ(DBPutStrField(handle, 0, nullptr), DB_ERR_NULL);
    EXPECT_EQ(DBIsFieldBlank(handle, 1), DB_ERR_FIELD_COUNT);
    EXPECT_EQ(DBIsNamedBlank(handle, "NOPE"), DB_ERR_FIELD_NAME);
    EXPECT_EQ(DBerrno, DB_ERR_FIELD_NAME);
}

TEST_F(FieldConversion, FailuresAreLoggedFromEachCaller) {
    test::ScratchDir dir;
    const std::string log = dir.file("ERR.LOG");
    make_table({{"PAID", 'L', 1}});
    DBErrorLog(1, log.c_str());
    char bad = 'x';
    EXPECT_EQ(DBPutFieldData(handle, 0, &bad), DB_ERR_BAD_DATA);
    DBErrorLog(0, nullptr);
    const std::string lines = test::read_file(log);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3) << lines;
    EXPECT_NE(lines.find("-233"), std::string::npos);
}

namespace {

// Round trips through table files: fields put into the record buffer reach the file
// only through the record writes, and read back the same after a reopen.
class FieldFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    // A table file as another program may write it: one record, any field widths.
    void write_foreign(const std::string& path, std::initializer_list<Def> defs, const std::string& record) {
        const auto header_length = static_cast<uint16_t>(32 + 32 * defs.size() + 1);
        std::string file(32, '\0');
        file[0] = 0x03;
        file[1] = 24, file[2] = 1, file[3] = 1;
        put_le32(&file[4], 1);
        put_le16(&file[8], header_length);
        put_le16(&file[10], static_cast<uint16_t>(record.size()));
        for (const Def& d : defs) {
            std::string descriptor(32, '\0');
            std::memcpy(&descriptor[0], d.name, std::strlen(d.name));
            descriptor[11] = d.type;
            descriptor[16] = static_cast<char>(d.length);
            descriptor[17] = static_cast<char>(d.decimals);
            file += descriptor;
        }
        file += '\x0D';
        file += record;
        file += '\x1A';
        test::write_file(path, file);
    }

    test::ScratchDir dir;
    std::string path = dir.file("T.DBF");
};

}  // namespace

TEST_F(FieldFile, FieldsPutThenAppendedReadBackAfterReopen) {
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
    EXPECT_EQ(DBPutStrField(h, 0, "Bob"), 0);  // the second record differs in its name only
    ASSERT_EQ(DBPutRecord(h, &number, DB_PUT_APPEND), 0);
    ASSERT_EQ(DBCloseFile(h), 0);

    // Header 32 + 5 * 32 + 1 = 193 bytes, records of 1 + 10 + 8 + 8 + 1 + 10 = 38 bytes.
    const std::string file = test::read_file(path);
    ASSERT_EQ(file.size(), 193u + 2 * 38 + 1);
    EXPECT_EQ(file.substr(193, 38), " Ann           7.2520240229T         5");
    EXPECT_EQ(file.substr(193 + 38, 4), " Bob");

    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
    ASSERT_EQ(DBGetRecord(h, 1), 0);
    char name[11], date[11], logical = 'X';
    double read_price = 0;
    int32_t read_block = 0;
    EXPECT_EQ(DBGetStrField(h, 0, name), 0);
    EXPECT_STREQ(name, "Ann       ");
    EXPECT_EQ(DBGetFieldData(h, 1, &read_price), 0);
    EXPECT_EQ(read_price, 7.25);
    EXPECT_EQ(DBGetFieldData(h, 2, date), 0);
    EXPECT_STREQ(date, "02/29/24");
    EXPECT_EQ(DBGetFieldData(h, 3, &logical), 0);
    EXPECT_EQ(logical, 1);
    EXPECT_EQ(DBGetFieldData(h, 4, &read_block), 0);
    EXPECT_EQ(read_block, 5);
    ASSERT_EQ(DBGetRecord(h, 2), 0);
    EXPECT_EQ(DBGetNamedStr(h, "NAME", name), 0);
    EXPECT_STREQ(name, "Bob       ");
    ASSERT_EQ(DBCloseFile(h), 0);
}

TEST_F(FieldFile, ForeignFieldWidthsConvertInsideTheirFields) {
    // DUE is a date of width 10, TOTAL a number of width 200, TINY a type-13 field
    // of width 1 that ends the record.
    const std::string record = " 20240315  " + std::string(196, ' ') + "1.50" + "\x07";
    write_foreign(path, {{"DUE", 'D', 10}, {"TOTAL", 'N', 200, 2}, {"TINY", 13, 1}}, record);
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), 1), 0);
    ASSERT_EQ(DBGetRecord(h, 1), 0);
    char date[11];
    double total = 0;
    uint8_t tiny[8];
    EXPECT_EQ(DBGetFieldData(h, 0, date), 0);
    EXPECT_STREQ(date, "03/15/24");
    EXPECT_EQ(DBGetFieldData(h, 1, &total), 0);
    EXPECT_EQ(total, 1.5);
    EXPECT_EQ(DBGetFieldData(h, 2, tiny), 0);
    EXPECT_EQ(tiny[0], 7);
    EXPECT_EQ(tiny[7], 0);

    char new_date[] = "12/31/25";
    double new_total = -2.25;
    uint8_t new_tiny[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(DBPutFieldData(h, 0, new_date), 0);
    EXPECT_EQ(DBPutFieldData(h, 1, &new_total), 0);
    EXPECT_EQ(DBPutFieldData(h, 2, new_tiny), 0);
    int32_t number = 1;
    ASSERT_EQ(DBPutRecord(h, &number, DB_PUT_UPDATE), 0);
    ASSERT_EQ(DBCloseFile(h), 0);

    const std::string file = test::read_file(path);
    const std::size_t at = 32 + 3 * 32 + 1;
    EXPECT_EQ(file.substr(at, record.size()), " 20251231  " + std::string(195, ' ') + "-2.25" + "\x09");
    EXPECT_EQ(file.substr(at + record.size()), "\x1A");
}
