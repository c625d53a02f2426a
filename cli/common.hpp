// What every command of the xbdb tool shares: the exit codes, the failure that
// carries a message to main, the library session, and an open table with its
// fields and companion memo file.
//
// The tool reads and writes files only through the library: the exported C calls,
// and the thin internal layer (table and memo packets) where the C interface has no
// call for something, such as the language-driver byte of a table header.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/api.hpp"

namespace xbdb::cli {

enum ExitCode : int { kSuccess = 0, kProblemFound = 1, kUsage = 2 };

// A failure that ends the command: the message goes to stderr, the code is the
// process's exit code.
class Failure : public std::runtime_error {
public:
    Failure(int exit_code, const std::string& message)
        : std::runtime_error(message), exit_code_(exit_code) {}
    int exit_code() const { return exit_code_; }

private:
    int exit_code_;
};

// A library call failed: "FILE: WHAT: <library message> (code)", exit code 1.
[[noreturn]] void library_failure(int32_t code, std::string_view file, std::string_view what);
// Throws library_failure when code is negative; returns code otherwise (warnings pass).
int32_t check(int32_t code, std::string_view file, std::string_view what);
// A usage error (exit code 2).
[[noreturn]] void usage_failure(const std::string& message);

// A buffer the library handed out (a key, an evaluation result), released with
// DBFreeMemory.
struct LibraryFree {
    void operator()(char* p) const { DBFreeMemory(p, "xbdb-cli", 0); }
};
using LibraryBuffer = std::unique_ptr<char, LibraryFree>;

// DBInitialize for the lifetime of one command, with the stored date style
// (yyyymmdd) as the default, so that date fields travel unconverted.
class LibrarySession {
public:
    LibrarySession();
    ~LibrarySession();
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;
};

struct FieldInfo {
    std::string name;
    char type = 'C';
    int32_t length = 0;
    int32_t decimals = 0;
};

enum class MemoKind { none, dbt, fpt };

// An open DBF table. The dialect is the one given, or the first of the common
// dialects whose accepted version bytes include the file's.
class Table {
public:
    Table(const std::string& path, bool read_only, std::optional<int> dialect = std::nullopt);
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    int32_t handle() const { return handle_; }
    // For calls that reopen the table and replace its handle (a pack).
    int32_t* handle_address() { return &handle_; }
    const std::string& path() const { return path_; }
    int dialect() const { return dialect_; }
    int32_t open_status() const { return open_status_; }
    const std::vector<FieldInfo>& fields() const { return fields_; }
    int32_t record_count() const;
    // Reads record n into the record buffer; true when it is marked deleted.
    bool read(int32_t n) const;
    // The raw text of field i of the current record, trailing blanks kept.
    std::string raw(int i) const;
    bool has_memo_fields() const;
    // The memo layout the table's dialect pairs with.
    MemoKind memo_kind() const;
    uint8_t version() const;
    uint8_t language_driver() const;
    int32_t header_length() const;
    int32_t record_length() const;
    std::string last_update() const;
    int field_index(std::string_view name) const;  // -1 when none

private:
    int32_t handle_ = DB_NO_HANDLE;
    int32_t open_status_ = 0;
    int dialect_ = 1;
    std::string path_;
    std::vector<FieldInfo> fields_;
};

// An open DBT or FPT memo file.
class MemoFile {
public:
    // kind dbt: dialect is the table dialect whose layout to use.
    MemoFile(const std::string& path, MemoKind kind, int dialect, bool read_only);
    ~MemoFile();
    MemoFile(const MemoFile&) = delete;
    MemoFile& operator=(const MemoFile&) = delete;

    // Opens a memo file of unknown layout: FPT by extension, else dBASE IV then III.
    static std::optional<MemoFile> open_any(const std::string& path);

    const std::string& path() const { return path_; }
    MemoKind kind() const { return kind_; }
    int32_t handle() const { return handle_; }
    int32_t* handle_address() { return &handle_; }
    // The text at block; the library's code (negative) in *status on failure.
    std::string text(int32_t block, int32_t* status = nullptr) const;
    // Appends a text, returning its block.
    int32_t put(std::string_view text);
    int32_t block_size() const;
    bool dbase_iv() const { return kind_ == MemoKind::dbt && dialect_ == 2; }

    MemoFile(MemoFile&& other) noexcept;

private:
    MemoFile() = default;
    std::string path_;
    MemoKind kind_ = MemoKind::none;
    int dialect_ = 1;
    int32_t handle_ = DB_NO_HANDLE;
};

// The file beside path whose name is path's base name with extension ext, matched
// case-blind ("CUST.DBF" finds "cust.dbt" and "CUST.DBT").
std::optional<std::string> find_companion(const std::string& path, std::string_view ext);
// The companion memo file path of an open table, when it has memo fields and one exists.
std::optional<std::string> memo_path_of(const Table& table);
// Case-blind file extension, upper case, without the dot ("" when none).
std::string extension_of(const std::string& path);

std::string trim_right(std::string_view text);
std::string trim(std::string_view text);

}  // namespace xbdb::cli
