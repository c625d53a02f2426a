// xbdb dump TABLE: the records of a table as CSV, TSV, JSON, JSON Lines or an
// aligned table, with memo texts resolved and text converted to UTF-8.
#include <cstdio>
#include <memory>
#include <optional>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "encoding.hpp"
#include "output_formats.hpp"
#include "record_values.hpp"

namespace xbdb::cli {

namespace {

struct DumpOptions {
    std::string table;
    std::string format;
    std::vector<std::string> fields;
    int64_t limit = -1;
    std::string deleted = "skip";
    std::optional<std::string> encoding;
    std::string encoding_errors = "replace";
    std::optional<int> dialect;
};

constexpr const char* kFooter = R"TXT(Examples:
  xbdb dump customers.dbf                       # CSV when piped, a table on a terminal
  xbdb dump customers.dbf --format jsonl --fields NAME,CITY --limit 100
  xbdb dump old.dbf --encoding CP850 --encoding-errors strict
  xbdb dump customers.dbf --deleted only        # just the records marked deleted)TXT";

// The field numbers to show: all, or those named (case-blind), in the given order.
std::vector<int> selected_fields(const Table& table, const std::vector<std::string>& names) {
    std::vector<int> out;
    if (names.empty()) {
        for (std::size_t i = 0; i < table.fields().size(); ++i) out.push_back(static_cast<int>(i));
        return out;
    }
    for (const auto& name : names) {
        const int i = table.field_index(name);
        if (i < 0) usage_failure(fmt::format("{}: no field named {}", table.path(), name));
        out.push_back(i);
    }
    return out;
}

std::optional<MemoFile> open_memo(const Table& table, bool& missing) {
    missing = false;
    if (table.memo_kind() == MemoKind::none) return std::nullopt;
    const auto path = memo_path_of(table);
    if (!path) {
        missing = true;
        return std::nullopt;
    }
    return std::optional<MemoFile>(std::in_place, *path, table.memo_kind(), table.dialect(), true);
}

int run_dump(const DumpOptions& o) {
    LibrarySession session;
    Table table(o.table, true, o.dialect);
    bool memo_missing = false;
    std::optional<MemoFile> memo = open_memo(table, memo_missing);
    if (memo_missing)
        fmt::print(stderr, "xbdb: {}: warning: no memo file found beside it; memo fields are empty\n", o.table);
    const Converter text(code_page_for(o.encoding, table.language_driver()), "UTF-8",
                         o.encoding_errors == "strict" ? EncodingErrors::strict : EncodingErrors::replace);
    const std::vector<int> fields = selected_fields(table, o.fields);
    const bool flag_column = o.deleted != "skip";
    std::vector<std::string> columns;
    if (flag_column) columns.push_back("_deleted");
    for (int i : fields) columns.push_back(table.fields()[static_cast<std::size_t>(i)].name);

    auto writer = make_writer(choose_format(o.format, stdout), stdout);
    writer->header(columns);
    RecordReader reader(table, memo ? &*memo : nullptr, text);
    int problems = 0;
    const int32_t count = table.record_count();
    int64_t shown = 0;
    for (int32_t n = 1; n <= count && (o.limit < 0 || shown < o.limit); ++n) {
        const bool deleted = table.read(n);
        if ((o.deleted == "skip" && deleted) || (o.deleted == "only" && !deleted)) continue;
        std::vector<Cell> cells;
        if (flag_column) cells.push_back(Cell::of_bool(deleted));
        for (int i : fields) {
            cells.push_back(reader.value(i));
            if (auto problem = reader.take_problem()) {
                fmt::print(stderr, "xbdb: record {}: {}\n", n, *problem);
                ++problems;
            }
        }
        writer->row(cells);
        ++shown;
    }
    writer->finish();
    return problems || memo_missing ? kProblemFound : kSuccess;
}

}  // namespace

void add_dump_command(CLI::App& app, Commands& out) {
    auto o = std::make_shared<DumpOptions>();
    CLI::App* sub = app.add_subcommand("dump", "Write the records of a table to stdout");
    sub->footer(kFooter);
    sub->add_option("TABLE", o->table, "DBF table")->required();
    sub->add_option("-f,--format", o->format, "csv, tsv, json, jsonl or table "
                    "(default: table on a terminal, else csv)")
        ->check(CLI::IsMember({"csv", "tsv", "json", "jsonl", "table"}));
    sub->add_option("--fields", o->fields, "Fields to show, comma-separated")->delimiter(',');
    sub->add_option("-n,--limit", o->limit, "Show at most this many records")->check(CLI::NonNegativeNumber);
    sub->add_option("--deleted", o->deleted, "Records marked deleted: skip, include or only "
                    "(include and only add a _deleted column)")
        ->check(CLI::IsMember({"skip", "include", "only"}));
    sub->add_option("--encoding", o->encoding, "Code page of the table's text (iconv name, e.g. CP850); "
                    "default: from the language-driver byte, else CP437");
    sub->add_option("--encoding-errors", o->encoding_errors, "Bytes the code page cannot show: "
                    "replace (U+FFFD) or strict (fail)")
        ->check(CLI::IsMember(kEncodingErrorChoices));
    sub->add_option("--dialect", o->dialect, "Table dialect 0..10 (default: from the version byte)")
        ->check(CLI::Range(0, 10));
    out.push_back({sub, [o] { return run_dump(*o); }});
}

}  // namespace xbdb::cli
