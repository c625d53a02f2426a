#include "cli_runner.hpp"

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace xbdb::cli_test {

namespace {

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

Workspace::Workspace() {
    std::string pattern = (std::filesystem::temp_directory_path() / "xbdb-cli-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
}

Workspace::~Workspace() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

Result Workspace::xbdb(const std::string& args) const {
    const std::string command = "cd '" + dir_.string() + "' && '" XBDB_CLI_TOOL "' " + args + " 2>.stderr";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("popen");
    Result run;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = read(".stderr");
    return run;
}

std::string Workspace::read(const std::string& name) const { return slurp(dir_ / name); }

void Workspace::write(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
}

void Workspace::patch(const std::string& name, long offset, const std::string& bytes) const {
    std::fstream file(dir_ / name, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Workspace::truncate(const std::string& name, std::uintmax_t size) const {
    std::filesystem::resize_file(dir_ / name, size);
}

std::string golden_path(const std::string& name) { return std::string(XBDB_CLI_GOLDEN) + "/" + name; }

std::string golden(const std::string& name, const std::string& actual) {
    if (getenv("XBDB_UPDATE_GOLDEN")) std::ofstream(golden_path(name), std::ios::binary) << actual;
    return slurp(golden_path(name));
}

std::string mask_dates(std::string text) {
    static const std::regex date(R"(last update:( +)\S+)");
    return std::regex_replace(text, date, "last update:$1YYYY-MM-DD");
}

}  // namespace xbdb::cli_test
