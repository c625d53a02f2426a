// Dates inside the library: calendar rules, day numbers and the fifteen date styles.
//
// The exported C functions of calendar.cpp, date_text.cpp and date_queries.cpp are
// thin wrappers over these helpers; the field conversions of tables and the date
// keys of the indexes call the helpers directly.
//
// Two day counts live side by side:
//
//   day number     the count that callers store: the whole part of
//                  (year - 1) * 365.2425 plus the day of the year. It does not step
//                  by one per calendar day: 1800 numbers in 1..3652059 belong to
//                  two dates (31 December and the 1 January after it) and 1800 to
//                  none. It must never change, since hosts keep these numbers.
//   calendar days  the true proleptic Gregorian count, used wherever an answer
//                  depends on real days passing: weekdays and day differences.
//
// Every check that needs February's length goes through DBIsLeapYear, which
// rewrites DBdpm[2]; hosts read DBdpm and expect it to follow the year last tested.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/api.hpp"

namespace xbdb::dates {

struct Ymd {
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;

    friend bool operator==(const Ymd&, const Ymd&) = default;
};

constexpr int32_t kFirstDateStyle = 1;
constexpr int32_t kLastDateStyle = 15;
constexpr int32_t kMaxYear = 9999;
constexpr int32_t kMaxDayNumber = 3652059;  // 31 December 9999

// A date text buffer: the longest style is 10 characters, then the NUL.
constexpr std::size_t kDateTextSize = DB_DATE_TEXT_LEN;
using DateText = std::span<char, kDateTextSize>;

// ---- calendar (calendar.cpp) ----

// Days of month 1..12 of year, after the leap test for year.
int32_t days_in_month(int32_t year, int32_t month);

// Year 0..9999, month 1..12 and day 1..the month's length (runs the leap test).
bool is_valid_date(const Ymd& date);

// Days of the months before the date's month plus its day (runs the leap test).
int32_t day_of_year(const Ymd& date);

// Month and day of the day_of_year-th day of year (runs the leap test): months are
// taken off from January on. Empty when the year has fewer days. A day_of_year of 0
// or less gives day 0 or less of January, which is_valid_date turns down.
std::optional<Ymd> date_from_day_of_year(int32_t year, int32_t day_of_year);

// The stored day number of a date; exact 64-bit integer arithmetic, so that no
// product overflows and no float rounds a whole multiple down.
int32_t day_number(const Ymd& date);

// The date of a day number 1..kMaxDayNumber; of the two dates that share a number
// the later one. Empty for numbers outside the range or with no date. Touches
// neither DBerrno nor the log.
std::optional<Ymd> date_of_day_number(int32_t day_number);

// True proleptic Gregorian calendar: days since 1 January 1970, and the weekday
// with 0 for Sunday.
int64_t calendar_days(const Ymd& date);
int32_t calendar_weekday(const Ymd& date);

// Weekday of a day number in 1..kMaxDayNumber: that of its date, or, for the
// numbers that have no date, the number modulo 7.
int32_t weekday_of_day_number(int32_t day_number);

// ---- date styles (date_text.cpp) ----

bool is_date_style(int32_t style);

// Reads text in a date style. Returns 0 with the date; DB_WARN_EMPTY (also left in
// DBerrno, not logged) with a zero date when the text is blank or holds only the
// style's separators; or the logged failure: -212 for a bad style, -215 for a text
// that is not a date in the style. text needs no NUL: its length is its size.
int32_t parse_date(std::string_view text, int32_t style, Ymd& date);

// Writes the date as text in a date style, NUL-terminated. Returns 0, or the logged
// failure: -215 for an invalid date (checked first), -212 for a bad style. Nothing
// is written on failure.
int32_t format_date(DateText text, int32_t style, const Ymd& date);

// ---- text helpers shared with the time conversions ----

// The number at the start of text as strtol reads it in base 10: leading white
// space, an optional sign, then digits; no digits read as 0. Values past the 32-bit
// range stay at its ends.
int32_t leading_number(std::string_view text);

// Writes value as printf's "%0*d" would, followed by a NUL, and returns the position
// of that NUL. Nothing is written at or past end: a number without room is cut short.
char* put_number(char* at, char* end, int32_t value, int width);

}  // namespace xbdb::dates
