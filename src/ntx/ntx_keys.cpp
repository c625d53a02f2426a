// Conversions between values and NTX key text.
//
// Numeric keys are the magnitude printed with the index's decimals, zero-padded on
// the left to the key size, so that text order is numeric order; a negative value
// has every character but the point replaced by 0x5C - c ('0'..'9' become ','..'#'),
// which sorts below every positive key and in reverse order of magnitude. Date keys
// are the date as yyyymmdd, or eight blanks for an empty date.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/failure.hpp"
#include "date/dates.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

namespace {

constexpr int kComplementBase = 0x5C;
constexpr int kStoredDateStyle = 4;
constexpr int32_t kDateKeySize = 8;
// Room for the largest double printed in full with up to 15 decimals.
constexpr std::size_t kNumberTextSize = 400;

void complement(char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (text[i] != '.') text[i] = static_cast<char>(kComplementBase - text[i]);
}

void blank_date(char* out) {
    std::memset(out, ' ', kDateKeySize);
    out[kDateKeySize] = '\0';
}

}  // namespace

void numeric_key(char* out, double value, int32_t key_size, int32_t decimals) {
    // The header's decimals come from the file: a count that leaves no integer digit
    // is read as none.
    if (decimals < 0 || decimals > key_size - 2) decimals = 0;
    char text[kNumberTextSize];
    const double magnitude = std::isfinite(value) ? std::fabs(value) : 0.0;
    std::snprintf(text, sizeof text, "%.*f", static_cast<int>(decimals), magnitude);
    const char* point = std::strchr(text, '.');
    const int32_t integer_digits = static_cast<int32_t>(point ? point - text : std::strlen(text));
    const int32_t width = decimals ? key_size - decimals - 1 : key_size;
    // The last `width` integer digits, zero-padded on the left.
    for (int32_t i = 0; i < width; ++i) {
        const int32_t from = integer_digits - width + i;
        out[i] = from >= 0 ? text[from] : '0';
    }
    if (decimals) {
        out[width] = '.';
        std::memcpy(out + width + 1, point + 1, static_cast<std::size_t>(decimals));
    }
    out[key_size] = '\0';
    if (value < 0) complement(out, static_cast<std::size_t>(key_size));
}

int32_t date_to_key(char* key, const char* text, int32_t style) {
    dates::Ymd date;
    const int32_t code = dates::parse_date(text, style, date);
    if (code == DB_WARN_EMPTY) {
        blank_date(key);
        return 0;
    }
    if (code < 0) return fail(code);
    char out[dates::kDateTextSize];
    if (int32_t c = dates::format_date(dates::DateText(out, sizeof out), kStoredDateStyle, date);
        c < 0)
        return fail(c);
    std::memcpy(key, out, kDateKeySize + 1);
    return 0;
}

int32_t key_to_date(char* text, int32_t style, const char* key) {
    dates::Ymd date;
    const std::string_view stored(key, strnlen(key, kDateKeySize));
    const int32_t code = dates::parse_date(stored, kStoredDateStyle, date);
    if (code == DB_WARN_EMPTY) {
        blank_date(text);
        return 0;
    }
    if (code < 0) return fail(code);
    if (int32_t c = dates::format_date(dates::DateText(text, dates::kDateTextSize), style, date);
        c < 0)
        return fail(c);
    return 0;
}

double key_to_double(const char* key) {
    char text[index::kKeyBufferSize];
    std::strncpy(text, key, sizeof text - 1);
    text[sizeof text - 1] = '\0';
    const bool negative = text[0] != '\0' && text[0] < '0';
    if (negative) complement(text, std::strlen(text));
    const double magnitude = std::strtod(text, nullptr);
    return negative ? -magnitude : magnitude;
}

}  // namespace xbdb::ntx

using namespace xbdb;
using namespace xbdb::ntx;

extern "C" {

int32_t DBclDoubleToKey(int32_t handle, char* buffer, double value) {
    if (!buffer) return fail(DB_ERR_NULL);
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    numeric_key(buffer, value, x->key_size(), x->header.decimals());
    return 0;
}

int32_t DBclKeyToDouble(double* value, const char* key) {
    if (!value || !key) return fail(DB_ERR_NULL);
    *value = key_to_double(key);
    DBerrno = 0;
    return 0;
}

int32_t DBclDateToKey(char* key, const char* date_text, int32_t style) {
    if (!key || !date_text) return fail(DB_ERR_NULL);
    if (int32_t code = date_to_key(key, date_text, style); code < 0) return fail(code);
    DBerrno = 0;
    return 0;
}

int32_t DBclKeyToDate(char* date_text, int32_t style, const char* key) {
    if (!date_text || !key) return fail(DB_ERR_NULL);
    if (int32_t code = key_to_date(date_text, style, key); code < 0) return fail(code);
    DBerrno = 0;
    return 0;
}

}  // extern "C"
