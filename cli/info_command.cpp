// xbdb info FILE...: what a table, memo file or index holds, read through the
// library's header calls.
#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "encoding.hpp"
#include "index_file.hpp"
#include "memo/dbt_format.hpp"
#include "memo/fpt_format.hpp"

namespace xbdb::cli {

namespace {

constexpr const char* kFooter = R"TXT(Examples:
  xbdb info customers.dbf
  xbdb info customers.dbt names.ntx
  xbdb info *.dbf)TXT";

struct DialectName {
    int dialect;
    const char* name;
};

constexpr DialectName kDialectNames[] = {
    {0, "generic"},          {1, "dBASE III"},  {2, "dBASE IV"},
    {3, "FoxBASE"},          {4, "FoxPro"},     {5, "Clipper"},
    {6, "Clipper (long C fields)"},             {7, "whole-record end mark"},
    {8, "FoxPro with production index"},        {9, "terminator slot"},
    {10, "Visual FoxPro"},
};

const char* dialect_name(int d) {
    for (const auto& row : kDialectNames)
        if (row.dialect == d) return row.name;
    return "?";
}

void print_fields(const Table& table) {
    fmt::print("  {:<3} {:<10} {:<4} {:>6} {:>4}\n", "#", "name", "type", "length", "dec");
    int i = 1;
    for (const FieldInfo& f : table.fields())
        fmt::print("  {:<3} {:<10} {:<4} {:>6} {:>4}\n", i++, f.name, f.type, f.length, f.decimals);
}

void info_table(const std::string& path) {
    Table table(path, true);
    const uint8_t driver = table.language_driver();
    const char* cp = code_page_of_driver(driver);
    fmt::print("{}: DBF table\n", path);
    fmt::print("  version byte:    0x{:02X} (opened as dialect {}, {})\n", table.version(), table.dialect(),
               dialect_name(table.dialect()));
    fmt::print("  records:         {}\n", table.record_count());
    fmt::print("  header length:   {}\n", table.header_length());
    fmt::print("  record length:   {}\n", table.record_length());
    fmt::print("  last update:     {}\n", table.last_update());
    fmt::print("  language driver: 0x{:02X} ({})\n", driver, cp ? cp : "none; text read as CP437");
    if (table.memo_kind() != MemoKind::none) {
        const auto memo = memo_path_of(table);
        fmt::print("  memo file:       {}\n", memo ? *memo : std::string("missing"));
    } else {
        fmt::print("  memo file:       none\n");
    }
    fmt::print("  fields:          {}\n", table.fields().size());
    print_fields(table);
}

void info_memo(const std::string& path) {
    auto memo = MemoFile::open_any(path);
    if (!memo) library_failure(DBerrno ? DBerrno : DB_ERR_NOT_MEMO, path, "cannot open the memo file");
    fmt::print("{}: memo file\n", path);
    if (memo->kind() == MemoKind::fpt) {
        const memo::FptPacket* m = memo::_DBfpLockMemoStruc(memo->handle());
        fmt::print("  layout:          FoxPro FPT\n");
        fmt::print("  block size:      {}\n", m->block_size);
        fmt::print("  next free block: {}\n", m->next_free);
        return;
    }
    const memo::DbtPacket* m = memo::_DBxbLockMemoStruc(memo->handle());
    fmt::print("  layout:          {}\n", m->iv() ? "dBASE IV DBT" : "dBASE III DBT");
    fmt::print("  block size:      {}\n", m->block_length());
    fmt::print("  blocks in file:  {}\n", m->block_count);
    fmt::print("  {}: {}\n", m->iv() ? "first free run " : "next free block", m->free_head());
}

void info_index(const std::string& path) {
    NtxIndex index(path, true);
    const IndexSummary s = index.summary();
    fmt::print("{}: NTX index\n", path);
    fmt::print("  key expression:  {}\n", s.expression);
    fmt::print("  key length:      {}\n", s.key_length);
    fmt::print("  key decimals:    {}\n", s.decimals);
    fmt::print("  key type:        not stored in NTX files (C, N or D by the expression)\n");
    fmt::print("  unique:          {}\n", s.unique ? "yes" : "no");
    fmt::print("  descending:      {}\n", s.descending ? "yes" : "no");
    fmt::print("  keys per page:   {}\n", s.max_keys_per_page);
    fmt::print("  depth:           {}\n", s.depth);
    fmt::print("  keys:            {}\n", s.keys);
    fmt::print("  tags:            none (an NTX file holds one key)\n");
}

void info_file(const std::string& path) {
    const std::string ext = extension_of(path);
    if (ext == "DBT" || ext == "FPT")
        info_memo(path);
    else if (is_index_path(path))
        info_index(path);
    else
        info_table(path);
}

int run_info(const std::vector<std::string>& files) {
    LibrarySession session;
    int result = kSuccess;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i) fmt::print("\n");
        try {
            info_file(files[i]);
        } catch (const Failure& f) {
            std::fflush(stdout);
            fmt::print(stderr, "xbdb: {}\n", f.what());
            result = std::max(result, f.exit_code());
        }
    }
    return result;
}

}  // namespace

void add_info_command(CLI::App& app, Commands& out) {
    auto files = std::make_shared<std::vector<std::string>>();
    CLI::App* sub = app.add_subcommand("info", "Describe tables, memo files and indexes");
    sub->footer(kFooter);
    sub->add_option("FILE", *files, "DBF table, DBT/FPT memo file or NTX index")->required();
    out.push_back({sub, [files] { return run_info(*files); }});
}

}  // namespace xbdb::cli
