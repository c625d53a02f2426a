// xbdb pack TABLE [--memo]: removes the records marked deleted and, with --memo,
// the memo texts no record refers to any more.
#include <filesystem>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "progress.hpp"
#include "table_pack.hpp"

namespace xbdb::cli {

namespace {

constexpr const char* kFooter = R"TXT(Examples:
  xbdb pack customers.dbf            # drop the records marked deleted
  xbdb pack customers.dbf --memo     # and the memo texts nothing refers to
The old table is kept as a .BAK file and the old memo file as a .BKT file.
Indexes over the table must be rebuilt afterwards (xbdb index build).)TXT";

struct PackOptions {
    std::string table;
    bool memo = false;
    std::optional<int> dialect;
};

int64_t file_size(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}

int run_pack(const PackOptions& o) {
    LibrarySession session;
    Table table(o.table, false, o.dialect);
    std::optional<MemoFile> memo;
    if (o.memo) {
        const auto path = memo_path_of(table);
        if (!path) throw Failure(kProblemFound, fmt::format("{}: no memo file to pack", o.table));
        memo.emplace(*path, table.memo_kind(), table.dialect(), false);
    }
    const int32_t before = table.record_count();
    int result = kSuccess;
    if (table_pack_available()) {
        Progress progress("pack", 1);
        pack_table(table);
        const int32_t after = table.record_count();
        fmt::print("packed {}: {} records kept, {} removed\n", o.table, after, before - after);
        if (before != after) fmt::print("indexes over {} must be rebuilt (xbdb index build)\n", o.table);
    } else {
        fmt::print(stderr, "xbdb: {}: the table pack (DBPackFile) is not in this build of the library yet; "
                           "records were not removed\n", o.table);
        result = kProblemFound;
    }
    if (memo) {
        const int64_t size_before = file_size(memo->path());
        pack_memo(table, *memo);
        fmt::print("packed {}: {} -> {} bytes\n", memo->path(), size_before, file_size(memo->path()));
    }
    return result;
}

}  // namespace

void add_pack_command(CLI::App& app, Commands& out) {
    auto o = std::make_shared<PackOptions>();
    CLI::App* sub = app.add_subcommand("pack", "Remove deleted records (and unused memo texts)");
    sub->footer(kFooter);
    sub->add_option("TABLE", o->table, "DBF table")->required();
    sub->add_flag("--memo", o->memo, "Also pack the memo file");
    sub->add_option("--dialect", o->dialect, "Table dialect 0..10 (default: from the version byte)")
        ->check(CLI::Range(0, 10));
    out.push_back({sub, [o] { return run_pack(*o); }});
}

}  // namespace xbdb::cli
