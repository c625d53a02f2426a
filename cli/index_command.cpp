// xbdb index build | seek | dump: NTX indexes (NDX, MDX and CDX/IDX are refused
// with a clear message until the library has them).
#include <chrono>
#include <cstring>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "encoding.hpp"
#include "index_file.hpp"
#include "output_formats.hpp"
#include "progress.hpp"

namespace xbdb::cli {

namespace {

constexpr const char* kBuildFooter = R"TXT(Examples:
  xbdb index build customers.dbf names.ntx --expr "UPPER(NAME)"
  xbdb index build customers.dbf since.ntx --expr SINCE --type D
  xbdb index build customers.dbf ids.ntx --expr ID --unique
  xbdb index build parts.dbf price.ntx --expr PRICE --length 12 --decimals 2

The format follows the extension: .ntx (NDX, MDX, CDX and IDX are not supported by
this build yet). Without --type and --length the key's type and length come from
evaluating the expression on the first record.)TXT";

constexpr const char* kSeekFooter = R"TXT(Examples:
  xbdb index seek names.ntx "SMITH"             # first key starting with SMITH
  xbdb index seek since.ntx 2024-03-15 --type D
  xbdb index seek names.ntx "SMITH" --next 5    # and the five keys after it
Modes: 1 key prefix (default), 2 key and record number (--record), 13 as 1 but
never "no key before", 14 first key at or after, 15 first key after.
Exit code 0 when the key was found, 1 when not.)TXT";

constexpr const char* kDumpFooter = R"TXT(Examples:
  xbdb index dump names.ntx --limit 20
  xbdb index dump names.ntx --format csv > keys.csv)TXT";

struct BuildOptions {
    std::string table;
    std::string index;
    std::string expr;
    std::string type;
    bool unique = false;
    std::optional<int> length;
    std::optional<int> decimals;
    std::optional<int> dialect;
};

struct SeekOptions {
    std::string index;
    std::string key;
    int mode = DB_SEARCH_KEY;
    std::string type = "C";
    uint32_t record = 0;
    int next = 0;
};

struct DumpOptions {
    std::string index;
    std::string format;
    std::string tag;
    int64_t limit = -1;
};

struct KeyShape {
    char type = 'C';
    int32_t length = 0;
    int32_t decimals = 0;
};

// The key's type and size: from the options, else from the expression's value on
// the first record (a blank record for an empty table), else from its field.
KeyShape key_shape(const Table& table, const BuildOptions& o) {
    if (table.record_count() > 0)
        table.read(1);
    else
        check(DBClearBuffer(table.handle()), table.path(), "cannot clear the record buffer");
    DBEvalResult result{};
    check(DBEvaluateStr(table.handle(), o.expr.c_str(), &result), o.index,
          fmt::format("cannot evaluate the key expression \"{}\"", o.expr));
    const LibraryBuffer value(result.value);
    KeyShape k;
    k.type = static_cast<char>(result.type);
    k.length = result.length;
    if (k.type == 'D') k.length = 8;
    if (k.type == 'N' || k.type == 'F') {
        k.type = 'N';
        const int f = table.field_index(o.expr);
        k.length = f >= 0 ? table.fields()[static_cast<std::size_t>(f)].length : 15;
        k.decimals = f >= 0 ? table.fields()[static_cast<std::size_t>(f)].decimals : 0;
    }
    if (!o.type.empty()) k.type = o.type[0];
    if (o.length) k.length = *o.length;
    if (o.decimals) k.decimals = *o.decimals;
    if (k.type != 'C' && k.type != 'N' && k.type != 'D')
        throw Failure(kProblemFound, fmt::format("{}: the expression \"{}\" gives type {}; an NTX key is C, N or D",
                                                 o.index, o.expr, k.type));
    return k;
}

int run_build(const BuildOptions& o) {
    LibrarySession session;
    require_supported(o.index);
    Table table(o.table, true, o.dialect);
    const KeyShape k = key_shape(table, o);
    std::string expression = o.expr;
    const auto started = std::chrono::steady_clock::now();
    {
        Progress progress(fmt::format("building {}", o.index), 1);
        progress.update(0);
        check(DBclBuildIndex(table.handle(), o.index.c_str(), k.type | (o.unique ? DB_KEY_UNIQUE : 0),
                             expression.data(), k.length, k.decimals),
              o.index, "cannot build the index");
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    NtxIndex index(o.index, true);
    const IndexSummary s = index.summary();
    fmt::print("built {}: {} keys of {} ({} {}{}) from {} records in {:.2f} s\n", o.index, s.keys, s.expression,
               k.type, s.key_length, k.type == 'N' ? fmt::format(",{}", k.decimals) : "",
               table.record_count(), seconds);
    return kSuccess;
}

// ---- seek and dump -------------------------------------------------------------------

std::string search_key(const NtxIndex& index, const SeekOptions& o) {
    if (o.type == "N") {
        std::string key(static_cast<std::size_t>(index.key_length()) + 1, '\0');
        double value = 0;
        try {
            value = std::stod(o.key);
        } catch (const std::exception&) {
            usage_failure(fmt::format("\"{}\" is not a number", o.key));
        }
        check(DBclDoubleToKey(index.handle(), key.data(), value), index.path(), "cannot make the key");
        return key.c_str();
    }
    if (o.type == "D") {
        std::string text = o.key;
        std::erase(text, '-');
        char key[16] = {};
        check(DBclDateToKey(key, text.c_str(), DB_DATE_YYYYMMDD), index.path(), fmt::format("\"{}\" is not a date", o.key));
        return key;
    }
    return o.key;
}

const char* seek_outcome(int32_t code) {
    switch (code) {
        case 0: return "found";
        case DB_WARN_EMPTY: return "index is empty";
        case DB_WARN_NO_MORE_KEYS: return "not found; no key before it";
        case DB_WARN_KEY_NOT_FOUND: return "not found; positioned on the key before it";
        default: return "not found";
    }
}

int run_seek(const SeekOptions& o) {
    LibrarySession session;
    NtxIndex index(o.index, true);
    const Converter show("CP437", "UTF-8", EncodingErrors::replace);
    std::string key = search_key(index, o);
    key.resize(std::max<std::size_t>(key.size(), static_cast<std::size_t>(index.key_length())) + 1, '\0');
    uint32_t recno = o.record;
    const int32_t code = check(DBclKeySearch(index.handle(), key.data(), &recno, o.mode), o.index, "cannot search");
    fmt::print("{}\n", seek_outcome(code));
    const bool positioned = code == 0 || code == DB_WARN_KEY_NOT_FOUND;
    if (positioned) fmt::print("record {}\tkey \"{}\"\n", recno, show.convert(key.c_str()));
    for (int i = 0; positioned && i < o.next; ++i) {
        if (check(DBclGoNextKey(index.handle(), key.data(), &recno), o.index, "cannot move") != 0) break;
        fmt::print("record {}\tkey \"{}\"\n", recno, show.convert(key.c_str()));
    }
    return code == 0 ? kSuccess : kProblemFound;
}

int run_index_dump(const DumpOptions& o) {
    LibrarySession session;
    if (!o.tag.empty())
        require_supported(o.index);
    NtxIndex index(o.index, true);
    if (!o.tag.empty()) usage_failure(fmt::format("{}: an NTX file has no tags (--tag {})", o.index, o.tag));
    const Converter show("CP437", "UTF-8", EncodingErrors::replace);
    auto writer = make_writer(choose_format(o.format, stdout), stdout);
    writer->header({"key", "record"});
    std::string key(static_cast<std::size_t>(index.key_length()) + 1, '\0');
    uint32_t recno = 0;
    int64_t shown = 0;
    for (int32_t code = DBclGoFirstKey(index.handle(), key.data(), &recno);
         code == 0 && (o.limit < 0 || shown < o.limit); code = DBclGoNextKey(index.handle(), key.data(), &recno)) {
        writer->row({Cell::of_text(show.convert(key.c_str())), Cell::of_number(std::to_string(recno))});
        ++shown;
    }
    check(DBerrno, o.index, "cannot walk the keys");
    writer->finish();
    return kSuccess;
}

void add_build(CLI::App& index, Commands& out) {
    auto o = std::make_shared<BuildOptions>();
    CLI::App* sub = index.add_subcommand("build", "Build an index over every record of a table");
    sub->footer(kBuildFooter);
    sub->add_option("TABLE", o->table, "DBF table")->required();
    sub->add_option("INDEX", o->index, "Index file to write (.ntx)")->required();
    sub->add_option("-e,--expr", o->expr, "Key expression, e.g. UPPER(NAME) or CITY+NAME")->required();
    sub->add_option("-t,--type", o->type, "Key type C, N or D (default: the expression's)")
        ->check(CLI::IsMember({"C", "N", "D"}));
    sub->add_flag("-u,--unique", o->unique, "One key per value (the lowest record number stays)");
    sub->add_option("--length", o->length, "Key length (default: the expression's)")->check(CLI::Range(1, 200));
    sub->add_option("--decimals", o->decimals, "Decimals of a numeric key")->check(CLI::Range(0, 15));
    sub->add_option("--dialect", o->dialect, "Table dialect 0..10 (default: from the version byte)")
        ->check(CLI::Range(0, 10));
    out.push_back({sub, [o] { return run_build(*o); }});
}

void add_seek(CLI::App& index, Commands& out) {
    auto o = std::make_shared<SeekOptions>();
    CLI::App* sub = index.add_subcommand("seek", "Search an index for a key");
    sub->footer(kSeekFooter);
    sub->add_option("INDEX", o->index, "Index file (.ntx)")->required();
    sub->add_option("KEY", o->key, "Key to search for (a prefix in mode 1)")->required();
    sub->add_option("-m,--mode", o->mode, "Search mode: 1, 2, 11, 12, 13, 14 or 15")
        ->check(CLI::IsMember({1, 2, 11, 12, 13, 14, 15}));
    sub->add_option("-t,--type", o->type, "How to read KEY: C text (default), N number, D date YYYY-MM-DD")
        ->check(CLI::IsMember({"C", "N", "D"}));
    sub->add_option("--record", o->record, "Record number to match in mode 2");
    sub->add_option("--next", o->next, "Also show this many following keys")->check(CLI::NonNegativeNumber);
    out.push_back({sub, [o] { return run_seek(*o); }});
}

void add_dump(CLI::App& index, Commands& out) {
    auto o = std::make_shared<DumpOptions>();
    CLI::App* sub = index.add_subcommand("dump", "List the keys of an index in key order");
    sub->footer(kDumpFooter);
    sub->add_option("INDEX", o->index, "Index file (.ntx)")->required();
    sub->add_option("-f,--format", o->format, "csv, tsv, json, jsonl or table")
        ->check(CLI::IsMember({"csv", "tsv", "json", "jsonl", "table"}));
    sub->add_option("-n,--limit", o->limit, "Show at most this many keys")->check(CLI::NonNegativeNumber);
    sub->add_option("--tag", o->tag, "Tag of a multi-tag index (MDX, CDX)");
    out.push_back({sub, [o] { return run_index_dump(*o); }});
}

}  // namespace

void add_index_commands(CLI::App& app, Commands& out) {
    CLI::App* index = app.add_subcommand("index", "Build, search and list indexes");
    index->footer("Examples:\n  xbdb index build customers.dbf names.ntx --expr \"UPPER(NAME)\"\n"
                  "  xbdb index seek names.ntx SMITH\n  xbdb index dump names.ntx --limit 10");
    index->require_subcommand(1);
    add_build(*index, out);
    add_seek(*index, out);
    add_dump(*index, out);
}

}  // namespace xbdb::cli
