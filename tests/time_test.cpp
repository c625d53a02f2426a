// Times of day: the two time styles, the exact-form reading, the local clock and
// the seconds between two times.
#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <utility>

#include "support/host_faults.hpp"
#include "xbdb.h"

namespace {

struct Parsed {
    int32_t code, hour, minute, second;
};

Parsed parse(const char* text, int32_t style) {
    Parsed p{0, -1, -1, -1};
    p.code = DBStrTimeTo3(&p.hour, &p.minute, &p.second, text, style);
    return p;
}

std::string format(int32_t style, int32_t hour, int32_t minute, int32_t second) {
    char text[DB_TIME_TEXT_LEN] = "untouch";
    const int32_t code = DBTime3ToStr(text, style, hour, minute, second);
    return code == 0 ? std::string(text) : "error " + std::to_string(code);
}

int32_t between(const char* a, int32_t style_a, const char* b, int32_t style_b) {
    int32_t seconds = -1;
    const int32_t code = DBSecondsBetweenStr(&seconds, a, style_a, b, style_b);
    return code == 0 ? seconds : code;
}

class Time : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }
};

}  // namespace

TEST_F(Time, FormatsBothStylesAndChecksRangesBeforeTheStyle) {
    EXPECT_EQ(format(1, 9, 5, 0), "09:05:00");
    EXPECT_EQ(format(2, 9, 5, 42), "0905");
    EXPECT_EQ(format(3, 25, 0, 0), "error -216");
    EXPECT_EQ(format(3, 12, 0, 0), "error -212");
    EXPECT_EQ(format(1, 0, 60, 0), "error -216");
}

TEST_F(Time, EveryMinuteOfTheDayRoundTripsInBothStyles) {
    for (int32_t h = 0; h < 24; ++h)
        for (int32_t m = 0; m < 60; ++m)
            for (auto [style, s] : {std::pair{1, (h * 7 + m) % 60}, {1, 59}, {2, 0}}) {
                const Parsed p = parse(format(style, h, m, s).c_str(), style);
                ASSERT_TRUE(p.code == 0 && p.hour == h && p.minute == m && p.second == s) << h << ":" << m;
            }
}

TEST_F(Time, ReadsOnlyTheExactFormOfItsStyle) {
    const Parsed blank = parse(" 9:05:00", 1);  // a space for the hour's zero
    EXPECT_TRUE(blank.code == 0 && blank.hour == 9 && blank.minute == 5 && blank.second == 0);
    const std::pair<const char*, int32_t> refused[] = {
        {"9:05:00", 1},  {"24:00:00", 1}, {"12:05:60", 1}, {"12-05-30", 1}, {"12:05:30 ", 1},
        {"09:05: 0", 1}, {"", 1},         {"23:5", 2},     {"0960", 2},     {" 905", 2}};
    for (const auto& [text, style] : refused) {
        const Parsed p = parse(text, style);
        EXPECT_EQ(p.code, DB_ERR_TIME) << '"' << text << "\" style " << style;
        EXPECT_EQ(p.hour, -1);  // outputs untouched on failure
    }
    EXPECT_EQ(parse("0905", 3).code, DB_ERR_COMMAND);
    EXPECT_EQ(DBIsValidTimeStr("23:60:00", 1), DB_ERR_TIME);
}

TEST_F(Time, SecondsBetweenIsSymmetricAcrossStyles) {
    EXPECT_EQ(between("10:00:00", 1, "09:59:30", 1), 30);
    EXPECT_EQ(between("09:59:30", 1, "1000", 2), 30);  // style 2 has 0 seconds
    EXPECT_EQ(between("0000", 2, "23:59:59", 1), 86399);
    EXPECT_EQ(between("1200", 3, "12:00:00", 1), DB_ERR_COMMAND);
    // The texts are read before the output is checked.
    EXPECT_EQ(DBSecondsBetweenStr(nullptr, "bad", 1, "12:00:00", 1), DB_ERR_TIME);
    EXPECT_EQ(DBSecondsBetweenStr(nullptr, "11:00:00", 1, "12:00:00", 1), DB_ERR_NULL);
}

TEST_F(Time, NowComesFromTheLocalClock) {
    int32_t h = -1, m = -1, s = -1, fraction = -1;
    ASSERT_EQ(DBGetTime3(&h, &m, &s, &fraction), 0);
    EXPECT_TRUE(fraction == 0 && h >= 0 && h <= 23 && m >= 0 && m <= 59 && s >= 0 && s <= 60);
    char text[DB_TIME_TEXT_LEN];
    ASSERT_EQ(DBGetTimeStr(text, 2), 0);
    EXPECT_EQ(DBIsValidTimeStr(text, 2), 0);

    xbdb::test::FaultHost host;
    xbdb::test::ScopedHost guard(host);
    host.fail_nth(xbdb::test::Call::local_time, 1, EIO);
    EXPECT_EQ(DBGetTime3(&h, &m, &s, &fraction), DB_ERR_TIME);
    host.fail_nth(xbdb::test::Call::local_time, 1, EIO);
    EXPECT_EQ(DBGetTimeStr(text, 1), DB_ERR_TIME);
    EXPECT_EQ(DBTime3ToStr(nullptr, 1, 0, 0, 0), DB_ERR_NULL);
    EXPECT_EQ(DBStrTimeTo3(&h, &m, &s, nullptr, 1), DB_ERR_NULL);
}
