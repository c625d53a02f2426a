// Field access: conversion between a field's bytes in the record buffer and the
// value forms of a C caller.
//
// A record holds every field as bytes of the field's width (record layout in
// table.hpp). The caller's value form is named by a conversion code: the field's
// own type for the typed calls, 'C' for the text calls. One row of kConversions per
// code gives the size of the value form and the two conversions:
//
//   code         value form        field bytes
//   1, 2         int16_t           the first 2 bytes as they are
//   3, 4, 11     int32_t           the first 4 bytes as they are
//   13           8 bytes           the first 8 bytes as they are
//   I            int32_t           4 bytes little-endian
//   C            char[width + 1]   the text itself, blank-padded on put
//   D            char[11]          yyyymmdd, shown in the default date style
//   F, N         double            right-aligned text printed with the decimals
//   B            double            as N; in dialect 10 a width-8 field holds the
//                                  little-endian IEEE double itself
//   L            char              T or F, a blank for unknown
//   M            int32_t           the memo block number right-aligned as text; in
//                                  dialect 10 as 4 bytes little-endian
//   T, Y         uint32_t[2]       each 32-bit word with its bytes reversed
//
// Nothing here touches the file: a get reads the record last read into the buffer
// and a put changes only the buffer.

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <string_view>

#include "core/failure.hpp"
#include "date/dates.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr char kBlank = ' ';
constexpr int kBinaryDialect = 10;      // 0x30 tables: binary memo numbers and B fields
constexpr std::size_t kWorkSize = 256;  // the longest text a length byte allows, and its NUL
constexpr std::size_t kStoredDate = 8;  // yyyymmdd

// The field being converted: its descriptor, its bytes in the record buffer and the
// dialect of its table.
struct FieldView {
    const Field* field;
    std::span<char> bytes;
    int dialect;

    std::size_t width() const { return bytes.size(); }
    char type() const { return field->type; }
};

// Copies at most n bytes into the field, never past its width.
void store(const FieldView& v, const void* from, std::size_t n) {
    std::memcpy(v.bytes.data(), from, std::min(v.width(), n));
}

// Reads at most n bytes of the field into a zeroed value of n bytes.
void load(const FieldView& v, void* to, std::size_t n) {
    std::memset(to, 0, n);
    std::memcpy(to, v.bytes.data(), std::min(v.width(), n));
}

void fill_blank(const FieldView& v) { std::fill(v.bytes.begin(), v.bytes.end(), kBlank); }

// The blank test of a get: width above 0 and every byte blank, where blank is a
// zero byte for B fields and a space for every other type.
bool is_blank_for_get(const FieldView& v) {
    const char blank = v.type() == 'B' ? '\0' : kBlank;
    return !v.bytes.empty() && std::ranges::all_of(v.bytes, [blank](char c) { return c == blank; });
}

// The field's text, NUL-terminated, cut to the work buffer.
void field_text(const FieldView& v, char (&work)[kWorkSize]) {
    const std::size_t n = std::min(v.width(), kWorkSize - 1);
    std::memcpy(work, v.bytes.data(), n);
    work[n] = '\0';
}

// T and Y values keep each of their two 32-bit words with the bytes reversed.
void reverse_words(uint8_t (&value)[8]) {
    std::reverse(value, value + 4);
    std::reverse(value + 4, value + 8);
}

// ---- fixed-width binary fields -------------------------------------------------------

template <std::size_t N>
int32_t get_raw(const FieldView& v, void* out, bool blank) {
    uint8_t value[N] = {};
    if (!blank) load(v, value, N);
    std::memcpy(out, value, N);
    return 0;
}

template <std::size_t N>
int32_t put_raw(const FieldView& v, const void* in) {
    store(v, in, N);
    return 0;
}

int32_t get_int32(const FieldView& v, void* out, bool blank) {
    uint8_t le[4] = {};
    if (!blank) load(v, le, sizeof le);
    const auto value = static_cast<int32_t>(le32(le));
    std::memcpy(out, &value, sizeof value);
    return 0;
}

int32_t put_int32(const FieldView& v, const void* in) {
    int32_t value;
    std::memcpy(&value, in, sizeof value);
    uint8_t le[4];
    put_le32(le, static_cast<uint32_t>(value));
    store(v, le, sizeof le);
    return 0;
}

int32_t get_words(const FieldView& v, void* out, bool blank) {
    uint8_t value[8] = {};
    if (!blank) load(v, value, sizeof value);
    reverse_words(value);
    std::memcpy(out, value, sizeof value);
    return 0;
}

// The caller's value is reversed in a copy: putting the same value twice stores the
// same bytes twice.
int32_t put_words(const FieldView& v, const void* in) {
    uint8_t value[8];
    std::memcpy(value, in, sizeof value);
    reverse_words(value);
    store(v, value, sizeof value);
    return 0;
}

// ---- text ----------------------------------------------------------------------------

int32_t get_text(const FieldView& v, void* out, bool) {
    auto* text = static_cast<char*>(out);
    std::memcpy(text, v.bytes.data(), v.width());
    text[v.width()] = '\0';
    if (v.type() == 'T' && v.width() >= 8) {
        uint8_t words[8];
        std::memcpy(words, text, sizeof words);
        reverse_words(words);
        std::memcpy(text, words, sizeof words);
    }
    return 0;
}

// Only width + 1 characters of the text are looked at: enough to tell that it is cut.
int32_t put_text(const FieldView& v, const void* in) {
    const auto* text = static_cast<const char*>(in);
    const std::size_t length = strnlen(text, v.width() + 1);
    fill_blank(v);
    store(v, text, length);
    return length > v.width() ? DB_WARN_TRUNCATED : 0;
}

// ---- dates ---------------------------------------------------------------------------

// What a blank date field reads as, by date style 1..15.
constexpr const char* kEmptyDates[] = {
    "  /  /  ",    // 1  mm/dd/yy
    "  /  /    ",  // 2  mm/dd/yyyy
    "    /   ",    // 3  yyyy/ddd
    "        ",    // 4  yyyymmdd
    "      ",      // 5  yymmdd
    "  .  .  ",    // 6
    "  .  .    ",  // 7  dd.mm.yyyy
    "  /  /  ",    // 8
    "  /  /    ",  // 9
    "  /  /  ",    // 10
    "  /  /    ",  // 11
    "  -  -  ",    // 12
    "  -  -    ",  // 13
    "  .  .  ",    // 14
    "    .  .  ",  // 15
};
constexpr int32_t kStoredDateStyle = 4;

void write_empty_date(char* text) {
    if (DBdate_style < 1 || DBdate_style > static_cast<int32_t>(std::size(kEmptyDates))) return;
    const char* picture = kEmptyDates[DBdate_style - 1];
    std::memcpy(text, picture, std::strlen(picture) + 1);
}

// The common stored form, eight digits making a valid date, read without the
// general parse (which gives the same numbers for it); any other text takes the
// general parse, which also reports what is wrong with it.
bool stored_date_digits(const char* text, int32_t& year, int32_t& month, int32_t& day) {
    int32_t d[kStoredDate];
    for (std::size_t i = 0; i < kStoredDate; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        d[i] = text[i] - '0';
    }
    const dates::Ymd date{d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3], d[4] * 10 + d[5], d[6] * 10 + d[7]};
    if (!dates::is_valid_date(date)) return false;
    year = date.year;
    month = date.month;
    day = date.day;
    DBerrno = 0;
    return true;
}

// The field's first 8 bytes are read as yyyymmdd (a narrower foreign field is
// blank-padded) and shown in the default style. On a failure the output keeps the
// stored text.
int32_t get_date(const FieldView& v, void* out, bool blank) {
    auto* text = static_cast<char*>(out);
    if (blank) {
        write_empty_date(text);
        return 0;
    }
    const std::size_t n = std::min(v.width(), kStoredDate);
    std::memcpy(text, v.bytes.data(), n);
    std::memset(text + n, kBlank, kStoredDate - n);
    text[kStoredDate] = '\0';
    int32_t year = 0, month = 0, day = 0;
    const int32_t parsed = stored_date_digits(text, year, month, day)
                               ? 0
                               : DBStrDateTo3(&year, &month, &day, text, kStoredDateStyle);
    if (parsed < 0) return fail(parsed);
    if (parsed == DB_WARN_EMPTY) {
        write_empty_date(text);
        return DB_WARN_FIELD_EMPTY;
    }
    char shown[DB_DATE_TEXT_LEN];
    if (int32_t code = DBDate3ToStr(shown, DBdate_style, year, month, day); code < 0) return fail(code);
    std::memcpy(text, shown, sizeof shown);
    return 0;
}

bool only_blanks(std::string_view text) {
    return !text.empty() && text.find_first_not_of(kBlank) == std::string_view::npos;
}

// The text in the default style becomes yyyymmdd; a blank or empty date blanks the
// field. At most 8 bytes are written, the rest of a wider field is blanked.
int32_t put_date(const FieldView& v, const void* in) {
    const auto* text = static_cast<const char*>(in);
    char stored[DB_DATE_TEXT_LEN] = "        ";
    if (!only_blanks(text)) {
        int32_t year = 0, month = 0, day = 0;
        const int32_t parsed = DBStrDateTo3(&year, &month, &day, text, DBdate_style);
        if (parsed < 0) return fail(parsed);
        if (parsed != DB_WARN_EMPTY) {
            const int32_t code = DBDate3ToStr(stored, kStoredDateStyle, year, month, day);
            if (code < 0) return fail(code);
        }
    }
    fill_blank(v);
    store(v, stored, kStoredDate);
    return 0;
}

// ---- numbers -------------------------------------------------------------------------

// The common shape of a number field, read without strtod: blanks, an optional
// sign, at most 15 digits with an optional point among them, blanks. The digits as
// an integer M (below 2^53) and the count k of digits after the point (10^k exact
// in a double) make M / 10^k a single correctly rounded division, which is the
// value strtod gives for the same text. Any other text is left to strtod.
bool plain_decimal(std::string_view text, double& value) {
    constexpr double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7,
                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::size_t i = 0;
    while (i < text.size() && text[i] == kBlank) ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    uint64_t digits = 0;
    int count = 0, after_point = -1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = digits * 10 + static_cast<uint64_t>(c - '0');
            ++count;
            if (after_point >= 0) ++after_point;
        } else if (c == '.' && after_point < 0) {
            after_point = 0;
        } else {
            break;
        }
    }
    while (i < text.size() && text[i] == kBlank) ++i;
    if (i != text.size() || count == 0 || count > 15) return false;
    const double magnitude = static_cast<double>(digits) / kPowers[after_point < 0 ? 0 : after_point];
    value = negative ? -magnitude : magnitude;
    return true;
}

double text_number(const FieldView& v) {
    double value = 0;
    if (plain_decimal(std::string_view(v.bytes.data(), std::min(v.width(), kWorkSize - 1)), value))
        return value;
    char work[kWorkSize];
    field_text(v, work);
    return std::strtod(work, nullptr);
}

// Printed right-aligned with the field's decimals. A number that needs more than
// the width (or is not finite) is refused rather than stored with digits cut off.
int32_t put_number_text(const FieldView& v, double value) {
    if (!std::isfinite(value)) return fail(DB_ERR_BAD_DATA);
    const int width = static_cast<int>(std::min(v.width(), kWorkSize - 1));
    const int decimals = v.field->decimals;
    const int needed = std::snprintf(nullptr, 0, "%*.*f", width, decimals, value);
    if (needed < 0 || static_cast<std::size_t>(needed) != v.width()) return fail(DB_ERR_BAD_DATA);
    char work[kWorkSize];
    std::snprintf(work, sizeof work, "%*.*f", width, decimals, value);
    store(v, work, v.width());
    return 0;
}

int32_t get_number(const FieldView& v, void* out, bool blank) {
    const double value = blank ? 0.0 : text_number(v);
    std::memcpy(out, &value, sizeof value);
    return 0;
}

int32_t put_number(const FieldView& v, const void* in) {
    double value;
    std::memcpy(&value, in, sizeof value);
    return put_number_text(v, value);
}

// A B field of width 8 in a dialect-10 table holds the double itself.
bool holds_binary_double(const FieldView& v) { return v.dialect == kBinaryDialect && v.width() == 8; }

int32_t get_binary_number(const FieldView& v, void* out, bool blank) {
    double value = 0.0;
    if (!blank && holds_binary_double(v)) {
        const auto* p = reinterpret_cast<const uint8_t*>(v.bytes.data());
        const uint64_t bits = le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
        value = std::bit_cast<double>(bits);
    } else if (!blank) {
        value = text_number(v);
    }
    std::memcpy(out, &value, sizeof value);
    return 0;
}

int32_t put_binary_number(const FieldView& v, const void* in) {
    double value;
    std::memcpy(&value, in, sizeof value);
    if (!holds_binary_double(v)) return put_number_text(v, value);
    const auto bits = std::bit_cast<uint64_t>(value);
    uint8_t le[8];
    put_le32(le, static_cast<uint32_t>(bits));
    put_le32(le + 4, static_cast<uint32_t>(bits >> 32));
    store(v, le, sizeof le);
    return 0;
}

// ---- logical -------------------------------------------------------------------------

constexpr char kTrueBytes[] = {'T', 't', 'Y', 'y', '\x01'};
constexpr char kFalseBytes[] = {'F', 'f', 'N', 'n', '\0'};
constexpr char kUnknownBytes[] = {' ', '?'};

bool one_of(char c, std::span<const char> set) { return std::ranges::find(set, c) != set.end(); }

// A blank field reads as '?'; an unrecognised byte leaves the output as it was.
int32_t get_logical(const FieldView& v, void* out, bool blank) {
    auto* result = static_cast<char*>(out);
    if (blank) *result = '?';
    else if (!v.bytes.empty() && one_of(v.bytes[0], kTrueBytes)) *result = 1;
    else if (!v.bytes.empty() && one_of(v.bytes[0], kFalseBytes)) *result = 0;
    return 0;
}

int32_t put_logical(const FieldView& v, const void* in) {
    const char c = *static_cast<const char*>(in);
    char stored;
    if (one_of(c, kFalseBytes)) stored = 'F';
    else if (one_of(c, kTrueBytes)) stored = 'T';
    else if (one_of(c, kUnknownBytes)) stored = kBlank;
    else return fail(DB_ERR_BAD_DATA);
    store(v, &stored, 1);
    return 0;
}

// ---- memo references -----------------------------------------------------------------

int32_t text_block(const FieldView& v) {
    char work[kWorkSize];
    field_text(v, work);
    const long long value = std::strtoll(work, nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(value, std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()));
}

int32_t get_memo(const FieldView& v, void* out, bool blank) {
    int32_t block = 0;
    if (!blank && v.dialect == kBinaryDialect) {
        uint8_t le[4];
        load(v, le, sizeof le);
        block = static_cast<int32_t>(le32(le));
    } else if (!blank) {
        block = text_block(v);
    }
    std::memcpy(out, &block, sizeof block);
    return 0;
}

// Dialect 10: 4 bytes little-endian; a narrower field takes the number only if it fits.
int32_t put_binary_block(const FieldView& v, uint32_t block) {
    if (v.width() < 4 && (static_cast<uint64_t>(block) >> (8 * v.width())) != 0)
        return fail(DB_ERR_BAD_DATA);
    uint8_t le[4];
    put_le32(le, block);
    store(v, le, sizeof le);
    return 0;
}

// Right-aligned digits over the field's width. Block numbers are kept within the
// signed 32-bit range that readers of the text take them back into.
int32_t put_text_block(const FieldView& v, uint32_t block) {
    if (block > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return fail(DB_ERR_BAD_DATA);
    const int width = static_cast<int>(std::min(v.width(), kWorkSize - 1));
    char work[kWorkSize];
    const int written = std::snprintf(work, sizeof work, "%*" PRIu32, width, block);
    if (written < 0 || static_cast<std::size_t>(written) != v.width()) return fail(DB_ERR_BAD_DATA);
    store(v, work, v.width());
    return 0;
}

int32_t put_memo(const FieldView& v, const void* in) {
    uint32_t block;
    std::memcpy(&block, in, sizeof block);
    return v.dialect == kBinaryDialect ? put_binary_block(v, block) : put_text_block(v, block);
}

// ---- the conversion table ------------------------------------------------------------

using Getter = int32_t (*)(const FieldView&, void* out, bool blank);
using Putter = int32_t (*)(const FieldView&, const void* in);

struct Conversion {
    uint8_t code;
    uint8_t value_size;  // bytes of the caller's value; 0 for the text forms C and D
    Getter get;
    Putter put;
};

constexpr Conversion kConversions[] = {
    {1, 2, get_raw<2>, put_raw<2>},                // 16-bit integer
    {2, 2, get_raw<2>, put_raw<2>},                // 16-bit integer
    {3, 4, get_raw<4>, put_raw<4>},                // 32-bit integer
    {4, 4, get_raw<4>, put_raw<4>},                // 32-bit integer
    {11, 4, get_raw<4>, put_raw<4>},               // 32-bit integer
    {13, 8, get_raw<8>, put_raw<8>},               // 64-bit value
    {'I', 4, get_int32, put_int32},                // 32-bit integer, little-endian
    {'C', 0, get_text, put_text},                  // text
    {'D', 0, get_date, put_date},                  // date text in the default style
    {'F', 8, get_number, put_number},              // double as text
    {'N', 8, get_number, put_number},              // double as text
    {'B', 8, get_binary_number, put_binary_number},  // double, binary in dialect 10
    {'L', 1, get_logical, put_logical},            // logical byte
    {'M', 4, get_memo, put_memo},                  // memo block number
    {'T', 8, get_words, put_words},                // two word-reversed 32-bit words
    {'Y', 8, get_words, put_words},                // two word-reversed 32-bit words
};

const Conversion* conversion_for(int code) {
    for (const Conversion& c : kConversions)
        if (c.code == static_cast<uint8_t>(code)) return &c;
    return nullptr;
}

// The field's bytes in the record buffer, or the logged failure.
int32_t view_field(const TablePacket& t, int16_t field, FieldView& view) {
    if (field < 0 || field >= t.field_count) return fail(DB_ERR_FIELD_COUNT);
    const Field& f = t.field(field);
    if (!t.record || f.offset < 1 || f.offset + static_cast<uint64_t>(f.length) > t.record_length())
        return fail(DB_ERR_CORRUPT);
    view = FieldView{&f, std::span<char>(t.record + f.offset, f.length), t.dialect_number()};
    return 0;
}

int own_code(const TablePacket& t, int16_t field) { return static_cast<uint8_t>(t.field(field).type); }

// The blank test of DBIsFieldBlank: only spaces count as blank, for every type. The
// answer, 1 or 0, is also left in DBerrno.
int32_t _test_field(const TablePacket& t, int16_t field) {
    FieldView view{};
    if (int32_t r = view_field(t, field, view); r < 0) return fail(r);
    const std::string_view bytes(view.bytes.data(), view.width());
    DBerrno = !bytes.empty() && bytes.find_first_not_of(kBlank) == std::string_view::npos;
    return DBerrno;
}

}  // namespace

int32_t _DBGetFieldData(TablePacket& t, void* value, int16_t field, int code) {
    if (!value) return fail(DB_ERR_NULL);
    FieldView view{};
    if (int32_t r = view_field(t, field, view); r < 0) return fail(r);
    const bool blank = is_blank_for_get(view);
    int32_t status = blank ? DB_WARN_FIELD_EMPTY : 0;
    if (const Conversion* c = conversion_for(code)) {
        const int32_t r = c->get(view, value, blank);
        if (r < 0) return fail(r);
        if (r == DB_WARN_FIELD_EMPTY) status = r;
    }
    DBerrno = status;
    return status;
}

int32_t _DBPutFieldData(TablePacket& t, const void* value, int16_t field, int code) {
    if (!value) return fail(DB_ERR_NULL);
    FieldView view{};
    if (int32_t r = view_field(t, field, view); r < 0) return fail(r);
    int32_t status = 0;
    if (const Conversion* c = conversion_for(code)) {
        status = c->put(view, value);
        if (status < 0) return fail(status);
    }
    DBerrno = status;
    return status;
}

int32_t host_item_size(const Field& f) {
    struct Item {
        char type;
        int32_t size;
    };
    // C: the text and its NUL; any type not listed: the field's width.
    static constexpr Item kItems[] = {{'D', DB_DATE_TEXT_LEN}, {'M', 4}, {'F', 8}, {'N', 8}};
    if (f.type == 'C') return static_cast<int32_t>(f.length) + 1;
    for (const Item& item : kItems)
        if (item.type == f.type) return item.size;
    return static_cast<int32_t>(f.length);
}

int32_t get_host_item(TablePacket& t, char* item, int16_t field) {
    if (!item) return fail(DB_ERR_NULL);
    if (field < 0 || field >= t.field_count) return fail(DB_ERR_FIELD_COUNT);
    const int code = own_code(t, field);
    const Conversion* c = conversion_for(code);
    if (!c || c->value_size == 0) {  // text forms write exactly the item
        const int32_t r = _DBGetFieldData(t, item, field, code);
        return r < 0 ? fail(r) : r;
    }
    uint8_t value[8] = {};
    const auto n = std::min<std::size_t>(c->value_size, host_item_size(t.field(field)));
    std::memcpy(value, item, n);
    const int32_t r = _DBGetFieldData(t, value, field, code);
    if (r < 0) return fail(r);
    std::memcpy(item, value, n);
    return r;
}

int32_t put_host_item(TablePacket& t, const char* item, int16_t field) {
    if (!item) return fail(DB_ERR_NULL);
    if (field < 0 || field >= t.field_count) return fail(DB_ERR_FIELD_COUNT);
    const int code = own_code(t, field);
    const Conversion* c = conversion_for(code);
    const auto size = static_cast<std::size_t>(host_item_size(t.field(field)));
    int32_t r = 0;
    if (code == 'D') {  // an 11-byte item need not hold its NUL
        char text[DB_DATE_TEXT_LEN + 1] = {};
        std::memcpy(text, item, std::min(size, sizeof text - 1));
        r = _DBPutFieldData(t, text, field, code);
    } else if (!c || c->value_size == 0) {  // C reads at most width + 1 = the item
        r = _DBPutFieldData(t, item, field, code);
    } else {
        uint8_t value[8] = {};
        std::memcpy(value, item, std::min<std::size_t>(c->value_size, size));
        r = _DBPutFieldData(t, value, field, code);
    }
    return r < 0 ? fail(r) : r;
}

}  // namespace xbdb::table

// ---- the exported calls ------------------------------------------------------------------

using namespace xbdb;
using namespace xbdb::table;

namespace {

int32_t get_numbered(int32_t handle, int16_t field, void* value, bool as_text) {
    if (int32_t r = _DBVerifyField(handle, field); r < 0) return fail(r);
    const int code = as_text ? 'C' : own_code(*DBxbd, field);
    const int32_t r = _DBGetFieldData(*DBxbd, value, field, code);
    return r < 0 ? fail(r) : r;
}

int32_t put_numbered(int32_t handle, int16_t field, const void* value, bool as_text) {
    if (int32_t r = _DBVerifyField(handle, field); r < 0) return fail(r);
    const int code = as_text ? 'C' : own_code(*DBxbd, field);
    const int32_t r = _DBPutFieldData(*DBxbd, value, field, code);
    return r < 0 ? fail(r) : r;
}

int32_t get_named(int32_t handle, const char* name, void* value, bool as_text) {
    int16_t field = 0;
    if (int32_t r = DBGetFieldNumber(handle, &field, name); r < 0) return fail(r);
    const int32_t r = get_numbered(handle, field, value, as_text);
    return r < 0 ? fail(r) : r;
}

int32_t put_named(int32_t handle, const char* name, const void* value, bool as_text) {
    int16_t field = 0;
    if (int32_t r = DBGetFieldNumber(handle, &field, name); r < 0) return fail(r);
    const int32_t r = put_numbered(handle, field, value, as_text);
    return r < 0 ? fail(r) : r;
}

}  // namespace

extern "C" {

int32_t DBGetFieldData(int32_t handle, int16_t field, void* value) {
    return get_numbered(handle, field, value, false);
}

int32_t DBGetStrField(int32_t handle, int16_t field, char* text) {
    return get_numbered(handle, field, text, true);
}

int32_t DBGetNamedData(int32_t handle, const char* name, void* value) {
    return get_named(handle, name, value, false);
}

int32_t DBGetNamedStr(int32_t handle, const char* name, char* text) {
    return get_named(handle, name, text, true);
}

int32_t DBPutFieldData(int32_t handle, int16_t field, void* value) {
    return put_numbered(handle, field, value, false);
}

int32_t DBPutStrField(int32_t handle, int16_t field, const char* text) {
    return put_numbered(handle, field, text, true);
}

int32_t DBPutNamedData(int32_t handle, const char* name, void* value) {
    return put_named(handle, name, value, false);
}

int32_t DBPutNamedStr(int32_t handle, const char* name, const char* text) {
    return put_named(handle, name, text, true);
}

int32_t DBIsFieldBlank(int32_t handle, int16_t field) {
    if (int32_t r = _DBVerifyField(handle, field); r < 0) return fail(r);
    const int32_t r = _test_field(*DBxbd, field);
    return r < 0 ? fail(r) : r;
}

int32_t DBIsNamedBlank(int32_t handle, const char* name) {
    int16_t field = 0;
    if (int32_t r = DBGetFieldNumber(handle, &field, name); r < 0) return fail(r);
    if (!_DBLockDataStruc(handle)) return fail(DB_ERR_HANDLE);
    const int32_t r = _test_field(*DBxbd, field);
    return r < 0 ? fail(r) : r;
}

}  // extern "C"
