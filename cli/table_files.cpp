#include "table_files.hpp"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include <fmt/format.h>

namespace xbdb::cli {

namespace {

struct TypeDefault {
    char type;
    int32_t length;  // 0: the length must be given
};

// Field types a create accepts, with the width used when none is given.
constexpr TypeDefault kTypes[] = {
    {'C', 0}, {'N', 0}, {'F', 0}, {'D', 8}, {'L', 1}, {'M', 10},
};

bool fox_memo(int dialect) { return dialect == 4 || dialect == 8; }

int32_t parse_number(const std::string& text, const std::string& spec) {
    try {
        std::size_t used = 0;
        const int value = std::stoi(text, &used);
        if (used == text.size() && value >= 0) return value;
    } catch (const std::exception&) {
    }
    usage_failure(fmt::format("--field {}: \"{}\" is not a length", spec, text));
}

}  // namespace

DBFieldSpec parse_field_spec(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1)
        parts.push_back(text.substr(start, colon - start));
    parts.push_back(text.substr(start));
    if (parts.size() < 2 || parts.size() > 4 || parts[0].empty() || parts[0].size() > 10 || parts[1].size() != 1)
        usage_failure(fmt::format("--field {}: expected NAME:TYPE:LEN[:DEC] (a name of at most 10 characters)", text));
    DBFieldSpec spec{};
    std::strncpy(spec.name, parts[0].c_str(), sizeof spec.name - 1);
    const char type = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
    const auto row = std::ranges::find_if(kTypes, [type](const TypeDefault& t) { return t.type == type; });
    if (row == std::end(kTypes)) usage_failure(fmt::format("--field {}: type must be C, N, F, D, L or M", text));
    spec.type = type;
    spec.length = parts.size() > 2 ? parse_number(parts[2], text) : row->length;
    spec.decimals = parts.size() > 3 ? parse_number(parts[3], text) : 0;
    if (spec.length == 0) usage_failure(fmt::format("--field {}: type {} needs a length", text, type));
    return spec;
}

std::string memo_name_for(const std::string& table_path, int dialect) {
    std::filesystem::path p(table_path);
    const std::string ext = p.extension().string();
    const bool lower = !ext.empty() && std::islower(static_cast<unsigned char>(ext.back()));
    std::string memo_ext = fox_memo(dialect) ? ".FPT" : ".DBT";
    if (lower) std::ranges::transform(memo_ext, memo_ext.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
    return p.replace_extension(memo_ext).string();
}

void create_table(const std::string& path, std::vector<DBFieldSpec> fields, int dialect) {
    check(DBCreateFile(path.c_str(), static_cast<int32_t>(fields.size()), fields.data(), dialect), path,
          "cannot create the table");
    const bool memo = std::ranges::any_of(fields, [](const DBFieldSpec& f) { return (f.type & 0xFF) == 'M'; });
    if (!memo) return;
    const std::string memo_path = memo_name_for(path, dialect);
    // FoxPro's usual 64-byte blocks; dBASE files use 512-byte blocks.
    const int32_t code = fox_memo(dialect) ? DBfpCreateMemo(memo_path.c_str(), 64)
                                           : DBxbCreateMemo(memo_path.c_str(), 1, dialect);
    check(code, memo_path, "cannot create the memo file");
}

Staging::Staging(const std::filesystem::path& near) {
    const std::filesystem::path parent = near.empty() ? "." : near;
    std::string pattern = (parent / ".xbdb-work-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw Failure(kProblemFound, fmt::format("{}: cannot make a work directory: {}", parent.string(),
                                                 std::strerror(errno)));
    dir_ = pattern;
}

Staging::~Staging() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string Staging::stage(const std::filesystem::path& final, bool copy_existing) {
    const std::filesystem::path copy = dir_ / final.filename();
    if (copy_existing) std::filesystem::copy_file(final, copy);
    files_.emplace_back(copy, final);
    return copy.string();
}

void Staging::commit() {
    for (const auto& [copy, final] : files_)
        if (std::filesystem::exists(copy)) std::filesystem::rename(copy, final);
}

}  // namespace xbdb::cli
