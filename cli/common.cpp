#include "common.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "table/table.hpp"

namespace xbdb::cli {

namespace {

// Handles for one command: a table, its memo file and a few indexes.
constexpr int32_t kFiles = 64;

// Tables are opened with the dialect that accepts their version byte, tried in
// this order: dBASE III (0x03, 0x83, ...), dBASE IV (0x8B), FoxPro (0xF5) and
// Visual FoxPro (0x30).
constexpr std::array kProbeDialects{1, 2, 4, 10};

bool is_fox_dialect(int d) { return d == 4 || d == 8 || d == 10; }

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string format_failure(int32_t code, std::string_view file, std::string_view what) {
    DBerrno = code;
    return fmt::format("{}: {}: {} ({})", file, what, DBGetErrorStr(), code);
}

}  // namespace

void library_failure(int32_t code, std::string_view file, std::string_view what) {
    throw Failure(kProblemFound, format_failure(code, file, what));
}

int32_t check(int32_t code, std::string_view file, std::string_view what) {
    if (code < 0) library_failure(code, file, what);
    return code;
}

void usage_failure(const std::string& message) { throw Failure(kUsage, message); }

LibrarySession::LibrarySession() {
    if (int32_t code = DBInitialize(kFiles, DB_DATE_YYYYMMDD); code < 0)
        library_failure(code, "xbdb", "cannot start the library");
}

LibrarySession::~LibrarySession() { DBTerminate(); }

// ---- tables ---------------------------------------------------------------------

Table::Table(const std::string& path, bool read_only, std::optional<int> dialect) : path_(path) {
    if (!std::filesystem::exists(path)) library_failure(DB_ERR_FILE_NOT_FOUND, path, "cannot open");
    const int32_t mode = read_only ? DB_OPEN_READONLY : 0;
    int32_t code = DB_ERR_VERSION;
    if (dialect) {
        dialect_ = *dialect;
        code = DBOpenFile(&handle_, path.c_str(), mode | dialect_);
    } else {
        for (int d : kProbeDialects) {
            dialect_ = d;
            code = DBOpenFile(&handle_, path.c_str(), mode | d);
            if (code != DB_ERR_VERSION) break;
        }
    }
    check(code, path, "cannot open the table");
    open_status_ = code;
    DBRecordInfo info{};
    check(DBGetRecordInfo(handle_, &info), path, "cannot read the field layout");
    for (int16_t i = 0; i < info.field_count; ++i) {
        DBFieldSpec spec{};
        check(DBGetFieldDescription(handle_, i, &spec), path, "cannot read a field");
        FieldInfo f{spec.name, static_cast<char>(spec.type & 0xFF), spec.length, spec.decimals};
        if (f.type == 'C' && f.length > 255) f.decimals = 0;
        fields_.push_back(f);
    }
}

Table::~Table() {
    if (handle_ != DB_NO_HANDLE) DBCloseFile(handle_);
}

int32_t Table::record_count() const {
    int32_t count = 0;
    check(DBGetRecordCount(handle_, &count), path_, "cannot read the record count");
    return count;
}

bool Table::read(int32_t n) const {
    const int32_t code = DBGetRecord(handle_, n);
    check(code, path_, fmt::format("cannot read record {}", n));
    return code == DB_WARN_DELETED;
}

std::string Table::raw(int i) const {
    std::string text(static_cast<std::size_t>(fields_[i].length) + 1, '\0');
    check(DBGetStrField(handle_, static_cast<int16_t>(i), text.data()), path_,
          fmt::format("cannot read field {}", fields_[i].name));
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

bool Table::has_memo_fields() const {
    return std::ranges::any_of(fields_, [](const FieldInfo& f) { return f.type == 'M'; });
}

MemoKind Table::memo_kind() const {
    if (!has_memo_fields()) return MemoKind::none;
    return is_fox_dialect(dialect_) ? MemoKind::fpt : MemoKind::dbt;
}

uint8_t Table::version() const { return table::_DBLockDataStruc(handle_)->version(); }

uint8_t Table::language_driver() const { return table::_DBLockDataStruc(handle_)->header[29]; }

int32_t Table::header_length() const {
    return static_cast<int32_t>(table::_DBLockDataStruc(handle_)->header_length());
}

int32_t Table::record_length() const {
    return static_cast<int32_t>(table::_DBLockDataStruc(handle_)->record_length());
}

std::string Table::last_update() const {
    char text[DB_DATE_TEXT_LEN] = {};
    if (DBGetLastUpdate(handle_, text, DB_DATE_YYYYMMDD) < 0) return "?";
    const std::string_view t(text);
    if (t.size() != 8) return std::string(t);
    return fmt::format("{}-{}-{}", t.substr(0, 4), t.substr(4, 2), t.substr(6, 2));
}

int Table::field_index(std::string_view name) const {
    const std::string wanted = upper(name);
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (upper(fields_[i].name) == wanted) return static_cast<int>(i);
    return -1;
}

// ---- memo files -----------------------------------------------------------------

MemoFile::MemoFile(const std::string& path, MemoKind kind, int dialect, bool read_only)
    : path_(path), kind_(kind), dialect_(dialect) {
    const int32_t mode = (read_only ? DB_OPEN_READONLY : 0);
    if (kind == MemoKind::fpt)
        check(DBfpOpenMemo(&handle_, path.c_str(), mode | (dialect == 10 ? 0 : dialect)), path,
              "cannot open the memo file");
    else
        check(DBxbOpenMemo(&handle_, path.c_str(), mode | dialect), path, "cannot open the memo file");
}

MemoFile::MemoFile(MemoFile&& other) noexcept
    : path_(std::move(other.path_)), kind_(other.kind_), dialect_(other.dialect_),
      handle_(std::exchange(other.handle_, DB_NO_HANDLE)) {}

MemoFile::~MemoFile() {
    if (handle_ == DB_NO_HANDLE) return;
    if (kind_ == MemoKind::fpt)
        DBfpCloseMemo(handle_);
    else
        DBxbCloseMemo(handle_);
}

std::optional<MemoFile> MemoFile::open_any(const std::string& path) {
    MemoFile m;
    m.path_ = path;
    if (extension_of(path) == "FPT") {
        m.kind_ = MemoKind::fpt;
        if (DBfpOpenMemo(&m.handle_, path.c_str(), DB_OPEN_READONLY) < 0) return std::nullopt;
        return m;
    }
    m.kind_ = MemoKind::dbt;
    for (int dialect : {2, 1}) {
        m.dialect_ = dialect;
        if (DBxbOpenMemo(&m.handle_, path.c_str(), DB_OPEN_READONLY | dialect) >= 0) return m;
    }
    return std::nullopt;
}

std::string MemoFile::text(int32_t block, int32_t* status) const {
    char* data = nullptr;
    const int32_t code = kind_ == MemoKind::fpt
                             ? DBfpGetMemoRecord(handle_, block, &data, INT32_MAX, 0)
                             : DBxbGetMemoRecord(handle_, block, &data, 0);
    if (status) *status = code;
    if (code < 0 || !data) {
        if (!status) check(code < 0 ? code : DB_ERR_READ, path_, fmt::format("cannot read memo block {}", block));
        return {};
    }
    const LibraryBuffer owned(data);
    if (kind_ != MemoKind::fpt) return std::string(data);
    int32_t length = 0, picture = 0;
    DBfpGetMemoType(handle_, block, &length, &picture);
    return std::string(data, static_cast<std::size_t>(std::max(length, 0)));
}

int32_t MemoFile::put(std::string_view text) {
    int32_t block = 0;
    const std::string copy(text);
    if (kind_ == MemoKind::fpt)
        check(DBfpPutMemoRecord(handle_, &block, copy.data(), static_cast<int32_t>(copy.size()),
                                static_cast<int32_t>(copy.size()), 0),
              path_, "cannot write a memo text");
    else
        check(DBxbPutMemoRecord(handle_, &block, copy.c_str(), 0), path_, "cannot write a memo text");
    return block;
}

int32_t MemoFile::block_size() const {
    if (kind_ == MemoKind::fpt) {
        DBfpMemoInfo info{};
        check(DBfpGetMemoInfo(handle_, &info), path_, "cannot read the memo header");
        return info.block_size;
    }
    DBxbMemoInfo info{};
    check(DBxbGetMemoInfo(handle_, &info), path_, "cannot read the memo header");
    return info.block_length;
}

// ---- names ----------------------------------------------------------------------

std::string extension_of(const std::string& path) {
    const std::filesystem::path p(path);
    std::string ext = p.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    return upper(ext);
}

std::optional<std::string> find_companion(const std::string& path, std::string_view ext) {
    const std::filesystem::path p(path);
    const std::filesystem::path dir = p.has_parent_path() ? p.parent_path() : ".";
    const std::string wanted = upper(p.stem().string()) + "." + upper(ext);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename().string();
        if (upper(name) == wanted) return (p.has_parent_path() ? dir / name : std::filesystem::path(name)).string();
    }
    return std::nullopt;
}

std::optional<std::string> memo_path_of(const Table& table) {
    switch (table.memo_kind()) {
        case MemoKind::dbt: return find_companion(table.path(), "DBT");
        case MemoKind::fpt: return find_companion(table.path(), "FPT");
        case MemoKind::none: break;
    }
    return std::nullopt;
}

std::string trim_right(std::string_view text) {
    const auto end = text.find_last_not_of(' ');
    return std::string(end == std::string_view::npos ? "" : text.substr(0, end + 1));
}

std::string trim(std::string_view text) {
    const auto begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) return {};
    return trim_right(text.substr(begin));
}

}  // namespace xbdb::cli
