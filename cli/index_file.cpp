#include "index_file.hpp"

#include <fmt/format.h>

#include "ntx/ntx_packet.hpp"

namespace xbdb::cli {

namespace {

struct FormatRow {
    const char* extension;
    IndexFormat format;
    const char* name;
    bool supported;
};

// One row per index format: what the extension means and whether this build has it.
constexpr FormatRow kFormats[] = {
    {"NTX", IndexFormat::ntx, "Clipper NTX", true},
    {"NDX", IndexFormat::ndx, "dBASE III NDX", false},
    {"MDX", IndexFormat::mdx, "dBASE IV MDX", false},
    {"CDX", IndexFormat::cdx, "FoxPro CDX", false},
    {"IDX", IndexFormat::idx, "FoxPro IDX", false},
};

const FormatRow* row_of(const std::string& path) {
    const std::string ext = extension_of(path);
    for (const auto& row : kFormats)
        if (ext == row.extension) return &row;
    return nullptr;
}

// Deeper than any NTX tree can be: a file of 2^31 bytes holds fewer pages.
constexpr int kMaxDepth = 64;

}  // namespace

IndexFormat index_format_of(const std::string& path) {
    const FormatRow* row = row_of(path);
    return row ? row->format : IndexFormat::unknown;
}

bool is_index_path(const std::string& path) { return row_of(path) != nullptr; }

void require_supported(const std::string& path) {
    const FormatRow* row = row_of(path);
    if (!row)
        usage_failure(fmt::format("{}: unknown index format (the extension names it: .ntx; "
                                  ".ndx, .mdx, .cdx and .idx are not supported by this build yet)", path));
    if (!row->supported)
        throw Failure(kProblemFound, fmt::format("{}: {} indexes are not supported by this build yet", path,
                                                 row->name));
}

NtxIndex::NtxIndex(const std::string& path, bool read_only) : path_(path) {
    require_supported(path);
    check(DBclOpenIndex(&handle_, path.c_str(), read_only ? DB_OPEN_READONLY : 0), path,
          "cannot open the index");
}

NtxIndex::~NtxIndex() {
    if (handle_ != DB_NO_HANDLE) DBclCloseIndex(handle_);
}

int32_t NtxIndex::key_length() const {
    DBclIndexInfo info{};
    check(DBclGetIndexInfo(handle_, &info), path_, "cannot read the index header");
    return info.key_length;
}

int NtxIndex::depth() const {
    ntx::NtxPacket* x = ntx::_DBclLockIndexStruc(handle_);
    if (!x) library_failure(DB_ERR_HANDLE, path_, "cannot read the index");
    int64_t offset = x->header.root();
    for (int level = 1; level <= kMaxDepth; ++level) {
        index::PageRef ref;
        check(ntx::read_page(*x, offset, ref), path_, fmt::format("cannot read page {}", offset));
        const ntx::Page page(ref.data(), x->geometry);
        if (!page.inner()) return level;
        check(ntx::child_of(*x, page, 0, offset), path_, fmt::format("page {} has a bad child", ref.offset()));
    }
    library_failure(DB_ERR_CORRUPT, path_, "the tree is deeper than any NTX file can be");
}

IndexSummary NtxIndex::summary() const {
    DBclIndexInfo info{};
    check(DBclGetIndexInfo(handle_, &info), path_, "cannot read the index header");
    char expression[256] = {};
    check(DBclGetIndexKeyExpr(handle_, expression), path_, "cannot read the key expression");
    IndexSummary s;
    s.expression = expression;
    s.key_length = info.key_length;
    s.decimals = info.decimals;
    s.unique = info.key_flags & DB_KEYFLAG_UNIQUE;
    s.descending = info.key_flags & DB_KEYFLAG_DESCENDING;
    s.max_keys_per_page = ntx::_DBclLockIndexStruc(handle_)->geometry.max_items;
    s.depth = depth();
    std::string key(static_cast<std::size_t>(info.key_length) + 1, '\0');
    uint32_t recno = 0;
    for (int32_t code = DBclGoFirstKey(handle_, key.data(), &recno); code == 0;
         code = DBclGoNextKey(handle_, key.data(), &recno)) {
        check(code, path_, "cannot walk the keys");
        ++s.keys;
    }
    check(DBerrno, path_, "cannot walk the keys");
    return s;
}

}  // namespace xbdb::cli
