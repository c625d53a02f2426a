// Questions about dates given as day numbers or as text in a style: the text of a
// day number, the day number, weekday, month and leap year of a text, and the days
// between two texts.
//
// Weekdays and day differences are counted on the true calendar, not on day
// numbers: a day number gains a whole day roughly every fourth year-end where the
// calendar does not, so 31 December 2024 and 1 January 2025 share a number and
// "number modulo 7" would name the wrong weekday for the whole of 2025.

#include "core/api.hpp"
#include "core/failure.hpp"
#include "date/dates.hpp"

namespace xbdb::dates {

namespace {

// A text that must name a date: the empty date (year, month and day 0) does not.
int32_t read_date(const char* text, int32_t style, Ymd& date, int32_t& number) {
    if (int32_t code = parse_date(text, style, date); code < 0) return fail(code);
    if (!is_valid_date(date)) return fail(DB_ERR_DATE);
    number = day_number(date);
    DBerrno = 0;
    return 0;
}

// The weekday of a text, which must have a day number in 1..kMaxDayNumber.
int32_t read_weekday(const char* text, int32_t style, int32_t& weekday) {
    Ymd date;
    int32_t number = 0;
    if (int32_t code = read_date(text, style, date, number); code < 0) return fail(code);
    if (number < 1 || number > kMaxDayNumber) return fail(DB_ERR_DATE);
    weekday = calendar_weekday(date);
    return 0;
}

}  // namespace

}  // namespace xbdb::dates

using xbdb::fail;
using xbdb::dates::Ymd;

extern "C" int32_t DBLongDateToStr(char* text, int32_t style, int32_t day_number) {
    if (!text) return fail(DB_ERR_NULL);
    int32_t year = 0, month = 0, day = 0;
    if (int32_t code = DBLongDateTo3(&year, &month, &day, day_number); code < 0)
        return fail(code);
    const int32_t code = DBDate3ToStr(text, style, year, month, day);
    return code < 0 ? fail(code) : code;
}

extern "C" int32_t DBStrDateToLong(int32_t* day_number, const char* text, int32_t style) {
    if (!day_number || !text) return fail(DB_ERR_NULL);
    Ymd date;
    return xbdb::dates::read_date(text, style, date, *day_number);
}

extern "C" int32_t DBStrDateToIntDayWeek(int32_t* weekday, const char* text, int32_t style) {
    if (!weekday || !text) return fail(DB_ERR_NULL);
    return xbdb::dates::read_weekday(text, style, *weekday);
}

extern "C" int32_t DBStrDateToDayOfWeek(char* day_name, const char* text, int32_t style) {
    if (!day_name || !text) return fail(DB_ERR_NULL);
    int32_t weekday = 0;
    if (int32_t code = xbdb::dates::read_weekday(text, style, weekday); code < 0)
        return fail(code);
    return DBDayOfWeek(day_name, weekday);
}

extern "C" int32_t DBStrDateToMonth(char* month_name, const char* text, int32_t style) {
    if (!month_name || !text) return fail(DB_ERR_NULL);
    Ymd date;
    if (int32_t code = xbdb::dates::parse_date(text, style, date); code < 0) return fail(code);
    const int32_t code = DBMonthToStr(month_name, date.month);
    return code < 0 ? fail(code) : code;
}

extern "C" int32_t DBDaysBetweenStr(int32_t* days, const char* text1, int32_t style1,
                                    const char* text2, int32_t style2) {
    if (!days || !text1 || !text2) return fail(DB_ERR_NULL);
    Ymd first, second;
    int32_t unused = 0;
    if (int32_t code = xbdb::dates::read_date(text1, style1, first, unused); code < 0)
        return fail(code);
    if (int32_t code = xbdb::dates::read_date(text2, style2, second, unused); code < 0)
        return fail(code);
    const int64_t between =
        xbdb::dates::calendar_days(first) - xbdb::dates::calendar_days(second);
    *days = static_cast<int32_t>(between < 0 ? -between : between);
    return 0;
}

extern "C" int32_t DBIsStrLeapYear(const char* text, int32_t style) {
    if (!text) return fail(DB_ERR_NULL);
    Ymd date;
    if (int32_t code = xbdb::dates::parse_date(text, style, date); code < 0) return fail(code);
    return DBIsLeapYear(date.year);
}

extern "C" int32_t DBDaysInMonthStr(int32_t* days, const char* text, int32_t style) {
    if (!days || !text) return fail(DB_ERR_NULL);
    Ymd date;
    if (int32_t code = xbdb::dates::parse_date(text, style, date); code < 0) return fail(code);
    const int32_t code = DBDaysInMonth(days, date.year, date.month);
    return code < 0 ? fail(code) : code;
}
