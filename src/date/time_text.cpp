// Times of day: hour, minute and second to text and back, the current local time
// and the seconds between two time texts.
//
// Two time styles, one row each in kTimeStyles:
//
//   style  text      length  fields
//     1    hh:mm:ss     8    hour, minute, second; a space may stand for the
//                            hour's leading zero (" 9:05:00")
//     2    hhmm         4    hour, minute; the second is 0
//
// A text is read only in its exact canonical form: the numbers read from it are
// printed again and must give back the text, so "9:05:00" or "12:5:30 " are refused.
#include <array>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <span>
#include <string_view>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "date/dates.hpp"
#include "os/host.hpp"

namespace xbdb::dates {

namespace {

struct TimeStyle {
    uint8_t length;        // the exact length of a text in this style
    uint8_t field_count;   // hour and minute, and the second when 3
    char separator;        // '\0': two-digit fields at fixed positions
    bool blank_hour_zero;  // a space may stand for the hour's leading zero
};

constexpr std::array<TimeStyle, 2> kTimeStyles{{
    {8, 3, ':', true},    // 1 hh:mm:ss
    {4, 2, '\0', false},  // 2 hhmm
}};

constexpr int kFieldWidth = 2;

// Room for three fields of any 32-bit value, two separators and the NUL.
constexpr std::size_t kPrintRoom = 40;

struct Hms {
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
};

const TimeStyle* time_style(int32_t style) {
    if (style < 1 || style > static_cast<int32_t>(kTimeStyles.size())) return nullptr;
    return &kTimeStyles[static_cast<std::size_t>(style - 1)];
}

bool in_range(const Hms& t) {
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 &&
           t.second <= 59;
}

// Prints the style's fields of t, each as "%02d", NUL-terminated; returns the length.
std::size_t print_time(std::span<char> out, const TimeStyle& row, const Hms& t) {
    const std::array<int32_t, 3> fields{t.hour, t.minute, t.second};
    char* at = out.data();
    char* const end = at + out.size();
    for (std::size_t i = 0; i < row.field_count; ++i) {
        if (i > 0 && row.separator != '\0' && at + 1 < end) *at++ = row.separator;
        at = put_number(at, end, fields[i], kFieldWidth);
    }
    return static_cast<std::size_t>(at - out.data());
}

// hh:mm:ss: the first colon ends the hour, a colon within the next five characters
// ends the minute, and the rest is the second.
std::optional<Hms> split_separated(std::string_view text, char separator) {
    const std::size_t first = text.find(separator);
    if (first == std::string_view::npos) return std::nullopt;
    const std::string_view after = text.substr(first + 1);
    const std::size_t second = after.substr(0, 5).find(separator);
    if (second == std::string_view::npos) return std::nullopt;
    return Hms{leading_number(text.substr(0, first)), leading_number(after.substr(0, second)),
               leading_number(after.substr(second + 1))};
}

Hms split_fixed(std::string_view text) {
    return Hms{leading_number(text.substr(0, kFieldWidth)),
               leading_number(text.substr(kFieldWidth, kFieldWidth)), 0};
}

// The text is exactly what printing its own numbers gives, allowing a space for
// the hour's leading zero where the style does.
bool is_canonical(std::string_view text, const TimeStyle& row, const Hms& t) {
    std::array<char, kPrintRoom> printed{};
    const std::size_t length = print_time(printed, row, t);
    if (row.blank_hour_zero && !text.empty() && text[0] == ' ') printed[0] = ' ';
    return text == std::string_view(printed.data(), length);
}

int32_t parse_time(std::string_view text, int32_t style, Hms& out) {
    const TimeStyle* row = time_style(style);
    if (!row) return fail(DB_ERR_COMMAND);
    if (text.size() != row->length) return fail(DB_ERR_TIME);
    std::optional<Hms> read =
        row->separator != '\0' ? split_separated(text, row->separator) : split_fixed(text);
    if (!read || !is_canonical(text, *row, *read) || !in_range(*read)) return fail(DB_ERR_TIME);
    out = *read;
    DBerrno = 0;
    return 0;
}

int32_t seconds_of_day(const Hms& t) { return t.hour * 3600 + t.minute * 60 + t.second; }

}  // namespace

}  // namespace xbdb::dates

using xbdb::fail;

extern "C" int32_t DBTime3ToStr(char* text, int32_t style, int32_t hour, int32_t minute,
                                int32_t second) {
    using namespace xbdb::dates;
    if (!text) return fail(DB_ERR_NULL);
    const Hms time{hour, minute, second};
    if (!in_range(time)) return fail(DB_ERR_TIME);
    const TimeStyle* row = time_style(style);
    if (!row) return fail(DB_ERR_COMMAND);
    print_time(std::span<char>(text, DB_TIME_TEXT_LEN), *row, time);
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBStrTimeTo3(int32_t* hour, int32_t* minute, int32_t* second,
                                const char* text, int32_t style) {
    if (!hour || !minute || !second || !text) return fail(DB_ERR_NULL);
    xbdb::dates::Hms time;
    if (int32_t code = xbdb::dates::parse_time(text, style, time); code < 0) return code;
    *hour = time.hour;
    *minute = time.minute;
    *second = time.second;
    return 0;
}

extern "C" int32_t DBIsValidTimeStr(const char* text, int32_t style) {
    int32_t hour = 0, minute = 0, second = 0;
    const int32_t code = DBStrTimeTo3(&hour, &minute, &second, text, style);
    return code < 0 ? fail(code) : code;
}

extern "C" int32_t DBGetTime3(int32_t* hour, int32_t* minute, int32_t* second,
                              int32_t* fraction) {
    if (!hour || !minute || !second || !fraction) return fail(DB_ERR_NULL);
    std::tm now{};
    if (!xbdb::os::host().local_time(now)) return fail(DB_ERR_TIME);
    *hour = now.tm_hour;
    *minute = now.tm_min;
    *second = now.tm_sec;
    *fraction = 0;
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBGetTimeStr(char* text, int32_t style) {
    if (!text) return fail(DB_ERR_NULL);
    int32_t hour = 0, minute = 0, second = 0, fraction = 0;
    if (int32_t code = DBGetTime3(&hour, &minute, &second, &fraction); code < 0) return fail(code);
    const int32_t code = DBTime3ToStr(text, style, hour, minute, second);
    return code < 0 ? fail(code) : code;
}

extern "C" int32_t DBSecondsBetweenStr(int32_t* seconds, const char* text1, int32_t style1,
                                       const char* text2, int32_t style2) {
    using namespace xbdb::dates;
    if (!text1 || !text2) return fail(DB_ERR_NULL);
    Hms first, second;
    if (int32_t code = parse_time(text1, style1, first); code < 0) return fail(code);
    if (int32_t code = parse_time(text2, style2, second); code < 0) return fail(code);
    if (!seconds) return fail(DB_ERR_NULL);
    *seconds = std::abs(seconds_of_day(first) - seconds_of_day(second));
    return 0;
}
