// Making tables and their memo files, and replacing a table as a whole: the work
// that `create`, `import` and the demo share.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common.hpp"

namespace xbdb::cli {

// NAME:TYPE[:LEN[:DEC]], e.g. NAME:C:30, AMOUNT:N:12:2, BORN:D, NOTES:M.
DBFieldSpec parse_field_spec(const std::string& text);

// Creates the table and, when it has memo fields, its memo file beside it (.DBT,
// or .FPT in the FoxPro dialects 4 and 8; the extension's case follows the table's).
void create_table(const std::string& path, std::vector<DBFieldSpec> fields, int dialect);

// The memo file name that goes with a new table of this dialect.
std::string memo_name_for(const std::string& table_path, int dialect);

// Work on copies in a private directory beside the files, then move them over the
// originals in one go: a failure before commit() leaves the originals untouched
// and removes the copies.
class Staging {
public:
    explicit Staging(const std::filesystem::path& near);
    ~Staging();
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    // The path of the working copy of final (a copy of it when copy_existing).
    std::string stage(const std::filesystem::path& final, bool copy_existing);
    void commit();

private:
    std::filesystem::path dir_;
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> files_;
};

}  // namespace xbdb::cli
