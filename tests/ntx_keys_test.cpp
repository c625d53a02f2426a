// Key texts: numbers and dates to keys and back, and keys made from a table's
// current record agreeing with them.
#include <cstring>

#include "ntx_fixture.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

class NtxKeys : public NtxTest {
protected:
    std::string number_key(int32_t h, double value) {
        char key[256];
        EXPECT_EQ(DBclDoubleToKey(h, key, value), 0);
        return key;
    }
    static std::string complemented(std::string text) {
        for (char& c : text)
            if (c != '.') c = static_cast<char>(0x5C - c);
        return text;
    }
};

}  // namespace

TEST_F(NtxKeys, NumbersBecomeZeroPaddedTextRoundedToTheDecimals) {
    const int32_t h = open(create("N.NTX", 10, 'N', "PRICE", 2));
    EXPECT_EQ(number_key(h, 1.5), "0000001.50");
    EXPECT_EQ(number_key(h, -1.5), complemented("0000001.50"));
    EXPECT_EQ(number_key(h, 99.99), "0000099.99");  // rounded, not cut to 99.98
    EXPECT_EQ(number_key(h, 123456789.0), "3456789.00");  // the last digits that fit
    EXPECT_EQ(number_key(h, 1e300).size(), 10u);          // no overflow
    double back = 0;
    EXPECT_EQ(DBclKeyToDouble(&back, number_key(h, -12.25).c_str()), 0);
    EXPECT_DOUBLE_EQ(back, -12.25);
    EXPECT_LT(number_key(h, -2), number_key(h, -1));
    EXPECT_LT(number_key(h, -1), number_key(h, 0.5));
    const int32_t wide = open(create("W.NTX", 19, 'N', "PRICE", 0));
    EXPECT_EQ(number_key(wide, 7), "0000000000000000007");  // never the sign character
    EXPECT_LT(number_key(wide, -7), number_key(wide, 7));
    EXPECT_EQ(DBclDoubleToKey(h, nullptr, 1), DB_ERR_NULL);
}

TEST_F(NtxKeys, DatesBecomeYearMonthDayOrBlanks) {
    char key[16];
    EXPECT_EQ(DBclDateToKey(key, "19991231", 4), 0);
    EXPECT_STREQ(key, "19991231");
    EXPECT_EQ(DBclDateToKey(key, "", 4), 0);
    EXPECT_STREQ(key, "        ");
    char text[16];
    EXPECT_EQ(DBclKeyToDate(text, 4, "20240229"), 0);
    EXPECT_STREQ(text, "20240229");
    EXPECT_EQ(DBclKeyToDate(text, 4, "        "), 0);
    EXPECT_STREQ(text, "        ");
    EXPECT_LT(DBclDateToKey(key, "19991331", 4), 0);
    EXPECT_EQ(DBclDateToKey(nullptr, "19991231", 4), DB_ERR_NULL);
}

TEST_F(NtxKeys, KeysOfTableRecordsAgreeWithTheConversionsAndTheChecker) {
    const std::string table_path = dir_.file("T.DBF");
    DBFieldSpec fields[3] = {{"NAME", 'C', 10, 0}, {"PRICE", 'N', 8, 2}, {"BORN", 'D', 8, 0}};
    ASSERT_EQ(DBCreateFile(table_path.c_str(), 3, fields, 0), 0);
    int32_t t = -1;
    ASSERT_GE(DBOpenFile(&t, table_path.c_str(), 0), 0);
    const char* rows[][3] = {{"BETA", "  -12.50", "19991231"}, {"ALPHA", "    1.50", "20000101"},
                             {"BETA", "  100.00", "        "}};
    for (auto& row : rows) {
        ASSERT_EQ(DBClearBuffer(t), 0);
        for (int16_t f = 0; f < 3; ++f) ASSERT_GE(DBPutStrField(t, f, row[f]), 0);
        int32_t n = 0;
        ASSERT_EQ(DBPutRecord(t, &n, DB_PUT_APPEND), 0);
    }
    const int32_t by_name = open(create("NAME.NTX", 10, 'C', "NAME"));
    const int32_t by_price = open(create("PRICE.NTX", 8, 'N', "PRICE", 2));
    const int32_t by_born = open(create("BORN.NTX", 8, 'D', "BORN"));
    const std::string want[][3] = {{"BETA      ", complemented("00012.50"), "19991231"},
                                   {"ALPHA     ", "00001.50", "20000101"},
                                   {"BETA      ", "00100.00", "        "}};
    for (int32_t r = 1; r <= 3; ++r) {
        ASSERT_GE(DBGetRecord(t, r), 0);
        int32_t i = 0;
        for (int32_t h : {by_name, by_price, by_born}) {
            char* key = nullptr;
            ASSERT_EQ(DBclMakeKey(t, h, &key), 0);
            EXPECT_EQ(std::string(key), want[r - 1][i++]) << "record " << r;
            EXPECT_EQ(DBclAddKey(h, key, static_cast<uint32_t>(r)), 0);
            DBFreeMemory(key, "test", 0);
        }
    }
    EXPECT_EQ(number_key(by_price, -12.5), want[0][1]);
    ntx::CheckOptions with_table;
    with_table.table = t;
    EXPECT_EQ(problems(by_name, with_table), std::vector<std::string>{});
    EXPECT_EQ(problems(by_born, with_table), std::vector<std::string>{});
    ASSERT_EQ(DBclDeleteKey(by_name, "BETA", 3), 0);
    EXPECT_EQ(problems(by_name, with_table).size(), 2u);  // count, and record 3 missing
    char* key = reinterpret_cast<char*>(1);
    EXPECT_EQ(DBclMakeKey(t, by_name + 10, &key), DB_ERR_HANDLE);
    EXPECT_EQ(key, nullptr);
}
