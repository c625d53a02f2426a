// The xbdb tool end to end: golden output of every command on a small fixed table,
// round trips through CSV, exit codes and messages on missing files, bad arguments
// and damaged files, and `check` finding a hand-damaged index and memo file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli_runner.hpp"

namespace xbdb::cli_test {
namespace {

constexpr const char* kFields =
    "--field ID:N:4 --field NAME:C:20 --field CITY:C:12 --field SINCE:D --field BALANCE:N:10:2 "
    "--field ACTIVE:L --field NOTES:M";

// CUST.DBF and CUST.DBT made from the golden customers.csv (one record deleted).
class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ws.write("customers.csv", read_golden("customers.csv"));
        const Result r = ws.xbdb(std::string("import CUST.DBF customers.csv ") + kFields);
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    static std::string read_golden(const std::string& name) {
        std::ifstream in(golden_path(name), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Runs the command, expects the exit code and the golden stdout.
    void expect_golden(const std::string& args, const std::string& name, int exit_code = 0) {
        const Result r = ws.xbdb(args);
        EXPECT_EQ(r.exit_code, exit_code) << args << "\n" << r.err;
        const std::string out = mask_dates(r.out);
        EXPECT_EQ(out, golden(name, out)) << args;
    }
    void build_names_index() {
        const Result r = ws.xbdb("index build CUST.DBF NAMES.NTX --expr \"UPPER(NAME)\"");
        ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    Workspace ws;
};

TEST_F(CliTest, DumpFormatsMatchTheGoldenFiles) {
    expect_golden("dump CUST.DBF", "dump.csv");
    expect_golden("dump CUST.DBF --format tsv", "dump.tsv");
    expect_golden("dump CUST.DBF --format json", "dump.json");
    expect_golden("dump CUST.DBF --format jsonl --fields name,since --limit 2", "dump_fields.jsonl");
    expect_golden("dump CUST.DBF --format table --deleted include", "dump_table.txt");
    expect_golden("dump CUST.DBF --deleted only", "dump_deleted.csv");
}

TEST_F(CliTest, DumpOfAnImportedCsvGivesItBackByteForByte) {
    const Result r = ws.xbdb("dump CUST.DBF --deleted include");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, ws.read("customers.csv"));
}

TEST_F(CliTest, FoxProTableWithFptMemoRoundTrips) {
    Result r = ws.xbdb(std::string("import FOX.DBF customers.csv --dialect 4 ") + kFields);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(ws.dir() / "FOX.FPT"));
    r = ws.xbdb("dump FOX.DBF --deleted include");
    EXPECT_EQ(r.out, ws.read("customers.csv"));
}

TEST_F(CliTest, ImportAppendsToAnExistingTableFoundCaseBlind) {
    ws.write("more.csv", "name,Id,notes\nZed,9,\"a note\"\n");
    Result r = ws.xbdb("import CUST.DBF more.csv");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::filesystem::rename(ws.dir() / "CUST.DBT", ws.dir() / "cust.dbt");
    r = ws.xbdb("dump CUST.DBF --format csv --fields ID,NAME,NOTES");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("9,Zed,a note\n"), std::string::npos) << r.out;
}

TEST_F(CliTest, BadValueNamesLineAndColumnAndLeavesTheTableAsItWas) {
    const std::string before = ws.read("CUST.DBF") + ws.read("CUST.DBT");
    ws.write("bad.csv", "ID,NAME,SINCE\n7,Good,2020-01-01\n8,\"Two\nlines\",2020-01-01\n9,Bad,2023-02-30\n");
    Result r = ws.xbdb("import CUST.DBF bad.csv");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "xbdb: bad.csv:5: column 3 (SINCE): bad value \"2023-02-30\": ERROR - invalid date (-215); "
                     "nothing was imported\n");
    EXPECT_EQ(ws.read("CUST.DBF") + ws.read("CUST.DBT"), before);
    ws.write("long.csv", "NAME\nThis name is far too long for twenty\n");
    r = ws.xbdb("import CUST.DBF long.csv");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("long.csv:2: column 1 (NAME)"), std::string::npos) << r.err;
    ws.write("nan.csv", "BALANCE\n12x\n");
    EXPECT_NE(ws.xbdb("import CUST.DBF nan.csv").err.find("not a number"), std::string::npos);
    EXPECT_EQ(ws.read("CUST.DBF") + ws.read("CUST.DBT"), before);
    r = ws.xbdb(std::string("import NEW.DBF bad.csv ") + kFields);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_FALSE(std::filesystem::exists(ws.dir() / "NEW.DBF"));
    EXPECT_FALSE(std::filesystem::exists(ws.dir() / "NEW.DBT"));
}

TEST_F(CliTest, TextIsConvertedBetweenUtf8AndTheCodePage) {
    // "Müller" is stored in CP437 (ü = 0x81) and comes back as UTF-8.
    EXPECT_NE(ws.read("CUST.DBF").find("M\x81ller"), std::string::npos);
    Result r = ws.xbdb("dump CUST.DBF --fields NAME --encoding CP850 --limit 1");
    EXPECT_EQ(r.out, "NAME\n\"Müller, Anna\"\n");
    r = ws.xbdb("dump CUST.DBF --fields NAME --encoding ASCII --encoding-errors strict");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("0x81"), std::string::npos) << r.err;
    r = ws.xbdb("dump CUST.DBF --fields NAME --encoding ASCII --limit 1");
    EXPECT_EQ(r.out, "NAME\n\"M\xEF\xBF\xBDller, Anna\"\n");
    ws.write("euro.csv", "NAME\n5 \xE2\x82\xAC\n");
    r = ws.xbdb("import CUST.DBF euro.csv");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("cannot be converted from UTF-8 to CP437"), std::string::npos) << r.err;
}

TEST_F(CliTest, CreateMakesAnEmptyTableAndRefusesBadSpecs) {
    expect_golden("create P.DBF --field CODE:C:8 --field PRICE:N:10:2 --field SEEN:D", "create.txt");
    expect_golden("info P.DBF", "info_empty.txt");
    EXPECT_EQ(ws.xbdb("create P.DBF --field CODE:C:8").exit_code, 1);
    EXPECT_EQ(ws.xbdb("create Q.DBF --field CODE:X:8").exit_code, 2);
    EXPECT_EQ(ws.xbdb("create Q.DBF --field CODE:C").exit_code, 2);
    EXPECT_EQ(ws.xbdb("create Q.DBF --field NAME_TOO_LONG:C:3").exit_code, 2);
}

TEST_F(CliTest, InfoDescribesTableMemoAndIndex) {
    build_names_index();
    expect_golden("info CUST.DBF CUST.DBT NAMES.NTX", "info.txt");
}

TEST_F(CliTest, IndexBuildSeekAndDump) {
    build_names_index();
    expect_golden("index dump NAMES.NTX", "index_dump.csv");
    expect_golden("index seek NAMES.NTX SMITH", "seek_hit.txt");
    expect_golden("index seek NAMES.NTX NOBODY", "seek_miss.txt", 1);
    Result r = ws.xbdb("index build CUST.DBF SINCE.NTX --expr SINCE");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    expect_golden("index seek SINCE.NTX 1999-12-31 --type D --next 1", "seek_date.txt");
    r = ws.xbdb("index build CUST.DBF C.MDX --expr NAME");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "xbdb: C.MDX: dBASE IV MDX indexes are not supported by this build yet\n");
    EXPECT_EQ(ws.xbdb("index build CUST.DBF X.NTX --expr \"NOSUCH+\"").exit_code, 1);
}

TEST_F(CliTest, CheckReportsASoundTable) {
    build_names_index();
    expect_golden("check CUST.DBF NAMES.NTX", "check_ok.txt");
}

TEST_F(CliTest, CheckFindsAHandDamagedIndex) {
    build_names_index();
    // The root page (offset 1024) claims 0xFF keys: more than a page can hold.
    ws.patch("NAMES.NTX", 1024, "\xFF");
    expect_golden("check CUST.DBF NAMES.NTX", "check_bad_index.txt", 1);
}

TEST_F(CliTest, CheckFindsAMissingKey) {
    ws.write("two.csv", "NAME\nZed\n");
    build_names_index();
    ASSERT_EQ(ws.xbdb("import CUST.DBF two.csv").exit_code, 0);  // the index is not updated
    expect_golden("check CUST.DBF NAMES.NTX", "check_missing_key.txt", 1);
}

TEST_F(CliTest, CheckFindsAHandDamagedMemoFile) {
    // Texts went to blocks 1, 2 and 3 (records 1, 3, 4); the file now ends five
    // bytes into record 4's text.
    ws.truncate("CUST.DBT", 3 * 512 + 5);
    // Record 2 points its empty memo field at record 1's text. Header 32 + 7 x 32 + 1
    // = 257 bytes, records of 66 bytes, NOTES at byte 56 of a record.
    ws.patch("CUST.DBF", 257 + 66 + 56, "         1");
    expect_golden("check CUST.DBF", "check_bad_memo.txt", 1);
}

TEST_F(CliTest, CheckFindsAHeaderThatDisagreesWithTheFileSize) {
    ws.write("x.csv", "NAME\nA\nB\n");
    ASSERT_EQ(ws.xbdb("import CUST.DBF x.csv").exit_code, 0);
    const auto size = std::filesystem::file_size(ws.dir() / "CUST.DBF");
    ws.truncate("CUST.DBF", size - 30);
    const Result r = ws.xbdb("check CUST.DBF");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("header against file size: 1 problem"), std::string::npos) << r.out << r.err;
}

TEST_F(CliTest, PackDropsDeletedRecordsAndUnusedMemoTexts) {
    const auto memo_before = std::filesystem::file_size(ws.dir() / "CUST.DBT");
    const Result r = ws.xbdb("pack CUST.DBF --memo");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("4 records kept, 1 removed"), std::string::npos) << r.out;
    EXPECT_LT(std::filesystem::file_size(ws.dir() / "CUST.DBT"), memo_before);
    EXPECT_EQ(ws.xbdb("dump CUST.DBF --deleted only").out, "_deleted,ID,NAME,CITY,SINCE,BALANCE,ACTIVE,NOTES\n");
    expect_golden("dump CUST.DBF", "dump.csv");
    EXPECT_EQ(ws.xbdb("check CUST.DBF").exit_code, 0);
}

TEST_F(CliTest, ErrorsGoToStderrWithTheFileNameAndExitCode) {
    Result r = ws.xbdb("dump MISSING.DBF");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "xbdb: MISSING.DBF: cannot open: ERROR - file not found (-205)\n");
    EXPECT_EQ(r.out, "");
    ws.write("SHORT.DBF", std::string("\x03\x7a\x01\x01", 4));
    r = ws.xbdb("info SHORT.DBF");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err.rfind("xbdb: SHORT.DBF: cannot open the table: ", 0), 0u) << r.err;
    EXPECT_EQ(ws.xbdb("").exit_code, 2);
    EXPECT_EQ(ws.xbdb("frobnicate").exit_code, 2);
    EXPECT_EQ(ws.xbdb("dump").exit_code, 2);
    EXPECT_EQ(ws.xbdb("dump CUST.DBF --format xml").exit_code, 2);
    EXPECT_EQ(ws.xbdb("dump CUST.DBF --fields NOPE").exit_code, 2);
    r = ws.xbdb("dump --help");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find("Examples:"), std::string::npos);
    r = ws.xbdb("index seek NOPE.NTX A");
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("NOPE.NTX"), std::string::npos);
}

TEST_F(CliTest, DemoRunsOnASmallSample) {
    const Result r = ws.xbdb("demo demo --records 3000");
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("check NAMES.NTX"), std::string::npos) << r.out;
    EXPECT_EQ(ws.xbdb("check demo/CUSTOMERS.DBF demo/NAMES.NTX demo/SINCE.NTX").exit_code, 0);
}

}  // namespace
}  // namespace xbdb::cli_test
