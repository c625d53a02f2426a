// Key expressions: the evaluator that the index families call to make a key from
// the current record of a table.
//
// An expression is read left to right, without skipping blanks: terms joined by
// '+' or '-', each term a registered host function, a built-in function (DTOC,
// LEFT, RIGHT, PADR, UPPER, LOWER, STR, SUBSTR and their abbreviations), a field
// name or a literal. The value is typed:
//
//   type  buffer holds                                       length
//   'C'   NUL-terminated text                                characters
//   'N'   a double ('F' likewise)                            8
//   'D'   NUL-terminated date text in the default style      characters
//   'L'   one byte, 1 or 0 ('?' for an empty field)          1
//   'M'   a 32-bit memo block number                         4
//
// A date shown in a two-digit-year style has lost its century, so every D value also
// carries the date as the table stores it (yyyymmdd). The host never sees it; DTOC(x,1)
// and the date keys of the indexes use it instead of reading the shown text back.
#pragma once

#include <cstdint>
#include <source_location>
#include <span>
#include <string_view>

#include "core/api.hpp"
#include "core/memory.hpp"

namespace xbdb::expr {

// Longest text value: lengths travel as 16-bit numbers.
constexpr std::size_t kMaxValueLength = INT16_MAX;
// The stored form of a date: yyyymmdd, or 8 blanks for an empty date.
constexpr std::size_t kStoredDateLength = 8;

// The stored form of a D value, and the text in the default style that went with it.
struct StoredDate {
    char ymd[kStoredDateLength + 1] = {};  // empty while not known
    char shown[DB_DATE_TEXT_LEN] = {};

    bool known() const { return ymd[0] != '\0'; }
};

// A typed value that owns its buffer (from the library's allocator).
struct Value {
    HostBlock buffer;
    int16_t type = ' ';
    int16_t length = 0;
    StoredDate date;  // 'D' values only

    // The text of a 'C' or 'D' value.
    std::string_view text() const {
        return buffer ? std::string_view(buffer.get(), static_cast<std::size_t>(length)) : "";
    }
    // The double of an 'N' or 'F' value.
    double number() const;
};

// Evaluates expression against the current record of the open table handle. Returns
// 0 with the value in result, or the logged failure (result untouched): -221 null
// expression, -213 not an open table, -207 bad expression, -203 no memory, or the
// field read's error.
int32_t evaluate(int32_t handle, const char* expression, Value& result,
                 std::source_location where = std::source_location::current());

// The date of a 'D' value as stored, yyyymmdd or 8 blanks, NUL-terminated. A value
// read from a field carries it; one that a registered function made is read back
// from its text in the default style. Returns 0 or the logged failure (-207 for a
// value that is not a date, the date error of a text that is not a date).
int32_t stored_date(const Value& value, std::span<char, kStoredDateLength + 1> out);

// The evaluation result of _DBEvaluateStr (the layout hosts see) and the stored date
// that goes with a 'D' result.
extern DBEvalResult DBeval_pr;
extern StoredDate DBeval_pr_date;

// Evaluates into DBeval_pr, whose buffer the caller then owns and releases. The
// previous result is not released (it was handed out). On failure DBeval_pr is
// {null, ' ', 0}. Returns DBerrno.
int32_t _DBEvaluateStr(int32_t handle, const char* expression);

}  // namespace xbdb::expr
