// The fifteen date styles: dates to text and back, the default style and today's
// date.
//
// A style is a row of kStyles: the pieces its text shows in order, each with its
// printed width, the separator between them (none for the two fixed-position
// styles), the text lengths a reader accepts and whether a backslash may stand for
// the slash. A year piece two digits wide marks a two-digit-year style: the year is
// printed modulo 100, and a year of 0..99 is read as 2000 plus that year. Styles
// that keep the full year never move a year, so "12/31/99" in mm/dd/yyyy is year 99.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "date/dates.hpp"
#include "os/host.hpp"

const char* const vk_styles[15] = {
    "Gregorian (mm/dd/yy)", "Gregorian (mm/dd/yyyy)", "Julian (yyyy/ddd)",
    "dBASE (yyyymmdd)",     "DMY (ddmmyy)",           "German (dd.mm.yy)",
    "German (dd.mm.yyyy)",  "British (dd/mm/yy)",     "British (dd/mm/yyyy)",
    "French (dd/mm/yy)",    "French (dd/mm/yyyy)",    "Italian (dd-mm-yy)",
    "Italian (dd-mm-yyyy)", "ENSI (yy.mm.dd)",        "ENSI (yyyy.mm.dd)",
};

namespace xbdb::dates {

namespace {

enum class Field : uint8_t { month, day, year, day_of_year };

struct Piece {
    Field field;
    uint8_t width;  // printed width, zero-padded; fixed styles read exactly this many
};

struct DateStyle {
    std::array<Piece, 3> pieces;  // in the order the text shows them
    uint8_t piece_count;
    char separator;               // '\0': fixed positions, no separators
    uint8_t min_length;           // accepted text lengths, spaces included
    uint8_t max_length;
    bool backslash_is_slash;      // "12\31\99" reads as "12/31/99"
};

constexpr Piece MM{Field::month, 2};
constexpr Piece DD{Field::day, 2};
constexpr Piece YY{Field::year, 2};
constexpr Piece YYYY{Field::year, 4};
constexpr Piece DDD{Field::day_of_year, 3};
constexpr Piece None{Field::day, 0};

constexpr std::array<DateStyle, 15> kStyles{{
    {{MM, DD, YY}, 3, '/', 6, 8, true},        //  1 mm/dd/yy
    {{MM, DD, YYYY}, 3, '/', 8, 10, true},     //  2 mm/dd/yyyy
    {{YYYY, DDD, None}, 2, '/', 8, 8, true},   //  3 yyyy/ddd
    {{YYYY, MM, DD}, 3, '\0', 8, 8, false},    //  4 yyyymmdd, the DBF storage form
    {{DD, MM, YY}, 3, '\0', 6, 6, false},      //  5 ddmmyy
    {{DD, MM, YY}, 3, '.', 6, 8, false},       //  6 dd.mm.yy
    {{DD, MM, YYYY}, 3, '.', 8, 10, false},    //  7 dd.mm.yyyy
    {{DD, MM, YY}, 3, '/', 6, 8, false},       //  8 dd/mm/yy
    {{DD, MM, YYYY}, 3, '/', 8, 10, false},    //  9 dd/mm/yyyy
    {{DD, MM, YY}, 3, '/', 6, 8, false},       // 10 dd/mm/yy, as 8
    {{DD, MM, YYYY}, 3, '/', 8, 10, false},    // 11 dd/mm/yyyy, as 9
    {{DD, MM, YY}, 3, '-', 6, 8, false},       // 12 dd-mm-yy
    {{DD, MM, YYYY}, 3, '-', 8, 10, false},    // 13 dd-mm-yyyy
    {{YY, MM, DD}, 3, '.', 6, 8, false},       // 14 yy.mm.dd
    {{YYYY, MM, DD}, 3, '.', 8, 10, false},    // 15 yyyy.mm.dd
}};

// The longest text any style accepts.
constexpr std::size_t kMaxTextLength = 10;

const DateStyle& style_row(int32_t style) { return kStyles[static_cast<std::size_t>(style - 1)]; }

bool is_blank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

enum class Split { ok, only_separators, malformed };

using Pieces = std::array<std::string_view, 3>;

// Separated styles: spaces are dropped (and, where the style allows it, a backslash
// becomes a slash), then the text is cut at its first separator and at the next one
// after it. A text of nothing but the separators is an empty date.
Split split_separated(std::string_view text, const DateStyle& row, Pieces& pieces,
                      std::array<char, kMaxTextLength>& kept) {
    std::size_t size = 0;
    for (char c : text) {
        if (c == ' ') continue;
        kept[size++] = (c == '\\' && row.backslash_is_slash) ? '/' : c;
    }
    std::string_view rest(kept.data(), size);
    if (rest.size() == row.piece_count - 1u &&
        rest.find_first_not_of(row.separator) == std::string_view::npos)
        return Split::only_separators;
    for (std::size_t i = 0; i + 1 < row.piece_count; ++i) {
        const std::size_t at = rest.find(row.separator);
        if (at == std::string_view::npos) return Split::malformed;
        pieces[i] = rest.substr(0, at);
        rest.remove_prefix(at + 1);
    }
    pieces[row.piece_count - 1u] = rest;
    return Split::ok;
}

// Fixed-position styles: each piece is exactly its width of the text, spaces kept.
void split_fixed(std::string_view text, const DateStyle& row, Pieces& pieces) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < row.piece_count; ++i) {
        pieces[i] = text.substr(at, row.pieces[i].width);
        at += row.pieces[i].width;
    }
}

int32_t empty_date(Ymd& date) {
    date = Ymd{};
    DBerrno = DB_WARN_EMPTY;
    return DB_WARN_EMPTY;
}

// A year read from a two-digit field: 0..99 are this century's years. Other values
// are left as read, for the date check to judge.
int32_t year_read(int32_t value, Piece piece) {
    return piece.width == 2 && value >= 0 && value <= 99 ? 2000 + value : value;
}

// Turns the pieces' numbers into a date: fields by the style's order, a day of the
// year into month and day, and a two-digit year into 2000 plus it.
std::optional<Ymd> assemble(const DateStyle& row, const Pieces& pieces) {
    Ymd date;
    std::optional<int32_t> day_of_year;
    for (std::size_t i = 0; i < row.piece_count; ++i) {
        const int32_t value = leading_number(pieces[i]);
        switch (row.pieces[i].field) {
            case Field::month: date.month = value; break;
            case Field::day: date.day = value; break;
            case Field::year: date.year = year_read(value, row.pieces[i]); break;
            case Field::day_of_year: day_of_year = value; break;
        }
    }
    if (day_of_year) return date_from_day_of_year(date.year, *day_of_year);
    return date;
}

int32_t field_value(const Ymd& date, Piece piece) {
    switch (piece.field) {
        case Field::month: return date.month;
        case Field::day: return date.day;
        case Field::year: return piece.width == 2 ? date.year % 100 : date.year;
        case Field::day_of_year: return dates::day_of_year(date);
    }
    return 0;
}

}  // namespace

bool is_date_style(int32_t style) { return style >= kFirstDateStyle && style <= kLastDateStyle; }

int32_t parse_date(std::string_view text, int32_t style, Ymd& date) {
    if (is_blank(text)) return empty_date(date);
    if (!is_date_style(style)) return fail(DB_ERR_COMMAND);
    const DateStyle& row = style_row(style);
    if (text.size() < row.min_length || text.size() > row.max_length) return fail(DB_ERR_DATE);

    Pieces pieces;
    std::array<char, kMaxTextLength> kept{};  // the pieces of a separated text point here
    if (row.separator == '\0') {
        split_fixed(text, row, pieces);
    } else {
        const Split split = split_separated(text, row, pieces, kept);
        if (split == Split::only_separators) return empty_date(date);
        if (split == Split::malformed) return fail(DB_ERR_DATE);
    }
    const std::optional<Ymd> read = assemble(row, pieces);
    if (!read || !is_valid_date(*read)) return fail(DB_ERR_DATE);
    date = *read;
    DBerrno = 0;
    return 0;
}

int32_t format_date(DateText text, int32_t style, const Ymd& date) {
    if (!is_valid_date(date)) return fail(DB_ERR_DATE);
    if (!is_date_style(style)) return fail(DB_ERR_COMMAND);
    const DateStyle& row = style_row(style);
    char* at = text.data();
    char* const end = at + text.size();
    for (std::size_t i = 0; i < row.piece_count; ++i) {
        if (i > 0 && row.separator != '\0') *at++ = row.separator;
        at = put_number(at, end, field_value(date, row.pieces[i]), row.pieces[i].width);
    }
    DBerrno = 0;
    return 0;
}

int32_t leading_number(std::string_view text) {
    constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";
    std::size_t i = std::min(text.find_first_not_of(kWhiteSpace), text.size());
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
    return static_cast<int32_t>(negative ? -value : value);
}

// The text of printf's "%0*d" (a minus sign, then the digits zero-padded so that
// sign and digits fill width), stored as snprintf stores it: cut to the room before
// end, always terminated. Returns where the text ends. Done by hand: dates are
// shown once per field read, and the formatted-output machinery costs more than the
// rest of a field read together.
char* put_number(char* at, char* end, int32_t value, int width) {
    if (at >= end) return at;
    char digits[10];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    char* const last = end - 1;  // the terminator's place
    auto emit = [&](char c) {
        if (at < last) *at++ = c;
    };
    if (value < 0) emit('-');
    for (int pad = width - n - (value < 0 ? 1 : 0); pad > 0; --pad) emit('0');
    while (n > 0) emit(digits[--n]);
    *at = '\0';
    return at;
}

}  // namespace xbdb::dates

using xbdb::fail;
using xbdb::dates::DateText;
using xbdb::dates::Ymd;

extern "C" int32_t DBDate3ToStr(char* text, int32_t style, int32_t year, int32_t month,
                                int32_t day) {
    if (!text) return fail(DB_ERR_NULL);
    return xbdb::dates::format_date(DateText(text, xbdb::dates::kDateTextSize), style,
                                    Ymd{year, month, day});
}

extern "C" int32_t DBStrDateTo3(int32_t* year, int32_t* month, int32_t* day, const char* text,
                                int32_t style) {
    if (!year || !month || !day || !text) return fail(DB_ERR_NULL);
    Ymd date;
    const int32_t code = xbdb::dates::parse_date(text, style, date);
    if (code < 0) return code;
    *year = date.year;
    *month = date.month;
    *day = date.day;
    return code;
}

extern "C" int32_t DBIsValidDateStr(const char* text, int32_t style) {
    int32_t year = 0, month = 0, day = 0;
    const int32_t code = DBStrDateTo3(&year, &month, &day, text, style);
    return code < 0 ? fail(code) : code;
}

extern "C" int32_t DBConvertDateStr(char* out_text, int32_t out_style, const char* in_text,
                                    int32_t in_style) {
    if (!out_text || !in_text) return fail(DB_ERR_NULL);
    // The input is read completely before the output is written, so both may be
    // the same buffer.
    Ymd date;
    if (int32_t code = xbdb::dates::parse_date(in_text, in_style, date); code < 0)
        return fail(code);
    const int32_t code =
        xbdb::dates::format_date(DateText(out_text, xbdb::dates::kDateTextSize), out_style, date);
    return code < 0 ? fail(code) : code;
}

extern "C" int32_t DBSetDefaultDateStyle(int32_t style) {
    if (!xbdb::dates::is_date_style(style)) return fail(DB_ERR_COMMAND);
    DBdate_style = style;
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBGetDefaultDateStyle(int32_t* style, char* style_name) {
    if (!style || !style_name) return fail(DB_ERR_NULL);
    *style = DBdate_style;
    // Hosts may write DBdate_style directly; a value without a name is refused
    // rather than read past the name table.
    if (!xbdb::dates::is_date_style(DBdate_style)) {
        style_name[0] = '\0';
        return fail(DB_ERR_COMMAND);
    }
    std::strcpy(style_name, vk_styles[DBdate_style - 1]);
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBGetDate3(int32_t* year, int32_t* month, int32_t* day, int32_t* weekday) {
    if (!year || !month || !day || !weekday) return fail(DB_ERR_NULL);
    std::tm now{};
    if (!xbdb::os::host().local_time(now)) return fail(DB_ERR_DATE);
    *year = now.tm_year + 1900;
    *month = now.tm_mon + 1;
    *day = now.tm_mday;
    *weekday = now.tm_wday;
    DBerrno = 0;
    return 0;
}

extern "C" int32_t DBGetDateStr(char* text, int32_t style) {
    if (!text) return fail(DB_ERR_NULL);
    int32_t year = 0, month = 0, day = 0, weekday = 0;
    if (int32_t code = DBGetDate3(&year, &month, &day, &weekday); code < 0) return fail(code);
    const int32_t code = DBDate3ToStr(text, style, year, month, day);
    return code < 0 ? fail(code) : code;
}
