// File names around a memo file: its base name (stored in dBASE IV headers) and the
// backup and temporary names of a pack, all in the memo file's own directory.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/memory.hpp"

namespace xbdb::memo {

// Everything up to and including the last ':', '\' or '/' ("" when none).
std::string_view directory_of(std::string_view path);
// The name after the directory, without the part from its last full stop.
std::string_view base_name(std::string_view path);

// The directory plus the file name with its last extension replaced by ".BKT" (or
// ".BKT" appended when it has none), as a NUL-terminated block; null after -203.
HostBlock backup_name(std::string_view path);
// The directory plus the first number from 0 upwards plus extension that names no
// existing file; null after -203.
HostBlock temporary_name(std::string_view path, std::string_view extension);

}  // namespace xbdb::memo
