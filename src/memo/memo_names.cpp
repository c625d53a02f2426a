// Names of the backup and temporary files of a memo pack.
#include "memo/memo_names.hpp"

#include <cstdio>
#include <cstring>

#include "core/failure.hpp"
#include "os/file_io.hpp"

namespace xbdb::memo {

namespace {

HostBlock joined(std::string_view a, std::string_view b, std::string_view c) {
    HostBlock out = allocate_block(a.size() + b.size() + c.size() + 1);
    if (!out) return out;
    char* at = out.get();
    for (std::string_view part : {a, b, c}) {
        if (part.empty()) continue;  // an empty view may have no storage at all
        std::memcpy(at, part.data(), part.size());
        at += part.size();
    }
    *at = '\0';
    return out;
}

}  // namespace

std::string_view directory_of(std::string_view path) {
    const std::size_t cut = path.find_last_of(":\\/");
    return cut == std::string_view::npos ? std::string_view{} : path.substr(0, cut + 1);
}

std::string_view base_name(std::string_view path) {
    std::string_view file = path.substr(directory_of(path).size());
    const std::size_t dot = file.rfind('.');
    return dot == std::string_view::npos ? file : file.substr(0, dot);
}

HostBlock backup_name(std::string_view path) {
    return joined(directory_of(path), base_name(path), ".BKT");
}

HostBlock temporary_name(std::string_view path, std::string_view extension) {
    for (int32_t n = 0;; ++n) {
        char number[16];
        std::snprintf(number, sizeof number, "%d", static_cast<int>(n));
        HostBlock name = joined(directory_of(path), number, extension);
        if (!name || !os::_DBIsFileThere(name.get())) return name;
    }
}

}  // namespace xbdb::memo
