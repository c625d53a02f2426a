// xbdb create TABLE --field ...: a new empty table (and memo file).
// xbdb import TABLE FILE.csv: appends the rows of a CSV file whose header names
// the fields (case-blind), creating the table first when --field is given.
//
// An import works on copies of the table and its memo file in a private directory
// and moves them over the originals only when every row went in: a bad value is
// reported with its line and column, and the table is left as it was.
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "csv_reader.hpp"
#include "encoding.hpp"
#include "progress.hpp"
#include "table_files.hpp"

namespace xbdb::cli {

namespace {

constexpr const char* kCreateFooter = R"TXT(Examples:
  xbdb create customers.dbf --field NAME:C:30 --field CITY:C:20 --field BORN:D \
      --field BALANCE:N:12:2 --field ACTIVE:L --field NOTES:M
  xbdb create parts.dbf --field CODE:C:8 --field PRICE:N:10:2 --dialect 4

Types: C text (LEN up to 254), N number (LEN, DEC), F float, D date, L logical,
M memo (creates the .dbt, or .fpt in dialects 4 and 8, beside the table).)TXT";

constexpr const char* kImportFooter = R"TXT(Examples:
  xbdb import customers.dbf new.csv
  xbdb import fresh.dbf data.csv --field NAME:C:30 --field AMOUNT:N:10:2
  xbdb dump a.dbf > a.csv && xbdb import b.dbf a.csv     # copy records

The first CSV line names the fields (case-blind). Dates are YYYY-MM-DD or
YYYYMMDD, logicals T/F/Y/N, memo fields take the text itself. A column named
_deleted (as written by dump --deleted include) marks records deleted when "T".
Either every row is imported or none.)TXT";

struct CreateOptions {
    std::string table;
    std::vector<std::string> fields;
    int dialect = 1;
    bool force = false;
};

struct ImportOptions {
    std::string table;
    std::string csv;
    std::vector<std::string> fields;
    std::optional<int> dialect;
    std::optional<std::string> encoding;
    std::string encoding_errors = "strict";
};

std::vector<DBFieldSpec> field_specs(const std::vector<std::string>& texts) {
    std::vector<DBFieldSpec> specs;
    for (const auto& t : texts) specs.push_back(parse_field_spec(t));
    return specs;
}

int run_create(const CreateOptions& o) {
    LibrarySession session;
    if (!o.force && std::filesystem::exists(o.table))
        throw Failure(kProblemFound, fmt::format("{}: already exists (--force replaces it)", o.table));
    create_table(o.table, field_specs(o.fields), o.dialect);
    fmt::print("created {} with {} field{}\n", o.table, o.fields.size(), o.fields.size() == 1 ? "" : "s");
    return kSuccess;
}

// ---- import -----------------------------------------------------------------------

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) library_failure(DB_ERR_FILE_NOT_FOUND, path, "cannot read");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A value the table refuses: the library's message for a code, or a reason.
struct BadValue {
    std::string reason;
};

std::string library_reason(int32_t code) {
    DBerrno = code;
    return fmt::format("{} ({})", DBGetErrorStr(), code);
}

void expect_ok(int32_t code) {
    if (code == DB_WARN_TRUNCATED) throw BadValue{"longer than the field"};
    if (code < 0) throw BadValue{library_reason(code)};
}

std::string stored_date(const std::string& v) {
    if (v.size() == 10 && v[4] == '-' && v[7] == '-') return v.substr(0, 4) + v.substr(5, 2) + v.substr(8, 2);
    if (v.size() == 8) return v;
    throw BadValue{"not a date (YYYY-MM-DD or YYYYMMDD)"};
}

double parse_double(const std::string& v) {
    std::size_t used = 0;
    try {
        const double d = std::stod(v, &used);
        if (used == v.size()) return d;
    } catch (const std::exception&) {
    }
    throw BadValue{"not a number"};
}

class RowImporter {
public:
    RowImporter(const Table& table, MemoFile* memo, const Converter& to_table)
        : table_(table), memo_(memo), to_table_(to_table) {}

    // Puts one CSV value into field i of the record buffer.
    void put(int i, const std::string& value) {
        const std::string v = trim(value);
        if (v.empty()) return;  // the cleared buffer already holds a blank field
        const int32_t h = table_.handle();
        const auto field = static_cast<int16_t>(i);
        switch (table_.fields()[static_cast<std::size_t>(i)].type) {
            case 'N':
            case 'F': {
                double d = parse_double(v);
                return expect_ok(DBPutFieldData(h, field, &d));
            }
            case 'D': {
                std::string d = stored_date(v);
                return expect_ok(DBPutFieldData(h, field, d.data()));
            }
            case 'L': {
                char c = v[0];
                return expect_ok(DBPutFieldData(h, field, &c));
            }
            case 'M': return put_memo(field, value);
            case 'C': {
                std::string text = encode(value);
                return expect_ok(DBPutFieldData(h, field, text.data()));
            }
            default: return expect_ok(DBPutStrField(h, field, encode(value).c_str()));
        }
    }

private:
    std::string encode(const std::string& value) {
        try {
            return to_table_.convert(value);
        } catch (const EncodingError& e) {
            throw BadValue{e.what()};
        }
    }
    void put_memo(int16_t field, const std::string& value) {
        if (!memo_) throw BadValue{"the table's memo file is missing"};
        uint32_t block = 0;
        try {
            block = static_cast<uint32_t>(memo_->put(encode(value)));
        } catch (const Failure& f) {
            throw BadValue{f.what()};
        }
        expect_ok(DBPutFieldData(table_.handle(), field, &block));
    }
    const Table& table_;
    MemoFile* memo_;
    const Converter& to_table_;
};

struct Column {
    int field = -1;        // field number, or -1 for the _deleted column
};

std::vector<Column> map_columns(const Table& table, const CsvRecord& header, const std::string& csv) {
    std::vector<Column> columns;
    for (const auto& name : header.fields) {
        const std::string n = trim(name);
        if (n == "_deleted") {
            columns.push_back({-1});
            continue;
        }
        const int i = table.field_index(n);
        if (i < 0)
            throw Failure(kProblemFound, fmt::format("{}:{}: column \"{}\" matches no field of {}", csv,
                                                     header.line, n, table.path()));
        columns.push_back({i});
    }
    return columns;
}

bool is_true(const std::string& v) {
    const std::string t = trim(v);
    return t == "T" || t == "t" || t == "Y" || t == "y" || t == "true" || t == "*";
}

int64_t import_rows(const Table& table, MemoFile* memo, CsvReader& reader, const ImportOptions& o) {
    auto header = reader.next();
    if (!header) throw Failure(kProblemFound, fmt::format("{}: empty file (the first line must name the fields)", o.csv));
    const std::vector<Column> columns = map_columns(table, *header, o.csv);
    const Converter to_table("UTF-8", code_page_for(o.encoding, table.language_driver()),
                             o.encoding_errors == "strict" ? EncodingErrors::strict : EncodingErrors::replace);
    RowImporter importer(table, memo, to_table);
    Progress progress("import", static_cast<int64_t>(reader.size()));
    int64_t rows = 0;
    while (auto record = reader.next()) {
        if (record->fields.size() == 1 && record->fields[0].empty()) continue;  // blank line
        if (record->fields.size() != columns.size())
            throw Failure(kProblemFound, fmt::format("{}:{}: {} values, but the header names {} columns", o.csv,
                                                     record->line, record->fields.size(), columns.size()));
        check(DBClearBuffer(table.handle()), table.path(), "cannot clear the record buffer");
        bool deleted = false;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (columns[c].field < 0) {
                deleted = is_true(record->fields[c]);
                continue;
            }
            try {
                importer.put(columns[c].field, record->fields[c]);
            } catch (const BadValue& bad) {
                throw Failure(kProblemFound,
                              fmt::format("{}:{}: column {} ({}): bad value \"{}\": {}; nothing was imported", o.csv,
                                          record->line, c + 1,
                                          table.fields()[static_cast<std::size_t>(columns[c].field)].name,
                                          record->fields[c], bad.reason));
            }
        }
        int32_t number = 0;
        check(DBPutRecord(table.handle(), &number, DB_PUT_APPEND), table.path(), "cannot append a record");
        if (deleted) check(DBMarkRecordInActive(table.handle(), number), table.path(), "cannot mark a record deleted");
        ++rows;
        progress.update(static_cast<int64_t>(reader.position()));
    }
    return rows;
}

int run_import(const ImportOptions& o) {
    LibrarySession session;
    CsvReader reader(read_whole_file(o.csv));
    const std::filesystem::path final(o.table);
    const bool creating = !o.fields.empty();
    if (creating && std::filesystem::exists(final))
        throw Failure(kProblemFound, fmt::format("{}: already exists (leave out --field to append to it)", o.table));
    if (!creating && !std::filesystem::exists(final)) library_failure(DB_ERR_FILE_NOT_FOUND, o.table, "cannot open");

    Staging staging(final.parent_path());
    const std::string work = staging.stage(final, !creating);
    if (creating) {
        const int dialect = o.dialect.value_or(1);
        create_table(work, field_specs(o.fields), dialect);
        const std::string memo_work = memo_name_for(work, dialect);
        if (std::filesystem::exists(memo_work))
            staging.stage(std::filesystem::path(memo_name_for(o.table, dialect)), false);
    } else {
        for (const char* ext : {"DBT", "FPT"})
            if (auto memo = find_companion(o.table, ext)) staging.stage(*memo, true);
    }
    int64_t rows = 0;
    {
        Table table(work, false, o.dialect);
        std::optional<MemoFile> memo;
        if (auto memo_path = memo_path_of(table)) memo.emplace(*memo_path, table.memo_kind(), table.dialect(), false);
        try {
            rows = import_rows(table, memo ? &*memo : nullptr, reader, o);
        } catch (const std::runtime_error& e) {
            if (dynamic_cast<const Failure*>(&e)) throw;
            throw Failure(kProblemFound, fmt::format("{}: {}; nothing was imported", o.csv, e.what()));
        }
    }
    staging.commit();
    fmt::print("imported {} record{} into {}\n", rows, rows == 1 ? "" : "s", o.table);
    return kSuccess;
}

}  // namespace

void add_create_command(CLI::App& app, Commands& out) {
    auto o = std::make_shared<CreateOptions>();
    CLI::App* sub = app.add_subcommand("create", "Create an empty table");
    sub->footer(kCreateFooter);
    sub->add_option("TABLE", o->table, "DBF table to create")->required();
    sub->add_option("--field", o->fields, "NAME:TYPE:LEN[:DEC], once per field, in order")->required();
    sub->add_option("--dialect", o->dialect, "Table dialect 0..9 (1 dBASE III, 2 dBASE IV, 4 FoxPro, 5 Clipper)")
        ->check(CLI::Range(0, 9));
    sub->add_flag("--force", o->force, "Replace an existing file");
    out.push_back({sub, [o] { return run_create(*o); }});
}

void add_import_command(CLI::App& app, Commands& out) {
    auto o = std::make_shared<ImportOptions>();
    CLI::App* sub = app.add_subcommand("import", "Append the rows of a CSV file to a table");
    sub->footer(kImportFooter);
    sub->add_option("TABLE", o->table, "DBF table")->required();
    sub->add_option("CSV", o->csv, "CSV file, UTF-8, first line naming the fields")->required();
    sub->add_option("--field", o->fields, "Create the table first: NAME:TYPE:LEN[:DEC], once per field");
    sub->add_option("--dialect", o->dialect, "Table dialect 0..10 (default: from the version byte; 1 on create)")
        ->check(CLI::Range(0, 10));
    sub->add_option("--encoding", o->encoding, "Code page of the table's text (default: from the language-driver "
                    "byte, else CP437)");
    sub->add_option("--encoding-errors", o->encoding_errors, "Characters the code page lacks: strict (refuse, "
                    "the default) or replace ('?')")
        ->check(CLI::IsMember(kEncodingErrorChoices));
    out.push_back({sub, [o] { return run_import(*o); }});
}

}  // namespace xbdb::cli
