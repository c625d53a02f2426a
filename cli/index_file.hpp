// Index files as the tool sees them: the format named by the extension, and an
// open NTX index. NDX, MDX and CDX/IDX are refused with a clear message until the
// library has them.
#pragma once

#include <cstdint>
#include <string>

#include "common.hpp"

namespace xbdb::cli {

enum class IndexFormat { ntx, ndx, mdx, cdx, idx, unknown };

IndexFormat index_format_of(const std::string& path);
bool is_index_path(const std::string& path);
// Fails (exit 1) unless the format is one this build reads and writes.
void require_supported(const std::string& path);

struct IndexSummary {
    std::string expression;
    int32_t key_length = 0;
    int32_t decimals = 0;
    bool unique = false;
    bool descending = false;
    int depth = 0;
    int64_t keys = 0;
    int32_t max_keys_per_page = 0;
};

class NtxIndex {
public:
    NtxIndex(const std::string& path, bool read_only);
    ~NtxIndex();
    NtxIndex(const NtxIndex&) = delete;
    NtxIndex& operator=(const NtxIndex&) = delete;

    int32_t handle() const { return handle_; }
    const std::string& path() const { return path_; }
    int32_t key_length() const;
    // Expression, sizes, flags, depth (root to leaf) and key count (a full walk).
    IndexSummary summary() const;

private:
    int depth() const;
    std::string path_;
    int32_t handle_ = DB_NO_HANDLE;
};

}  // namespace xbdb::cli
