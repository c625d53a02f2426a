// Dates: the fifteen styles, day numbers, true-calendar weekdays and differences,
// the default style and today's date.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"
#include "xbdb.h"

namespace {

struct Parsed {
    int32_t code, year, month, day;
};

Parsed parse(const char* text, int32_t style) {
    Parsed p{0, -1, -1, -1};
    p.code = DBStrDateTo3(&p.year, &p.month, &p.day, text, style);
    return p;
}

std::string format(int32_t style, int32_t year, int32_t month, int32_t day) {
    char text[DB_DATE_TEXT_LEN] = "untouched";
    const int32_t code = DBDate3ToStr(text, style, year, month, day);
    return code == 0 ? std::string(text) : "error " + std::to_string(code);
}

int32_t days_of(int32_t year, int32_t month) {
    int32_t days = 0;
    DBDaysInMonth(&days, year, month);
    return days;
}

// Formats and re-reads the date in each style; returns the first mismatch.
std::string round_trip(std::initializer_list<int32_t> styles, int32_t y, int32_t m, int32_t d) {
    for (int32_t style : styles) {
        const std::string text = format(style, y, m, d);
        const Parsed back = parse(text.c_str(), style);
        if (back.code != 0 || back.year != y || back.month != m || back.day != d)
            return "style " + std::to_string(style) + " " + text;
    }
    return "";
}

constexpr std::initializer_list<int32_t> kFullYearStyles{2, 3, 4, 7, 9, 11, 13, 15};
constexpr std::initializer_list<int32_t> kTwoDigitStyles{1, 5, 6, 8, 10, 12, 14};

class Date : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override {
        DBErrorLog(0, nullptr);
        DBTerminate();
    }
};

using DateStyles = Date;
using DateNumbers = Date;
using DateCalendar = Date;

}  // namespace

TEST_F(DateStyles, EveryStyleWritesOneDateInItsOwnForm) {
    // 7 March 2024 is day 67 of a leap year.
    const char* expected[15] = {"03/07/24",   "03/07/2024", "2024/067", "20240307", "070324",
                                "07.03.24",   "07.03.2024", "07/03/24", "07/03/2024",
                                "07/03/24",   "07/03/2024", "07-03-24", "07-03-2024",
                                "24.03.07",   "2024.03.07"};
    for (int32_t style = 1; style <= 15; ++style)
        EXPECT_EQ(format(style, 2024, 3, 7), expected[style - 1]) << "style " << style;
    EXPECT_EQ(format(15, 5, 1, 2), "0005.01.02");
    // The date is checked before the style.
    EXPECT_EQ(format(99, 2023, 2, 29), "error -215");
    EXPECT_EQ(format(16, 2023, 2, 28), "error -212");
    EXPECT_EQ(format(4, 10000, 1, 1), "error -215");
}

TEST_F(DateStyles, FullYearStylesRoundTripFromYearOneTo9999) {
    for (int32_t y = 1; y <= 9999; ++y) {
        const int32_t m = 1 + y % 12;
        ASSERT_EQ(round_trip(kFullYearStyles, y, m, 1 + (y * 7) % days_of(y, m)), "");
        ASSERT_EQ(round_trip(kFullYearStyles, y, 12, 31), "");
        ASSERT_EQ(round_trip(kFullYearStyles, y, 2, DBIsLeapYear(y) ? 29 : 28), "");
    }
    ASSERT_EQ(round_trip(kFullYearStyles, 0, 2, 29), "");
}

TEST_F(DateStyles, TwoDigitStylesRoundTripEveryDayOf2000To2099) {
    for (int32_t y = 2000; y <= 2099; ++y)
        for (int32_t m = 1; m <= 12; ++m)
            for (int32_t d = 1; d <= days_of(y, m); ++d) ASSERT_EQ(round_trip(kTwoDigitStyles, y, m, d), "");
    // The century is not kept: 1999 comes back as 2099.
    EXPECT_EQ(parse(format(8, 1999, 12, 31).c_str(), 8).year, 2099);
}

TEST_F(DateStyles, TextsReadByTheRulesOfTheirStyle) {
    const struct { const char* text; int32_t style; int32_t ymd; } cases[] = {
        // Two-digit years are 2000 + yy, and only in the two-digit styles.
        {"12/31/99", 1, 20991231}, {"12/31/99", 2, 991231},    {"12/31/", 1, 20001231},
        {"1/2/100", 1, 1000102},   {"311299", 5, 20991231},    {"0099.12.31", 15, 991231},
        // A backslash stands for the slash in styles 1 to 3.
        {"12\\31\\99", 1, 20991231}, {"2000\\366", 3, 20001231},
        // Lengths count spaces; fixed fields read past leading spaces.
        {" 1/2/03", 1, 20030102},  {"2000 1 1", 4, 20000101},  {"29-02-2000", 13, 20000229},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.text, c.style);
        EXPECT_EQ(p.code, 0) << c.text << " style " << c.style;
        EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, c.ymd) << c.text;
    }
}

TEST_F(DateStyles, TextsOutsideTheirStyleAreRefused) {
    const struct { const char* text; int32_t style; int32_t code; } cases[] = {
        {"31\\12\\99", 8, -215},  {"  \\  \\  ", 8, -215},
        // Lengths: 6-8 for two-digit years, 8-10 for full years, 8, 8 and 6 for 3, 4, 5.
        {"1/2/3", 1, -215},       {"01/02/2003", 1, -215}, {"01/02/02003", 2, -215},
        {"2000/61", 3, -215},     {"200001011", 4, -215},  {"0101200", 5, -215},
        // Missing or foreign separators, impossible dates, unknown styles.
        {"12/312099", 2, -215},   {"31.12.2099", 13, -215}, {"19000229", 4, -215},
        {"2000/000", 3, -215},    {"00/10/2000", 2, -215},  {"12/31/-001", 2, -215},
        {"01/01/2000", 16, -212},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.text, c.style);
        EXPECT_EQ(p.code, c.code) << c.text << " style " << c.style;
        EXPECT_EQ(p.year, -1);  // outputs untouched on failure
    }
    EXPECT_EQ(DBIsValidDateStr("02/29/2000", 2), 0);
    EXPECT_EQ(DBIsValidDateStr("02/29/2001", 2), DB_ERR_DATE);
    EXPECT_EQ(DBStrDateTo3(nullptr, nullptr, nullptr, "01/01/00", 1), DB_ERR_NULL);
}

TEST_F(DateStyles, ConvertReadsOneStyleAndWritesAnotherInPlace) {
    char text[DB_DATE_TEXT_LEN] = "12/31/1999";
    EXPECT_EQ(DBConvertDateStr(text, 3, text, 2), 0);
    EXPECT_STREQ(text, "1999/365");
    EXPECT_EQ(DBConvertDateStr(text, 2, "02/30/24", 1), DB_ERR_DATE);
    EXPECT_STREQ(text, "1999/365");
}

TEST_F(DateNumbers, KnownNumbersAndTheirQuirks) {
    const struct { int32_t y, m, d, n; } known[] = {
        {1, 1, 1, 1},         {4, 12, 31, 1461},   {5, 1, 1, 1461},         {401, 1, 1, 146098},
        {2000, 1, 1, 730120}, {2001, 1, 1, 730486}, {9999, 12, 31, 3652059},
        {0, 1, 1, -364},      {0, 12, 31, 1}};  // year 0 counts from -365
    for (const auto& k : known) {
        int32_t n = 0;
        EXPECT_EQ(DBDate3ToLong(&n, k.y, k.m, k.d), 0);
        EXPECT_EQ(n, k.n) << k.y << "-" << k.m << "-" << k.d;
    }
    int32_t y = 0, m = 0, d = 0, n = 0;
    EXPECT_EQ(DBLongDateTo3(&y, &m, &d, 1461), 0);
    EXPECT_EQ(y * 10000 + m * 100 + d, 50101);
    for (int32_t bad : {1826, 3652060, 0})
        EXPECT_EQ(DBLongDateTo3(&y, &m, &d, bad), DB_ERR_DATE) << bad;
    EXPECT_EQ(DBDate3ToLong(&n, 2023, 2, 29), DB_ERR_DATE);
    char text[DB_DATE_TEXT_LEN];
    EXPECT_EQ(DBLongDateToStr(text, 4, 730120), 0);
    EXPECT_STREQ(text, "20000101");
    EXPECT_EQ(DBStrDateToLong(&n, "01/01/2000", 2), 0);
    EXPECT_EQ(n, 730120);
}

TEST_F(DateNumbers, EighteenHundredNumbersHaveTwoDatesAndEighteenHundredNone) {
    int32_t without_date = 0, shared = 0;
    for (int32_t n = 1; n <= 3652059; ++n) {
        int32_t y = 0, m = 0, d = 0, back = 0;
        if (DBLongDateTo3(&y, &m, &d, n) != 0) {
            ++without_date;
            continue;
        }
        ASSERT_EQ(DBDate3ToLong(&back, y, m, d), 0);
        ASSERT_EQ(back, n);
    }
    for (int32_t y = 1; y < 9999; ++y) {
        int32_t last = 0, first_next = 0;
        DBDate3ToLong(&last, y, 12, 31);
        DBDate3ToLong(&first_next, y + 1, 1, 1);
        shared += last == first_next;
    }
    EXPECT_EQ(without_date, 1800);
    EXPECT_EQ(shared, 1800);
}

TEST_F(DateCalendar, WeekdaysAndDifferencesFollowTheTrueCalendar) {
    const struct { const char* text; int32_t style; const char* name; } days[] = {
        {"01/01/2025", 2, "Wednesday"}, {"12/31/2024", 2, "Tuesday"}, {"0001.01.01", 15, "Monday"},
        {"9999.12.31", 15, "Friday"},   {"29.02.00", 6, "Tuesday"}};
    int32_t w = -1, days_between = -1;
    char name[DB_DAY_NAME_LEN];
    for (const auto& day : days) {
        EXPECT_EQ(DBStrDateToDayOfWeek(name, day.text, day.style), 0);
        EXPECT_STREQ(name, day.name) << day.text;
    }
    EXPECT_EQ(DBStrDateToIntDayWeek(&w, "01/01/0000", 2), DB_ERR_DATE);  // no day number
    EXPECT_EQ(DBLongDateToDayOfWeek(&w, 1461), 0);
    EXPECT_EQ(w, 6);  // read as 1 January 5, a Saturday
    EXPECT_EQ(DBLongDateToDayOfWeek(&w, 1826), 0);
    EXPECT_EQ(w, 1826 % 7);  // no date: the number's own remainder
    EXPECT_EQ(DBLongDateToDayOfWeek(&w, 3652060), DB_ERR_DATE);
    EXPECT_EQ(DBDaysBetweenStr(&days_between, "01/01/2025", 2, "12/31/2024", 2), 0);
    EXPECT_EQ(days_between, 1);  // in either order
    EXPECT_EQ(DBDaysBetweenStr(&days_between, "9999.12.31", 15, "0001.01.01", 15), 0);
    EXPECT_EQ(days_between, 3652058);
    EXPECT_EQ(DBDaysBetweenStr(&days_between, "", 2, "01/01/2025", 2), DB_ERR_DATE);

    // Day after day, the weekday moves on by one and the difference is one day.
    int32_t previous = -1;
    char text[DB_DATE_TEXT_LEN], before[DB_DATE_TEXT_LEN] = "";
    for (int32_t y = 1999; y <= 2030; ++y)
        for (int32_t m = 1; m <= 12; ++m)
            for (int32_t d = 1; d <= days_of(y, m); ++d) {
                ASSERT_EQ(DBDate3ToStr(text, 4, y, m, d), 0);
                ASSERT_EQ(DBStrDateToIntDayWeek(&w, text, 4), 0);
                if (previous >= 0) {
                    ASSERT_EQ(w, (previous + 1) % 7) << text;
                    ASSERT_EQ(DBDaysBetweenStr(&days_between, before, 4, text, 4), 0);
                    ASSERT_EQ(days_between, 1) << before << " " << text;
                }
                previous = w;
                std::strcpy(before, text);
            }
}

TEST_F(DateCalendar, LeapYearsMonthLengthsAndNames) {
    EXPECT_EQ(DBIsLeapYear(2000), 1);
    EXPECT_EQ(DBIsLeapYear(1900), 0);
    EXPECT_EQ(DBdpm[2], 28);  // rewritten by every leap test
    EXPECT_EQ(DBIsStrLeapYear("02/29/2000", 2), 1);
    EXPECT_EQ(DBdpm[2], 29);
    int32_t days = 0;
    EXPECT_EQ(DBDaysInMonthStr(&days, "10.02.23", 6), 0);
    EXPECT_EQ(days, 28);
    EXPECT_EQ(DBDaysInMonth(&days, 2024, 13), DB_ERR_DATE);
    char name[DB_DAY_NAME_LEN];
    EXPECT_EQ(DBStrDateToMonth(name, "20240307", 4), 0);
    EXPECT_STREQ(name, "March");
    EXPECT_EQ(DBMonthToStr(name, 13), DB_ERR_DATE);
    EXPECT_EQ(DBDayOfWeek(name, 7), DB_ERR_DATE);
}

TEST_F(Date, DefaultStyleIsKeptWithItsName) {
    int32_t style = 0;
    char name[DB_STYLE_NAME_LEN];
    EXPECT_EQ(DBSetDefaultDateStyle(16), DB_ERR_COMMAND);
    EXPECT_EQ(DBdate_style, 1);
    ASSERT_EQ(DBSetDefaultDateStyle(14), 0);
    ASSERT_EQ(DBGetDefaultDateStyle(&style, name), 0);
    EXPECT_EQ(style, 14);
    EXPECT_STREQ(name, "ENSI (yy.mm.dd)");
    // A host that writes a style with no name gets an error, not a stray read.
    DBdate_style = 42;
    EXPECT_EQ(DBGetDefaultDateStyle(&style, name), DB_ERR_COMMAND);
    EXPECT_STREQ(name, "");
    DBdate_style = 1;
}

TEST_F(Date, TodayComesFromTheLocalClock) {
    const auto local_today = [] {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char text[16];
        std::strftime(text, sizeof text, "%Y%m%d", &local);
        return std::string(text);
    };
    int32_t y = 0, m = 0, d = 0, w = 0, text_weekday = -1;
    const std::string before = local_today();
    ASSERT_EQ(DBGetDate3(&y, &m, &d, &w), 0);
    const std::string after = local_today();  // a run across midnight sees either day
    const std::string text = format(4, y, m, d);
    EXPECT_TRUE(text == before || text == after) << text;
    ASSERT_EQ(DBStrDateToIntDayWeek(&text_weekday, text.c_str(), 4), 0);
    EXPECT_EQ(text_weekday, w);

    xbdb::test::FaultHost host;
    xbdb::test::ScopedHost guard(host);
    host.fail_nth(xbdb::test::Call::local_time, 1, EIO);
    EXPECT_EQ(DBGetDate3(&y, &m, &d, &w), DB_ERR_DATE);
    char out[DB_DATE_TEXT_LEN];
    host.fail_nth(xbdb::test::Call::local_time, 1, EIO);
    EXPECT_EQ(DBGetDateStr(out, 4), DB_ERR_DATE);
}

TEST_F(Date, FailuresAreLoggedByEachCallerButEmptyDatesAreNot) {
    xbdb::test::ScratchDir dir;
    const std::string log = dir.file("date.log");
    DBErrorLog(1, log.c_str());
    EXPECT_EQ(DBIsValidDateStr("        ", 4), DB_WARN_EMPTY);
    EXPECT_EQ(xbdb::test::read_file(log), "");
    int32_t days = 0;
    EXPECT_EQ(DBDaysBetweenStr(&days, "02/30/2000", 2, "01/01/2000", 2), DB_ERR_DATE);
    const std::string text = xbdb::test::read_file(log);
    // The parse that found it, the helper that read the text, and the call itself.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3) << text;
    EXPECT_EQ(text.rfind("date_text.cpp\t", 0), 0u) << text;
}
