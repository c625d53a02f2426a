// Inside the evaluator: the evaluation frame and the pieces that read one term.
//
// A term is evaluated into the process-wide frame. Registered host functions see its
// public part (DBEvalFrame: value, type, length, cursor); the stored date of a D term
// and the bounds of the expression text travel beside it. The cursor only moves
// forward and never past the NUL that ends the text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "expr/expr.hpp"

namespace xbdb::expr {

struct Frame {
    DBEvalFrame pub{nullptr, ' ', 0, nullptr};
    StoredDate date;               // the D term last read
    const char* begin = nullptr;   // the expression text ...
    const char* end = nullptr;     // ... and its NUL
    int depth = 0;                 // nesting of terms inside function arguments
    bool active = false;           // an evaluation is running
};

extern Frame DBeval_fr;
extern int32_t DBeval_dbf;

// Deepest nesting of function arguments; a deeper expression is refused rather than
// run the stack out.
constexpr int kMaxDepth = 64;
// Field names have at most 10 characters; so have literals.
constexpr std::size_t kMaxNameLength = 10;

inline char at_cursor() { return *DBeval_fr.pub.cursor; }

// ---- the frame's value (evaluator.cpp) ---------------------------------------------
// Moves the frame's value out; for 'C' and 'D' the length becomes the text length.
Value take_term();
// Moves a value into the frame, over whatever it held (a registered function may
// still hold that). Returns 0, or -207 for a text longer than kMaxValueLength.
int32_t put_term(Value&& value);
// A new 'C' value in the frame: text followed by blanks up to width characters.
int32_t put_text(std::string_view text, std::size_t width = 0);
// Steps over one character (a closing parenthesis or a comma) without looking at it,
// unless it is the end of the text (-207).
int32_t step_over();

// ---- terms ---------------------------------------------------------------------------
// One term at the cursor into the frame: registered function, built-in function,
// field name or literal (parse_table.cpp).
int32_t process_term();
// A numeric function argument: steps over the comma and reads the number up to the
// next ',' or ')', leaving the cursor there (parse_table.cpp).
int32_t get_value(int16_t& number);
// Runs the built-in function named at the cursor; empty when none is (builtins.cpp).
std::optional<int32_t> run_builtin();
// A field name or a literal (fields_and_literals.cpp).
int32_t _DBProcessField();

// ---- the parse table (parse_table.cpp) -------------------------------------------------
// Binary search of the registered names: 1 with the entry's index when one matches
// the start of text, else 0 with the index where text would be inserted.
int32_t _DBFindParseEntry(const char* text, int32_t* index);

}  // namespace xbdb::expr
