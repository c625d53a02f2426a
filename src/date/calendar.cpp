// Calendar rules: leap years, month lengths, day numbers both ways, weekdays and
// the day and month names.
#include <chrono>
#include <cstring>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "date/dates.hpp"

// Days per month, indexed by month 1..12; entry 0 is unused. DBIsLeapYear rewrites
// February's entry for the year it tests, so the table always describes the year
// most recently tested, and every computation that reads February tests its year
// first.
int8_t DBdpm[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

const char* const vk_daystr[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                  "Thursday", "Friday", "Saturday"};

const char* const vk_monstr[12] = {"January", "February", "March",     "April",
                                   "May",     "June",     "July",      "August",
                                   "September", "October", "November", "December"};

namespace xbdb::dates {

namespace {

// The day number counts (year - 1) * 365.2425 whole days before a year, written as
// a fraction so that integer arithmetic gives the exact whole part.
constexpr int64_t kYearNumerator = 3652425;
constexpr int64_t kYearDenominator = 10000;

constexpr int32_t kDaysPerWeek = 7;

std::chrono::sys_days as_sys_days(const Ymd& date) {
    using namespace std::chrono;
    return sys_days{year{date.year} / month{static_cast<unsigned>(date.month)} /
                    day{static_cast<unsigned>(date.day)}};
}

}  // namespace

int32_t days_in_month(int32_t year, int32_t month) {
    DBIsLeapYear(year);
    return DBdpm[month];
}

bool is_valid_date(const Ymd& date) {
    DBIsLeapYear(date.year);
    if (date.year < 0 || date.year > kMaxYear) return false;
    if (date.month < 1 || date.month > 12) return false;
    return date.day >= 1 && date.day <= DBdpm[date.month];
}

int32_t day_of_year(const Ymd& date) {
    DBIsLeapYear(date.year);
    int32_t days = date.day;
    for (int32_t m = 1; m < date.month && m <= 12; ++m) days += DBdpm[m];
    return days;
}

std::optional<Ymd> date_from_day_of_year(int32_t year, int32_t day_of_year) {
    DBIsLeapYear(year);
    int32_t month = 1;
    while (month <= 12 && day_of_year > DBdpm[month]) day_of_year -= DBdpm[month++];
    if (month > 12) return std::nullopt;
    return Ymd{year, month, day_of_year};
}

int32_t day_number(const Ymd& date) {
    // Division truncates toward zero, which gives -365 for year 0 as the count
    // requires.
    const int64_t before = (int64_t{date.year} - 1) * kYearNumerator / kYearDenominator;
    return static_cast<int32_t>(before + day_of_year(date));
}

std::optional<Ymd> date_of_day_number(int32_t number) {
    if (number < 1 || number > kMaxDayNumber) return std::nullopt;
    const int64_t whole_years = int64_t{number} * kYearDenominator / kYearNumerator;
    const int64_t rest = number - whole_years * kYearNumerator / kYearDenominator;
    const auto year = static_cast<int32_t>(whole_years);
    if (rest == 0) return Ymd{year, 12, 31};
    // The numbers that have no date leave a rest past the year's last day.
    return date_from_day_of_year(year + 1, static_cast<int32_t>(rest));
}

int64_t calendar_days(const Ymd& date) {
    return static_cast<int64_t>(as_sys_days(date).time_since_epoch().count());
}

int32_t calendar_weekday(const Ymd& date) {
    return static_cast<int32_t>(std::chrono::weekday{as_sys_days(date)}.c_encoding());
}

int32_t weekday_of_day_number(int32_t number) {
    if (std::optional<Ymd> date = date_of_day_number(number)) return calendar_weekday(*date);
    return number % kDaysPerWeek;
}

}  // namespace xbdb::dates

using xbdb::fail;
using xbdb::dates::Ymd;

extern "C" int32_t DBIsLeapYear(int32_t year) {
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    DBdpm[2] = leap ? 29 : 28;
    return leap ? 1 : 0;
}

extern "C" int32_t DBDaysInMonth(int32_t* days, int32_t year, int32_t month) {
    if (!days) return fail(DB_ERR_NULL);
    if (year < 1 || year > xbdb::dates::kMaxYear || month < 1 || month > 12)
        return fail(DB_ERR_DATE);
    *days = xbdb::dates::days_in_month(year, month);
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBDate3ToLong(int32_t* day_number, int32_t year, int32_t month,
                                 int32_t day) {
    if (!day_number) return fail(DB_ERR_NULL);
    const Ymd date{year, month, day};
    if (!xbdb::dates::is_valid_date(date)) return fail(DB_ERR_DATE);
    *day_number = xbdb::dates::day_number(date);
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBLongDateTo3(int32_t* year, int32_t* month, int32_t* day,
                                 int32_t day_number) {
    if (!year || !month || !day) return fail(DB_ERR_NULL);
    const std::optional<Ymd> date = xbdb::dates::date_of_day_number(day_number);
    if (!date) return fail(DB_ERR_DATE);
    *year = date->year;
    *month = date->month;
    *day = date->day;
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBLongDateToDayOfWeek(int32_t* weekday, int32_t day_number) {
    if (!weekday) return fail(DB_ERR_NULL);
    if (day_number < 1 || day_number > xbdb::dates::kMaxDayNumber) return fail(DB_ERR_DATE);
    *weekday = xbdb::dates::weekday_of_day_number(day_number);
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBDayOfWeek(char* day_name, int32_t weekday) {
    if (!day_name) return fail(DB_ERR_NULL);
    if (weekday < 0 || weekday > 6) return fail(DB_ERR_DATE);
    std::strcpy(day_name, vk_daystr[weekday]);
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBMonthToStr(char* month_name, int32_t month) {
    if (!month_name) return fail(DB_ERR_NULL);
    if (month < 1 || month > 12) return fail(DB_ERR_DATE);
    std::strcpy(month_name, vk_monstr[month - 1]);
    DBerrno = 0;
    return 0;
}
