// xbdb check TABLE [INDEX...]: a report on a table, its memo file and indexes.
//
//   header against the file size   header length + count x record length (+ end mark)
//   field layout                   widths add up to the record, names unique and set
//   records                        every deletion byte is ' ' or '*'
//   memo references                each memo field's text can be read, no two records
//                                  share a text, texts stay inside the file's used part
//   each index                     the tree (NTX checker of the library) and every
//                                  record's key present exactly once
// Exit code 1 when anything is wrong.
#include <algorithm>
#include <map>
#include <set>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "index_file.hpp"
#include "memo/dbt_format.hpp"
#include "memo/fpt_format.hpp"
#include "ntx/checker.hpp"
#include "progress.hpp"

namespace xbdb::cli {

namespace {

constexpr const char* kFooter = R"TXT(Examples:
  xbdb check customers.dbf
  xbdb check customers.dbf names.ntx since.ntx
Exit code 0 when everything is sound, 1 when a problem was found.)TXT";

// Reported problems are cut to this many per section (the count is still given).
constexpr std::size_t kMaxShown = 20;

class Report {
public:
    void section(const std::string& name, const std::vector<std::string>& problems, const std::string& ok_note) {
        if (problems.empty()) {
            fmt::print("  {}: ok{}\n", name, ok_note.empty() ? "" : " (" + ok_note + ")");
            return;
        }
        fmt::print("  {}: {} problem{}\n", name, problems.size(), problems.size() == 1 ? "" : "s");
        for (std::size_t i = 0; i < problems.size() && i < kMaxShown; ++i) fmt::print("    - {}\n", problems[i]);
        if (problems.size() > kMaxShown) fmt::print("    ... and {} more\n", problems.size() - kMaxShown);
        total_ += problems.size();
    }
    std::size_t total() const { return total_; }

private:
    std::size_t total_ = 0;
};

std::string library_text(int32_t code) {
    DBerrno = code;
    return fmt::format("{} ({})", DBGetErrorStr(), code);
}

// ---- header and fields ----------------------------------------------------------------

std::vector<std::string> check_size(const Table& t, std::string& note) {
    int32_t length = 0;
    check(DBosFileLength(DBGetFileDescriptor(t.handle()), &length), t.path(), "cannot read the file length");
    const int64_t records = t.record_count();
    const int64_t expected = t.header_length() + records * t.record_length();
    // The end mark: one 0x1A, or a whole record of them in dialect 7; some writers omit it.
    const int64_t mark = t.dialect() == 7 ? t.record_length() : 1;
    note = fmt::format("{} records of {} bytes, {} bytes", records, t.record_length(), length);
    if (length == expected || length == expected + mark) return {};
    return {fmt::format("the file is {} bytes, but the header gives {} + {} x {} = {} (+ end mark)", length,
                        t.header_length(), records, t.record_length(), expected)};
}

std::vector<std::string> check_fields(const Table& t, std::string& note) {
    std::vector<std::string> problems;
    int64_t sum = 1;  // the deletion byte
    std::set<std::string> names;
    for (const FieldInfo& f : t.fields()) {
        sum += f.length;
        if (f.name.empty()) problems.push_back("a field has no name");
        if (!names.insert(f.name).second) problems.push_back(fmt::format("field name {} is used twice", f.name));
        if (f.length <= 0) problems.push_back(fmt::format("field {} has width {}", f.name, f.length));
    }
    if (sum != t.record_length())
        problems.push_back(fmt::format("the field widths add up to {} bytes, the header says {}", sum, t.record_length()));
    const int64_t least_header = 32 + 32 * static_cast<int64_t>(t.fields().size()) + 1;
    if (t.header_length() < least_header)
        problems.push_back(fmt::format("header length {} is too short for {} fields", t.header_length(), t.fields().size()));
    note = fmt::format("{} fields", t.fields().size());
    return problems;
}

// ---- records and memo references ------------------------------------------------------

struct MemoUse {
    int32_t record;
    int32_t length;
};

struct MemoScan {
    std::vector<std::string> record_problems;
    std::vector<std::string> memo_problems;
    std::map<int32_t, MemoUse> uses;  // by block
    int64_t texts = 0;
};

// Bytes a text takes in its file beyond its characters: the length header of
// dBASE IV and FoxPro texts, the end mark of dBASE III texts.
int32_t text_overhead(const MemoFile& m) {
    if (m.kind() == MemoKind::fpt) return memo::kFptMemoHeader;
    return m.dbase_iv() ? memo::kDbtTextHeader : 1;
}

void scan_memo_field(const Table& t, const MemoFile* memo, int field, int32_t n, MemoScan& scan) {
    int32_t block = 0;
    const int32_t code = DBGetFieldData(t.handle(), static_cast<int16_t>(field), &block);
    const std::string& name = t.fields()[static_cast<std::size_t>(field)].name;
    if (code == DB_WARN_FIELD_EMPTY || (code >= 0 && block == 0)) return;
    if (code < 0) {
        scan.memo_problems.push_back(fmt::format("record {} field {}: bad block number: {}", n, name, library_text(code)));
        return;
    }
    if (!memo) return;
    int32_t status = 0;
    const std::string text = memo->text(block, &status);
    if (status < 0) {
        scan.memo_problems.push_back(fmt::format("record {} field {}: block {} cannot be read: {}", n, name, block,
                                                 library_text(status)));
        return;
    }
    ++scan.texts;
    const auto [at, fresh] = scan.uses.try_emplace(block, MemoUse{n, static_cast<int32_t>(text.size())});
    if (!fresh)
        scan.memo_problems.push_back(fmt::format("record {} field {}: block {} is also the text of record {}", n, name,
                                                 block, at->second.record));
}

// Texts that run into the next one, or past the end of the used part of the file.
void check_extents(const MemoFile& memo, MemoScan& scan) {
    const int64_t size = memo.block_size();
    int64_t end_of_used = INT64_MAX;
    if (memo.kind() == MemoKind::fpt) end_of_used = memo::_DBfpLockMemoStruc(memo.handle())->next_free;
    int64_t previous_end = 0;
    int32_t previous_record = 0;
    for (const auto& [block, use] : scan.uses) {
        const int64_t blocks = (use.length + text_overhead(memo) + size - 1) / size;
        if (block < previous_end)
            scan.memo_problems.push_back(fmt::format("the text of record {} at block {} overlaps that of record {}",
                                                     use.record, block, previous_record));
        if (block + blocks > end_of_used)
            scan.memo_problems.push_back(fmt::format("the text of record {} at block {} runs past the next free block {}",
                                                     use.record, block, end_of_used));
        previous_end = std::max(previous_end, block + blocks);
        previous_record = use.record;
    }
}

MemoScan scan_records(const Table& t, const MemoFile* memo) {
    MemoScan scan;
    DBRecordInfo info{};
    check(DBGetRecordInfo(t.handle(), &info), t.path(), "cannot read the record buffer");
    std::vector<int> memo_fields;
    for (std::size_t i = 0; i < t.fields().size(); ++i)
        if (t.fields()[i].type == 'M') memo_fields.push_back(static_cast<int>(i));
    const int32_t count = t.record_count();
    Progress progress("check records", count);
    for (int32_t n = 1; n <= count; ++n) {
        const int32_t code = DBGetRecord(t.handle(), n);
        progress.update(n);
        if (code < 0) {
            scan.record_problems.push_back(fmt::format("record {} cannot be read: {}", n, library_text(code)));
            continue;
        }
        const char mark = info.buffer[0];
        if (mark != DB_ACTIVE_MARK && mark != DB_DELETED_MARK)
            scan.record_problems.push_back(fmt::format("record {} has deletion byte 0x{:02X}", n,
                                                       static_cast<unsigned char>(mark)));
        for (int f : memo_fields) scan_memo_field(t, memo, f, n, scan);
    }
    if (memo) check_extents(*memo, scan);
    return scan;
}

// ---- indexes --------------------------------------------------------------------------

std::vector<std::string> check_one_index(const Table& t, const std::string& path, std::string& note) {
    std::vector<std::string> problems;
    try {
        NtxIndex index(path, true);
        ntx::CheckOptions options;
        options.strict_fill = false;  // bulk-built trees leave the last page of a level short
        options.orphans = true;
        options.table = t.handle();
        for (const auto& p : ntx::check_index(index.handle(), options))
            problems.push_back(p.page ? fmt::format("page {}: {}", p.page, p.text) : std::string(p.text));
        if (problems.empty()) {
            const IndexSummary s = index.summary();
            note = fmt::format("{} keys, depth {}, key {}", s.keys, s.depth, s.expression);
        }
    } catch (const Failure& f) {
        problems.push_back(f.what());
    }
    return problems;
}

int run_check(const std::string& table_path, const std::vector<std::string>& indexes) {
    LibrarySession session;
    for (const auto& path : indexes) require_supported(path);
    Report report;
    Table t(table_path, true);
    fmt::print("{}\n", table_path);
    std::string note;
    auto problems = check_size(t, note);
    report.section("header against file size", problems, note);
    problems = check_fields(t, note);
    report.section("field layout", problems, note);

    std::optional<MemoFile> memo;
    std::vector<std::string> memo_open;
    if (t.memo_kind() != MemoKind::none) {
        if (auto path = memo_path_of(t)) {
            try {
                memo.emplace(*path, t.memo_kind(), t.dialect(), true);
            } catch (const Failure& f) {
                memo_open.push_back(f.what());
            }
        } else {
            memo_open.push_back("the table has memo fields but no memo file was found beside it");
        }
    }
    MemoScan scan = scan_records(t, memo ? &*memo : nullptr);
    report.section("records", scan.record_problems, "");
    if (t.memo_kind() != MemoKind::none) {
        scan.memo_problems.insert(scan.memo_problems.begin(), memo_open.begin(), memo_open.end());
        report.section("memo references", scan.memo_problems,
                       memo ? fmt::format("{} texts in {}", scan.texts, memo->path()) : "");
    }
    for (const auto& path : indexes) {
        problems = check_one_index(t, path, note);
        report.section("index " + path, problems, note);
    }
    if (report.total() == 0) {
        fmt::print("no problems found\n");
        return kSuccess;
    }
    fmt::print("{} problem{} found\n", report.total(), report.total() == 1 ? "" : "s");
    return kProblemFound;
}

}  // namespace

void add_check_command(CLI::App& app, Commands& out) {
    auto table = std::make_shared<std::string>();
    auto indexes = std::make_shared<std::vector<std::string>>();
    CLI::App* sub = app.add_subcommand("check", "Check a table, its memo file and indexes for damage");
    sub->footer(kFooter);
    sub->add_option("TABLE", *table, "DBF table")->required();
    sub->add_option("INDEX", *indexes, "Index files over the table (.ntx)");
    out.push_back({sub, [table, indexes] { return run_check(*table, *indexes); }});
}

}  // namespace xbdb::cli
