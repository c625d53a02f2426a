// Runs the xbdb tool in a scratch directory and compares with golden files.
#pragma once

#include <filesystem>
#include <string>

namespace xbdb::cli_test {

struct Result {
    int exit_code = -1;
    std::string out;
    std::string err;
};

class Workspace {
public:
    Workspace();
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    // Runs `xbdb ARGS` with the workspace as the working directory.
    Result xbdb(const std::string& args) const;
    std::string read(const std::string& name) const;
    void write(const std::string& name, const std::string& bytes) const;
    // Overwrites bytes at offset of a file in the workspace.
    void patch(const std::string& name, long offset, const std::string& bytes) const;
    void truncate(const std::string& name, std::uintmax_t size) const;

private:
    std::filesystem::path dir_;
};

std::string golden_path(const std::string& name);
// The golden file's text; with XBDB_UPDATE_GOLDEN set, writes actual there first.
std::string golden(const std::string& name, const std::string& actual);
// Replaces the value of every "last update:" line (the day the table was written).
std::string mask_dates(std::string text);

}  // namespace xbdb::cli_test
