// Memo files written here are read by other xBase programs with the same texts, and
// theirs are read here. The peers are Debian's python3-dbfread, python3-dbf and
// Perl XBase (libdbd-xbase-perl); each prints the memo of every active record in
// hex (tests/peers/memo_*), which is compared with what was written. A peer that is
// not installed skips its part.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/api.hpp"
#include "support/peers.hpp"
#include "support/scratch_dir.hpp"

using namespace xbdb::test;

namespace {



std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The sample texts: short, long, with line breaks, none at all.
std::vector<std::string> sample_texts() {
    std::string long_text;
    while (long_text.size() < 20000) long_text += "a long memo text with words; ";
    return {"short", long_text, "line one\r\nline two\r\nline three", "", std::string(600, 'z')};
}

// The peers' form of the sample: "ID|hex" per record.
std::string expected_dump(const std::vector<std::string>& texts) {
    std::string out;
    for (std::size_t i = 0; i < texts.size(); ++i)
        out += std::to_string(i + 1) + "|" + (texts[i].empty() ? "<none>" : hex(texts[i])) + "\n";
    return out;
}

struct Layout {
    const char* name;
    int32_t dialect;
    bool fpt;
    const char* version;  // the table's version byte, for Perl XBase
};
constexpr Layout kLayouts[] = {
    {"dBASE III", 1, false, "83"}, {"dBASE IV", 2, false, "8B"}, {"FoxPro", 4, true, "F5"}};

int32_t open_memo(const Layout& l, const std::string& path) {
    int32_t h = -1;
    const int32_t code = l.fpt ? DBfpOpenMemo(&h, path.c_str(), l.dialect) : DBxbOpenMemo(&h, path.c_str(), l.dialect);
    return code < 0 ? code : h;
}

// Beside the table, with its extension in the same case.
std::string memo_path(const Layout& l, const std::string& table) {
    const bool lower = table.back() == 'f';
    return table.substr(0, table.size() - 4) + (l.fpt ? (lower ? ".fpt" : ".FPT") : (lower ? ".dbt" : ".DBT"));
}

class MemoPeers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    void write_here(const Layout& l, const std::string& table, const std::vector<std::string>& texts) {
        DBFieldSpec fields[2] = {{"ID", 'C', 6, 0}, {"NOTE", 'M', 10, 0}};
        ASSERT_EQ(DBCreateFile(table.c_str(), 2, fields, l.dialect), 0) << DBGetErrorStr();
        const std::string memo = memo_path(l, table);
        ASSERT_EQ(l.fpt ? DBfpCreateMemo(memo.c_str(), 1) : DBxbCreateMemo(memo.c_str(), 1, l.dialect), 0);
        int32_t t = -1;
        ASSERT_EQ(DBOpenFile(&t, table.c_str(), l.dialect), 0);
        const int32_t m = open_memo(l, memo);
        ASSERT_GE(m, 0);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            int32_t block = 0;
            const std::string& s = texts[i];
            if (!s.empty()) {
                ASSERT_EQ(l.fpt ? DBfpPutMemoRecord(m, &block, s.data(), static_cast<int32_t>(s.size()),
                                                    static_cast<int32_t>(s.size()), 0)
                                : DBxbPutMemoRecord(m, &block, s.c_str(), 0),
                          0);
            }
            DBClearBuffer(t);
            DBPutStrField(t, 0, std::to_string(i + 1).c_str());
            if (block) DBPutFieldData(t, 1, &block);
            int32_t n = 0;
            ASSERT_EQ(DBPutRecord(t, &n, DB_PUT_APPEND), 0);
        }
        l.fpt ? DBfpCloseMemo(m) : DBxbCloseMemo(m);
        ASSERT_EQ(DBCloseFile(t), 0);
    }

    // The table and its memo as read here, in the peers' form.
    std::string read_here(const Layout& l, const std::string& table) {
        int32_t t = -1;
        if (DBOpenFile(&t, table.c_str(), l.dialect) < 0) return std::string("table: ") + DBGetErrorStr();
        const int32_t m = open_memo(l, memo_path(l, table));
        if (m < 0) return std::string("memo: ") + DBGetErrorStr();
        int32_t count = 0;
        DBGetRecordCount(t, &count);
        std::string out;
        for (int32_t n = 1; n <= count; ++n) {
            DBGetRecord(t, n);
            char id[7] = {};
            DBGetStrField(t, 0, id);
            int32_t block = 0;
            DBGetFieldData(t, 1, &block);
            std::string text;
            char* data = nullptr;
            if (block && (l.fpt ? DBfpGetMemoRecord(m, block, &data, 0x7FFFFFFF, 0)
                                : DBxbGetMemoRecord(m, block, &data, 0)) >= 0) {
                text = data;
                DBFreeMemory(data, "", 0);
            }
            std::string name = id;
            while (!name.empty() && name.back() == ' ') name.pop_back();
            out += name + "|" + (text.empty() ? "<none>" : hex(text)) + "\n";
        }
        l.fpt ? DBfpCloseMemo(m) : DBxbCloseMemo(m);
        DBCloseFile(t);
        return out;
    }

    ScratchDir dir;
};

}  // namespace

TEST_F(MemoPeers, DbfreadAndPerlXBaseReadTheMemosWrittenHere) {
    if (!have_dbfread() && !have_perl_xbase()) GTEST_SKIP() << "neither dbfread nor Perl XBase installed";
    const std::vector<std::string> texts = sample_texts();
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.name);
        const std::string table = dir.file(std::string("OURS") + std::to_string(l.dialect) + ".DBF");
        write_here(l, table, texts);
        if (have_dbfread()) {
            EXPECT_EQ(run(kPython + " " + kPeers + "/memo_dbfread_dump.py " + table), expected_dump(texts));
        }
        if (have_perl_xbase()) {
            EXPECT_EQ(run("perl " + kPeers + "/memo_xbase_dump.pl " + table), expected_dump(texts));
        }
        EXPECT_EQ(read_here(l, table), expected_dump(texts));
    }
}

TEST_F(MemoPeers, MemosWrittenByPerlXBaseAndPythonDbfAreReadHere) {
    if (!have_python_dbf() && !have_perl_xbase()) GTEST_SKIP() << "neither python3-dbf nor Perl XBase installed";
    const std::vector<std::string> texts = sample_texts();
    const std::string input = dir.file("texts.txt");
    std::string lines;
    for (const std::string& t : texts) lines += (t.empty() ? "-" : hex(t)) + "\n";
    write_file(input, lines);
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.name);
        if (have_perl_xbase()) {
            const std::string table = dir.file(std::string("perl") + l.version + ".dbf");
            ASSERT_EQ(run("perl " + kPeers + "/memo_write_xbase.pl " + table + " " + l.version + " < " + input), "");
            EXPECT_EQ(read_here(l, table), expected_dump(texts));
        }
        if (have_python_dbf() && l.dialect != 2) {  // python3-dbf writes no dBASE IV memos
            const std::string table = dir.file(std::string("PY") + l.version + ".DBF");
            const std::string kind = l.fpt ? "fp" : "db3";
            ASSERT_EQ(run(kPython + " " + kPeers + "/memo_write_dbf.py " + table + " " + kind + " < " + input), "");
            EXPECT_EQ(read_here(l, table), expected_dump(texts));
        }
    }
}
