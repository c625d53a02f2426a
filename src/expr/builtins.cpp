// The built-in functions of key expressions.
//
// A function is recognised by its name and opening parenthesis, in any letter case,
// tried in the order of the table below (the shortened names are what older programs
// wrote into their index headers). Its first argument is a term of its own; the
// numeric arguments that follow are read as plain numbers. Every function but STR
// steps over the character after its arguments (the closing parenthesis) without
// looking at it; at the end of the text that is an error instead.
//
// Counts and positions outside the text are clamped to it: a negative count takes
// nothing, a start below 1 starts at the first character, and a start or count past
// the end stops at the end.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/failure.hpp"
#include "expr/frame.hpp"

namespace xbdb::expr {
namespace {

char ascii_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// count characters of a text of size characters, clamped to the text.
std::size_t clamp_count(int16_t count, std::size_t size) {
    return count < 0 ? 0 : std::min(static_cast<std::size_t>(count), size);
}

// Evaluates the function's first argument, which must have one of the types.
int32_t argument(Value& arg, std::string_view types) {
    if (int32_t code = process_term(); code < 0) return fail(code);
    arg = take_term();
    if (types.find(static_cast<char>(arg.type)) == std::string_view::npos)
        return fail(DB_ERR_KEY_EXPR);
    return 0;
}

// A text argument followed by one count: LEFT, RIGHT, PADR.
int32_t text_and_count(Value& arg, int16_t& count) {
    if (int32_t code = argument(arg, "C"); code < 0) return fail(code);
    if (int32_t code = get_value(count); code < 0) return fail(code);
    if (int32_t code = step_over(); code < 0) return fail(code);
    return 0;
}

int32_t left() {
    Value arg;
    int16_t n = 0;
    if (int32_t code = text_and_count(arg, n); code < 0) return fail(code);
    const std::string_view text = arg.text();
    return put_text(text.substr(0, clamp_count(n, text.size())));
}

int32_t right() {
    Value arg;
    int16_t n = 0;
    if (int32_t code = text_and_count(arg, n); code < 0) return fail(code);
    const std::string_view text = arg.text();
    return put_text(text.substr(text.size() - clamp_count(n, text.size())));
}

int32_t padr() {
    Value arg;
    int16_t n = 0;
    if (int32_t code = text_and_count(arg, n); code < 0) return fail(code);
    const std::size_t width = clamp_count(n, kMaxValueLength);
    return put_text(arg.text().substr(0, width), width);
}

// SUBSTR(x,start) to the end of the text, SUBSTR(x,start,count) count characters.
int32_t substr() {
    Value arg;
    int16_t start = 1;
    int16_t count = -1;
    if (int32_t code = argument(arg, "C"); code < 0) return fail(code);
    if (int32_t code = get_value(start); code < 0) return fail(code);
    const bool counted = at_cursor() == ',';
    if (counted)
        if (int32_t code = get_value(count); code < 0) return fail(code);
    if (int32_t code = step_over(); code < 0) return fail(code);
    const std::string_view text = arg.text();
    const std::size_t from = start < 1 ? 0 : std::min(static_cast<std::size_t>(start) - 1, text.size());
    const std::string_view rest = text.substr(from);
    return put_text(counted ? rest.substr(0, clamp_count(count, rest.size())) : rest);
}

// UPPER and LOWER change the ASCII letters only; bytes from 0x80 stay as they are.
template <char (*convert)(char)>
int32_t change_case() {
    Value arg;
    if (int32_t code = argument(arg, "C"); code < 0) return fail(code);
    if (int32_t code = step_over(); code < 0) return fail(code);
    for (char& c : std::span(arg.buffer.get(), static_cast<std::size_t>(arg.length))) c = convert(c);
    return put_term(std::move(arg));
}

// DTOC(x) keeps the date's text in the default style; DTOC(x,1) gives the stored
// yyyymmdd, which keeps the century that a two-digit-year style drops.
int32_t dtoc() {
    Value arg;
    if (int32_t code = argument(arg, "D"); code < 0) return fail(code);
    const bool stored = at_cursor() == ',';
    if (stored) {
        if (DBeval_fr.pub.cursor[1] != '1') return fail(DB_ERR_KEY_EXPR);
        DBeval_fr.pub.cursor += 2;
    }
    if (int32_t code = step_over(); code < 0) return fail(code);
    if (!stored) {
        arg.type = 'C';
        return put_term(std::move(arg));
    }
    char ymd[kStoredDateLength + 1];
    if (int32_t code = stored_date(arg, ymd); code < 0) return fail(code);
    return put_text(ymd);
}

// STR(x), STR(x,width), STR(x,width,dec): the number right-aligned in width
// characters (10 by default) with dec decimals (0 by default). A number wider than
// width keeps all its characters.
int32_t str() {
    Value arg;
    int16_t width = 10;
    int16_t decimals = 0;
    if (int32_t code = argument(arg, "NF"); code < 0) return fail(code);
    if (at_cursor() == ',') {
        if (int32_t code = get_value(width); code < 0) return fail(code);
        if (at_cursor() == ',')
            if (int32_t code = get_value(decimals); code < 0) return fail(code);
    }
    if (at_cursor() != ')') return fail(DB_ERR_KEY_EXPR);
    ++DBeval_fr.pub.cursor;
    if (width < 0 || decimals < 0) return fail(DB_ERR_KEY_EXPR);
    const double number = arg.number();
    const int size = std::snprintf(nullptr, 0, "%*.*f", width, decimals, number);
    if (size < 0 || static_cast<std::size_t>(size) > kMaxValueLength) return fail(DB_ERR_KEY_EXPR);
    Value text;
    text.buffer = allocate_block(static_cast<std::size_t>(size) + 1);
    if (!text.buffer) return fail(DB_ERR_MEMORY);
    std::snprintf(text.buffer.get(), static_cast<std::size_t>(size) + 1, "%*.*f", width, decimals, number);
    text.type = 'C';
    text.length = static_cast<int16_t>(size);
    return put_term(std::move(text));
}

struct Builtin {
    std::string_view name;  // upper case, with the opening parenthesis
    int32_t (*run)();
};

constexpr Builtin kBuiltins[] = {
    {"DTOC(", dtoc},
    {"LEFT(", left},
    {"RIGHT(", right},
    {"PADR(", padr},
    {"RIGH(", right},
    {"UPPER(", change_case<ascii_upper>},
    {"UPPE(", change_case<ascii_upper>},
    {"LOWER(", change_case<ascii_lower>},
    {"LOWE(", change_case<ascii_lower>},
    {"STR(", str},
    {"SUBSTR(", substr},
    {"SUBST(", substr},
    {"SUBS(", substr},
};

// True when text starts with name in any letter case; stops at the text's NUL.
bool starts_with(const char* text, std::string_view name) {
    for (std::size_t i = 0; i < name.size(); ++i)
        if (text[i] == '\0' || ascii_upper(text[i]) != name[i]) return false;
    return true;
}

}  // namespace

std::optional<int32_t> run_builtin() {
    for (const Builtin& b : kBuiltins) {
        if (!starts_with(DBeval_fr.pub.cursor, b.name)) continue;
        DBeval_fr.pub.cursor += b.name.size();
        const int32_t code = b.run();
        return code < 0 ? fail(code) : code;
    }
    return std::nullopt;
}

}  // namespace xbdb::expr
