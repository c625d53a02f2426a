// Key expressions: terms, built-in functions and their argument limits, dates that
// keep their century, expressions that end early (copied into exactly sized buffers
// so the sanitizer sees any read past the end), and the parse table of registered
// functions with its growth, release and precedence over the built-ins.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "support/host_faults.hpp"
#include "support/scratch_dir.hpp"
#include "xbdb.h"

using namespace std::string_literals;

namespace {

struct Eval {
    int32_t code = 0;
    int16_t type = 0;
    int16_t length = 0;
    std::string text;  // 'C' and 'D'
    double number = 0.0;
    bool value_null = false;
};

// Evaluates a copy of expression that ends exactly at its NUL, and frees the value.
Eval evaluate(int32_t handle, const std::string& expression) {
    auto text = std::make_unique<char[]>(expression.size() + 1);
    std::memcpy(text.get(), expression.c_str(), expression.size() + 1);
    DBEvalResult r{reinterpret_cast<char*>(1), 'X', -1};
    Eval e;
    e.code = DBEvaluateStr(handle, text.get(), &r);
    e.type = r.type;
    e.length = r.length;
    e.value_null = r.value == nullptr;
    if (e.code < 0 || !r.value) return e;
    if (r.type == 'C' || r.type == 'D') e.text = r.value;
    if (r.type == 'N' || r.type == 'F') std::memcpy(&e.number, r.value, sizeof e.number);
    if (r.type == 'L') e.number = r.value[0];
    if (r.type == 'M') {
        int32_t block = 0;
        std::memcpy(&block, r.value, sizeof block);
        e.number = block;
    }
    DBFreeMemory(r.value, "", 0);
    return e;
}

// Leaves a value of length bytes (and a NUL) in the frame, as a host function does.
int32_t leave(DBEvalFrame* frame, const void* value, std::size_t length, int16_t type = 'C') {
    if (DBAllocateMemoryLog(&frame->value, static_cast<int32_t>(length) + 1, "", 0) < 0) return DB_ERR_MEMORY;
    std::memcpy(frame->value, value, length);
    frame->value[length] = '\0';
    frame->type = type;
    frame->length = static_cast<int16_t>(length);
    return 0;
}
int32_t leave_text(DBEvalFrame* frame, const char* text, int16_t type = 'C') {
    return leave(frame, text, std::strlen(text), type);
}

int32_t step_past_parenthesis(DBEvalFrame* frame) {
    if (*frame->cursor != ')') return DB_ERR_KEY_EXPR;
    ++frame->cursor;
    return 0;
}

// LEFT(x,n) registered by the host: gives the last n characters instead, reading
// its arguments through DBProcessTable and DBGetValue.
int32_t host_left(DBEvalFrame* frame) {
    if (int32_t code = DBProcessTable(); code < 0) return code;
    char* arg = frame->value;
    int16_t n = 0;
    int32_t code = DBGetValue(&n);
    if (code == 0) code = step_past_parenthesis(frame);
    if (code == 0) {
        const std::size_t size = std::strlen(arg);
        code = leave_text(frame, arg + size - std::min<std::size_t>(n, size));
    }
    DBFreeMemory(arg, "", 0);
    return code;
}

// SAME(x): gives its argument back as it came.
int32_t host_same(DBEvalFrame* frame) {
    if (int32_t code = DBProcessTable(); code < 0) return code;
    return step_past_parenthesis(frame);
}

// BIG(): the double 1e300.
int32_t host_big(DBEvalFrame* frame) {
    const double big = 1e300;
    const int32_t code = leave(frame, &big, sizeof big, 'N');
    return code < 0 ? code : step_past_parenthesis(frame);
}

int32_t host_new_date(DBEvalFrame* frame) {  // a date made in the default style
    const int32_t code = leave_text(frame, "01/02/03", 'D');
    return code < 0 ? code : step_past_parenthesis(frame);
}
int32_t host_failing(DBEvalFrame*) {  // leaves its argument's value in the frame
    return DBProcessTable() < 0 ? DB_ERR_KEY_EXPR : DB_ERR_BAD_DATA;
}
int32_t host_runaway(DBEvalFrame* frame) {
    frame->cursor += 1000;
    return leave_text(frame, "x");
}
int32_t host_nested(DBEvalFrame* frame) {
    DBEvalResult inner{};
    const int32_t code = DBEvaluateStr(0, "NAME", &inner);
    if (code >= 0) DBFreeMemory(inner.value, "", 0);
    return code < 0 ? code : leave_text(frame, "nested");
}
int32_t host_noop(DBEvalFrame*) { return 0; }

class ExprTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    xbdb::test::FaultHost host;
    xbdb::test::ScopedHost guard{host};
};

// One record: LNAME Smith (C 10), FNAME Al (C 6), NAME Smith (C 5), BIRTH 19991231,
// PRICE 3.75 (N 8.2), QTY 2 (N 5), OK 'T', NOTE memo block 5, NODATE blank, HIGH
// with a byte above 0x7F.
class ExprTable : public ExprTest {
protected:
    void SetUp() override {
        ExprTest::SetUp();
        DBFieldSpec fields[] = {{"LNAME", 'C', 10, 0}, {"FNAME", 'C', 6, 0}, {"NAME", 'C', 5, 0},
                                {"BIRTH", 'D', 8, 0},  {"PRICE", 'N', 8, 2}, {"QTY", 'N', 5, 0},
                                {"OK", 'L', 1, 0},     {"NOTE", 'M', 10, 0}, {"NODATE", 'D', 8, 0},
                                {"HIGH", 'C', 3, 0}};
        const std::string path = dir.file("PEOPLE.DBF");
        ASSERT_EQ(DBCreateFile(path.c_str(), 10, fields, 0), 0);
        ASSERT_EQ(DBOpenFile(&handle, path.c_str(), 0), 0);
        const char* texts[] = {"Smith", "Al", "Smith", "19991231", "3.75", "2", "T"};
        for (int16_t i = 0; i < 7; ++i) ASSERT_EQ(DBPutStrField(handle, i, texts[i]), 0);
        uint32_t note = 5;
        ASSERT_EQ(DBPutFieldData(handle, 7, &note), 0);
        ASSERT_EQ(DBPutStrField(handle, 9, "\xe9x!"), 0);
        int32_t number = 0;
        ASSERT_EQ(DBPutRecord(handle, &number, DB_PUT_APPEND), 0);
        ASSERT_EQ(DBClearBuffer(handle), 0);
        ASSERT_EQ(DBGetRecord(handle, number), 0);
    }
    Eval eval(const std::string& expression) { return evaluate(handle, expression); }
    std::string text_of(const std::string& expression) {
        const Eval e = eval(expression);
        EXPECT_EQ(e.code, 0) << expression;
        EXPECT_EQ(e.type, 'C') << expression;
        EXPECT_EQ(static_cast<std::size_t>(e.length), e.text.size()) << expression;
        return e.text;
    }
    void expect_refused(const std::string& expression, int32_t code = DB_ERR_KEY_EXPR) {
        const Eval e = eval(expression);
        EXPECT_EQ(e.code, code) << expression;
        EXPECT_TRUE(e.value_null) << expression;
    }

    xbdb::test::ScratchDir dir;
    int32_t handle = -1;
};

using ExprTerms = ExprTable;
using ExprFunctions = ExprTable;
using ExprDates = ExprTable;
using ExprRegistered = ExprTable;
using ExprParseTable = ExprTest;

}  // namespace

TEST_F(ExprTerms, FieldsConcatenateWithTheirTrailingBlanks) {
    const Eval e = eval("LNAME+FNAME");
    EXPECT_EQ(e.type, 'C');
    EXPECT_EQ(e.length, 16);
    EXPECT_EQ(e.text, "Smith     Al    ");
    EXPECT_EQ(text_of("LNAME-FNAME"), "Smith     Al    ");  // '-' concatenates text too
    EXPECT_EQ(text_of("NAME+XYZ"), "SmithXYZ");            // not a field: a literal
}

TEST_F(ExprTerms, NumbersAddAndSubtractAndTypesStaySeparate) {
    Eval e = eval("QTY+QTY");
    EXPECT_TRUE(e.type == 'N' && e.length == 8 && e.number == 4.0);
    EXPECT_EQ(eval("QTY-1").number, 1.0);
    EXPECT_EQ(eval("QTY+BIRTH").number, 2.0);  // a date after a number is ignored
    e = eval("OK");
    EXPECT_TRUE(e.type == 'L' && e.number == 1.0);
    e = eval("NOTE");
    EXPECT_TRUE(e.type == 'M' && e.number == 5.0);
    e = eval("BIRTH");
    EXPECT_TRUE(e.type == 'D' && e.text == "12/31/99" && e.length == 8);
    expect_refused("QTY+NAME");
    expect_refused("ABCDEFGHIJK");  // 11 characters
    expect_refused("NAME,");        // empty name
}

TEST_F(ExprTerms, EmptyExpressionAndBadCalls) {
    const Eval e = eval("");
    EXPECT_TRUE(e.code == 0 && e.type == ' ' && e.text.empty());
    DBEvalResult r{};
    EXPECT_EQ(DBEvaluateStr(handle, nullptr, &r), DB_ERR_NULL);
    EXPECT_TRUE(evaluate(handle + 1, "NAME").value_null);
    EXPECT_EQ(DBProcessTable(), DB_ERR_KEY_EXPR);  // no evaluation running
    int16_t n = 0;
    EXPECT_EQ(DBGetValue(&n), DB_ERR_KEY_EXPR);
}

TEST_F(ExprTerms, ExpressionsThatEndEarlyAreRefusedWithoutReadingPastTheText) {
    for (const char* text : {"UPPER(NAME", "LEFT(NAME,3", "DTOC(BIRTH", "DTOC(BIRTH,1", "LEFT(NAME,",
                             "SUBSTR(NAME,2,", "STR(PRICE,8", "NAME+", "RIGHT("})
        expect_refused(text);
    const std::size_t before = host.live_blocks();
    expect_refused("LNAME+UPPER(NAME");
    EXPECT_EQ(host.live_blocks(), before);
}

TEST_F(ExprTerms, TextsLongerThan32767AreRefused) {
    EXPECT_EQ(eval("PADR(NAME,32767)").length, 32767);
    expect_refused("PADR(NAME,30000)+PADR(FNAME,30000)");
    expect_refused("PADR(NAME,32767)+X");
}

TEST_F(ExprTerms, DeepNestingIsRefused) {
    std::string deep = "NAME";
    for (int i = 0; i < 20; ++i) deep = "UPPER(" + deep + ")";
    EXPECT_EQ(text_of(deep), "SMITH");
    for (int i = 0; i < 100; ++i) deep = "LOWER(" + deep + ")";
    expect_refused(deep);
}

TEST_F(ExprFunctions, TextFunctionsAndTheirAbbreviations) {
    const std::pair<const char*, const char*> cases[] = {
        {"UPPER(LNAME)", "SMITH     "}, {"upper(lname)", "SMITH     "}, {"UPPE(LNAME)", "SMITH     "},
        {"LOWE(LNAME)", "smith     "},  {"UPPER(HIGH)", "\xe9X!"},       // only ASCII letters change
        {"UPPER( NAME)", " NAME"},      // the blank belongs to the name: a literal
        {"PADR(FNAME,8)", "Al      "},  {"SUBST(NAME,2,3)", "mit"},     {"SUBS(NAME,2)", "mith"},
        {"RIGH(NAME,2)", "th"},         {"LEFT(NAME,2)+RIGHT(LNAME,3)", "Sm   "},
        {"STR(PRICE,8,2)", "    3.75"}, {"STR(PRICE)", "         4"}, {"STR(QTY,3)+NAME", "  2Smith"},
        // Counts and positions are clamped to the text; only 16 bits of a number count.
        {"LEFT(NAME,-1)", ""},          {"RIGHT(NAME,99)", "Smith"},  {"PADR(NAME,0)", ""},
        {"SUBSTR(NAME,0,2)", "Sm"},     {"SUBSTR(NAME,9)", ""},       {"SUBSTR(NAME,4,99)", "th"},
        {"SUBSTR(NAME,2,-1)", ""},      {"LEFT(NAME,65538)", "Sm"},
    };
    for (auto [expression, text] : cases) EXPECT_EQ(text_of(expression), text) << expression;
    for (const char* bad : {"UPPER(QTY)", "LEFT(NAME,)", "LEFT(QTY,2)", "STR(NAME)", "STR(PRICE,8,2,1)"})
        expect_refused(bad);
}

TEST_F(ExprFunctions, StrOfHugeNumbersAndBadWidths) {
    ASSERT_EQ(DBAddParseEntry("BIG(", host_big), 0);
    const std::string wide = text_of("STR(BIG())");
    EXPECT_EQ(wide.size(), 301u);  // every digit the number needs
    EXPECT_EQ(wide.substr(0, 4), "1000");
    EXPECT_EQ(text_of("STR(BIG(),3,2)").size(), 304u);
    expect_refused("STR(BIG(),-5)");
    expect_refused("STR(PRICE,8,-2)");
    expect_refused("STR(BIG(),32767,32767)");
}

TEST_F(ExprDates, StoredDateKeepsItsCenturyInEveryStyle) {
    for (int32_t style = 1; style <= 15; ++style) {
        ASSERT_EQ(DBSetDefaultDateStyle(style), 0);
        EXPECT_EQ(text_of("DTOC(BIRTH,1)"), "19991231") << "style " << style;
        EXPECT_EQ(text_of("dtoc(NODATE,1)"), "        ") << "style " << style;
    }
    ASSERT_EQ(DBSetDefaultDateStyle(1), 0);
    EXPECT_EQ(text_of("DTOC(BIRTH)"), "12/31/99");
    EXPECT_EQ(text_of("NAME+DTOC(BIRTH,1)"), "Smith19991231");
    ASSERT_EQ(DBSetDefaultDateStyle(7), 0);
    EXPECT_EQ(text_of("DTOC(BIRTH)"), "31.12.1999");
    expect_refused("DTOC(NAME)");
    expect_refused("DTOC(BIRTH,2)");
}

TEST_F(ExprRegistered, HostFunctionTakesPrecedenceAndDatesPassedThroughKeepTheirStoredForm) {
    ASSERT_EQ(DBAddParseEntry("LEFT(", host_left), 0);
    EXPECT_EQ(text_of("LEFT(NAME,2)"), "th");
    EXPECT_EQ(text_of("left(NAME,2)"), "Sm");  // registered names are case-sensitive
    EXPECT_EQ(text_of("LNAME+LEFT(UPPER(NAME),3)"), "Smith     ITH");
    ASSERT_EQ(DBDeleteParseEntry("LEFT("), 0);
    EXPECT_EQ(text_of("LEFT(NAME,2)"), "Sm");
    ASSERT_EQ(DBAddParseEntry("SAME(", host_same), 0);
    ASSERT_EQ(DBAddParseEntry("NEWDATE(", host_new_date), 0);
    EXPECT_EQ(text_of("DTOC(SAME(BIRTH),1)"), "19991231");
    // A date the host made itself is read in the default style.
    EXPECT_EQ(text_of("DTOC(NEWDATE(),1)"), "20030102");
}

TEST_F(ExprRegistered, FailuresOfHostFunctionsEndTheEvaluationAndLeakNothing) {
    ASSERT_EQ(DBAddParseEntry("FAIL(", host_failing), 0);
    ASSERT_EQ(DBAddParseEntry("RUN(", host_runaway), 0);
    ASSERT_EQ(DBAddParseEntry("NEST(", host_nested), 0);
    ASSERT_EQ(DBAddParseEntry("NOOP(", host_noop), 0);
    const std::size_t before = host.live_blocks();
    expect_refused("NAME+FAIL(LNAME)", DB_ERR_BAD_DATA);
    expect_refused("RUN()+NAME");
    expect_refused("NEST()");
    expect_refused("NOOP()");  // success without a value
    EXPECT_EQ(host.live_blocks(), before);
    host.fail_nth(xbdb::test::Call::reallocate, 1, ENOMEM);
    expect_refused("NAME+NAME", DB_ERR_MEMORY);
    EXPECT_EQ(host.live_blocks(), before);
    EXPECT_EQ(text_of("NAME"), "Smith");
}

TEST_F(ExprParseTable, EntriesStaySortedAndNamesAreUnique) {
    int32_t count = -1, longest = -1;
    EXPECT_EQ(DBGetTableInfo(&count, &longest), DB_WARN_EMPTY);
    for (const char* name : {"ZED(", "ABC(", "MIDDLE(", "ab"}) ASSERT_EQ(DBAddParseEntry(name, host_noop), 0);
    EXPECT_EQ(DBAddParseEntry("MIDDLE(", host_same), DB_WARN_EXISTS);
    EXPECT_EQ(DBAddParseEntry("ZED(X", host_same), DB_WARN_EXISTS);  // ZED( starts it
    EXPECT_EQ(DBGetTableInfo(&count, &longest), 0);
    EXPECT_TRUE(count == 4 && longest == 7);
    char name[16];
    std::string order;
    for (int32_t i = 0; DBGetEntryStr(name, i) == 0; ++i) order += name + " "s;
    EXPECT_EQ(order, "ABC( MIDDLE( ZED( ab ");
    EXPECT_EQ(DBGetEntryStr(name, -1), DB_WARN_NO_MORE_KEYS);
    for (const char* n : {"ZED(", "ab", "ABC(", "MIDDLE("}) EXPECT_EQ(DBDeleteParseEntry(n), 0);
    EXPECT_EQ(DBDeleteParseEntry("ZED("), DB_WARN_KEY_NOT_FOUND);
    EXPECT_EQ(DBGetTableInfo(&count, &longest), DB_WARN_EMPTY);
    // Null names and functions, and the empty name that would match every text.
    EXPECT_EQ(DBAddParseEntry(nullptr, host_noop), DB_ERR_NULL);
    EXPECT_EQ(DBAddParseEntry("F(", nullptr), DB_ERR_NULL);
    EXPECT_EQ(DBAddParseEntry("", host_noop), DB_ERR_COMMAND);
    EXPECT_EQ(DBDeleteParseEntry(nullptr), DB_ERR_NULL);
    EXPECT_EQ(DBGetTableInfo(&count, &longest), DB_WARN_EMPTY);
}

TEST_F(ExprParseTable, GrowsPastThirtyEntriesAndIsReleasedAtTerminate) {
    DBTerminate();  // the parse table needs no start-up; count its blocks alone
    const std::size_t before = host.live_blocks();
    auto name = [](int i) { return "F" + std::to_string(100 + i) + "("; };
    for (int i = 34; i >= 0; --i) ASSERT_EQ(DBAddParseEntry(name(i).c_str(), host_noop), 0) << i;
    char text[8];
    for (int i = 0; i < 35; ++i) {
        ASSERT_EQ(DBGetEntryStr(text, i), 0);
        EXPECT_EQ(text, name(i));
    }
    int32_t count = 0, longest = 0;
    EXPECT_EQ(host.live_blocks(), before + 36);  // the array and one copy per name
    DBTerminate();
    EXPECT_EQ(host.live_blocks(), before);
    EXPECT_EQ(DBGetTableInfo(&count, &longest), DB_WARN_EMPTY);
    ASSERT_EQ(DBInitialize(20, 1), 0);
}

TEST_F(ExprParseTable, AllocationFailuresLeaveTheTableAsItWas) {
    auto name = [](int i) { return "G" + std::to_string(10 + i); };
    for (int i = 0; i < 20; ++i) ASSERT_EQ(DBAddParseEntry(name(i).c_str(), host_noop), 0);
    host.fail_nth(xbdb::test::Call::reallocate, 1, ENOMEM);
    EXPECT_EQ(DBAddParseEntry("H1", host_noop), DB_ERR_MEMORY);
    host.fail_nth(xbdb::test::Call::allocate, 1, ENOMEM);
    EXPECT_EQ(DBAddParseEntry("H2", host_noop), DB_ERR_MEMORY);
    EXPECT_EQ(DBAddParseEntry("H2", host_noop), 0);
    char text[8];
    ASSERT_EQ(DBGetEntryStr(text, 20), 0);  // the 21st entry, where the failed ones would be
    EXPECT_STREQ(text, "H2");
    EXPECT_EQ(DBGetEntryStr(text, 21), DB_WARN_NO_MORE_KEYS);
}
