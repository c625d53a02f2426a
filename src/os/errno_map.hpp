// Translation of host error numbers into the library's codes.
#pragma once

#include <cerrno>
#include <cstdint>
#include <span>

#include "core/api.hpp"

namespace xbdb::os {

struct ErrnoRule {
    int err;
    int32_t code;
};

// The code of err in table, or errno | 0xC0000000 when the table does not name it.
int32_t translate(std::span<const ErrnoRule> table, int err);

// Errors of opening an existing file (also used for existence tests).
constexpr ErrnoRule kOpenErrors[] = {
    {ENOENT, DB_ERR_FILE_NOT_FOUND}, {ENXIO, DB_ERR_FILE_NOT_FOUND}, {EISDIR, DB_ERR_FILE_NOT_FOUND},
    {EACCES, DB_ERR_ACCESS_DENIED}, {ETXTBSY, DB_ERR_ACCESS_DENIED},
    {EFAULT, DB_ERR_PATH_NOT_FOUND}, {ENOTDIR, DB_ERR_PATH_NOT_FOUND},
    {ENFILE, DB_ERR_NO_HANDLES}, {EMFILE, DB_ERR_NO_HANDLES},
    {EROFS, DB_ERR_READ_ONLY},
};
int32_t translate_open_error(int err);

}  // namespace xbdb::os
