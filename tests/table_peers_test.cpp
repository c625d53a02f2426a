// Other xBase programs read the tables written here, and tables they write open
// here with the same values. The peers are Debian's python3-dbfread, python3-dbf
// and Perl XBase (libdbd-xbase-perl); each prints a table in one normalised form
// (tests/peers/*), which is compared with what this library reads or was told to
// write. A peer that is not installed skips its test; CI installs them all.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/api.hpp"
#include "support/peers.hpp"
#include "support/scratch_dir.hpp"

namespace {

using namespace xbdb::test;


std::string rstrip(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The table as this library reads it, in the peers' normalised form.
std::string our_dump(const std::string& path, int32_t dialect) {
    int32_t h = -1;
    if (DBOpenFile(&h, path.c_str(), dialect) < 0) return std::string("open failed: ") + DBGetErrorStr();
    DBRecordInfo info{};
    DBGetRecordInfo(h, &info);
    std::vector<DBFieldSpec> spec(info.field_count);
    std::string out = "fields";
    for (int16_t i = 0; i < info.field_count; ++i) {
        DBGetFieldDescription(h, i, &spec[i]);
        const char type = static_cast<char>(spec[i].type);
        const bool numeric = type == 'N' || type == 'F';
        out += " " + std::string(spec[i].name) + ":" + type + ":" + std::to_string(spec[i].length) +
               ":" + std::to_string(numeric ? spec[i].decimals : 0);
    }
    out += "\n";
    int32_t count = 0;
    DBGetRecordCount(h, &count);
    std::string active, deleted;
    for (int32_t n = 1; n <= count; ++n) {
        const bool is_deleted = DBGetRecord(h, n) == DB_WARN_DELETED;
        std::string line = is_deleted ? "*" : " ";
        for (int16_t i = 0; i < info.field_count; ++i) {
            if (i) line += "|";
            std::vector<char> text(spec[i].length + 1 + (spec[i].decimals << 8) + 256);
            const char type = static_cast<char>(spec[i].type);
            if (type == 'M') {
                line += "<memo>";
            } else if (type == 'N' || type == 'F') {
                double value = 0;
                DBGetFieldData(h, i, &value);
                char printed[64];
                if (spec[i].decimals)
                    std::snprintf(printed, sizeof printed, "%.*f", spec[i].decimals, value);
                else
                    std::snprintf(printed, sizeof printed, "%lld", static_cast<long long>(value));
                line += printed;
            } else if (type == 'L') {
                char value = '?';
                DBGetFieldData(h, i, &value);
                line += value == 1 ? "T" : value == 0 ? "F" : "<none>";
            } else {
                DBGetStrField(h, i, text.data());
                std::string value = rstrip(text.data());
                line += (type == 'D' && value.empty()) ? "<none>" : value;
            }
        }
        (is_deleted ? deleted : active) += line + "\n";
    }
    DBCloseFile(h);
    return out + active + deleted;
}

// The sample that every peer test writes: three records, the second deleted.
const char* const kSampleDump =
    "fields NAME:C:20:0 QTY:N:5:0 PRICE:N:9:2 SOLD:D:8:0 PAID:L:1:0\n"
    " Alice|3|12.50|20240131|T\n"
    " Carol x|120|-7.25|19991231|<none>\n"
    "*Bob|0|0.00|<none>|F\n";

void write_sample(const std::string& path, int32_t dialect) {
    DBFieldSpec fields[5] = {
        {"name", 'C', 20, 0}, {"QTY", 'N', 5, 0}, {"PRICE", 'n', 9, 2}, {"SOLD", 'D', 8, 0},
        {"PAID", 'L', 1, 0}};
    ASSERT_EQ(DBCreateFile(path.c_str(), 5, fields, dialect), 0) << DBGetErrorStr();
    int32_t h = -1;
    ASSERT_EQ(DBOpenFile(&h, path.c_str(), dialect), 0) << DBGetErrorStr();
    struct Row {
        const char* name;
        double qty, price;
        const char* sold;
        char paid;
    } rows[] = {{"Alice", 3, 12.5, "20240131", 'T'}, {"Bob", 0, 0, "", 'F'},
                {"Carol x", 120, -7.25, "19991231", '?'}};
    DBSetDefaultDateStyle(DB_DATE_YYYYMMDD);
    for (Row& row : rows) {
        int32_t n = 0;
        DBClearBuffer(h);
        ASSERT_GE(DBPutStrField(h, 0, row.name), 0);
        ASSERT_GE(DBPutFieldData(h, 1, &row.qty), 0);
        ASSERT_GE(DBPutFieldData(h, 2, &row.price), 0);
        ASSERT_GE(DBPutFieldData(h, 3, const_cast<char*>(row.sold)), 0) << DBGetErrorStr();
        ASSERT_GE(DBPutFieldData(h, 4, &row.paid), 0);
        ASSERT_GE(DBPutRecord(h, &n, DB_PUT_APPEND), 0) << DBGetErrorStr();
    }
    ASSERT_EQ(DBMarkRecordInActive(h, 2), 0);
    ASSERT_EQ(DBCloseFile(h), 0);
}

class TablePeers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }
    xbdb::test::ScratchDir dir;
};

}  // namespace

TEST_F(TablePeers, DbfreadAndPerlXBaseReadTablesWrittenHere) {
    if (!have_dbfread() && !have_perl_xbase()) GTEST_SKIP() << "neither dbfread nor Perl XBase installed";
    for (int32_t dialect : {1, 3, 5, 7, 9}) {
        SCOPED_TRACE("dialect " + std::to_string(dialect));
        const std::string path = dir.file("OURS" + std::to_string(dialect) + ".DBF");
        write_sample(path, dialect);
        if (have_dbfread()) {
            EXPECT_EQ(run(kPython + " " + kPeers + "/dbfread_dump.py " + path), kSampleDump);
        }
        if (have_perl_xbase()) {
            EXPECT_EQ(run("perl " + kPeers + "/xbase_dump.pl " + path), kSampleDump);
        }
        EXPECT_EQ(our_dump(path, dialect), kSampleDump);
    }
}

TEST_F(TablePeers, PeersReadAnEmptyTableAndLongCharacterFields) {
    if (!have_dbfread() || !have_perl_xbase()) GTEST_SKIP() << "dbfread or Perl XBase not installed";
    const std::string empty = dir.file("EMPTY.DBF");
    DBFieldSpec one[1] = {{"CODE", 'C', 4, 0}};
    ASSERT_EQ(DBCreateFile(empty.c_str(), 1, one, 1), 0);
    EXPECT_EQ(run(kPython + " " + kPeers + "/dbfread_dump.py " + empty), "fields CODE:C:4:0\n");
    EXPECT_EQ(run("perl " + kPeers + "/xbase_dump.pl " + empty), "fields CODE:C:4:0\n");

    // A 300-character field keeps its high length byte in the decimals byte.
    const std::string wide = dir.file("WIDE.DBF");
    DBFieldSpec fields[2] = {{"ID", 'N', 4, 0}, {"NOTE", 'C', 300, 0}};
    ASSERT_EQ(DBCreateFile(wide.c_str(), 2, fields, 6), 0);
    int32_t h = -1, n = 0;
    ASSERT_EQ(DBOpenFile(&h, wide.c_str(), 6), 0);
    const std::string note = std::string(299, 'x') + "y";
    double id = 42;
    DBClearBuffer(h);
    DBPutFieldData(h, 0, &id);
    DBPutStrField(h, 1, note.c_str());
    ASSERT_EQ(DBPutRecord(h, &n, DB_PUT_APPEND), 0);
    ASSERT_EQ(DBCloseFile(h), 0);
    const std::string expected = "fields ID:N:4:0 NOTE:C:300:0\n 42|" + note + "\n";
    EXPECT_EQ(run(kPython + " " + kPeers + "/dbfread_dump.py " + wide), expected);
    EXPECT_EQ(run("perl " + kPeers + "/xbase_dump.pl " + wide), expected);
}

TEST_F(TablePeers, TablesWrittenByPythonDbfOpenHere) {
    if (!have_python_dbf() || !have_dbfread()) GTEST_SKIP() << "python3-dbf or dbfread not installed";
    const struct {
        const char* kind;
        int32_t dialect;
    } kinds[] = {{"db3", 1}, {"fp", 4}};
    for (auto [kind, dialect] : kinds) {
        SCOPED_TRACE(kind);
        const std::string path = dir.file(std::string("PY") + kind + ".DBF");
        ASSERT_EQ(run(kPython + " " + kPeers + "/dbf_write.py " + path + " " + kind), "");
        const std::string theirs = run(kPython + " " + kPeers + "/dbfread_dump.py " + path);
        EXPECT_EQ(our_dump(path, dialect), theirs);
    }
}

TEST_F(TablePeers, TablesWrittenByPerlXBaseOpenHere) {
    if (!have_perl_xbase()) GTEST_SKIP() << "Perl XBase not installed";
    const std::string path = dir.file("perl.dbf");  // Perl XBase adds ".dbf" to other names
    ASSERT_EQ(run("perl " + kPeers + "/xbase_write.pl " + path), "");
    const std::string theirs = run("perl " + kPeers + "/xbase_dump.pl " + path);
    ASSERT_NE(theirs.find("NOTE:C:300"), std::string::npos) << theirs;
    EXPECT_EQ(our_dump(path, 1), theirs);
}
