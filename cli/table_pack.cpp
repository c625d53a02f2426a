#include "table_pack.hpp"

#include <type_traits>

#include <fmt/format.h>

// The table pack is newer than the rest of the library. When xbdb.h does not
// declare DBPackFile, an unqualified call finds only this stand-in, whose result
// type tells the code below to report the pack as missing; when it does, the
// library's function is the better match and is called. The stand-in lives at
// global scope so that both are found by the same lookup.
namespace xbdb_cli_fallback {
struct MissingFunction {};
template <class... Args>
MissingFunction DBPackFile(Args...);
}  // namespace xbdb_cli_fallback

namespace xbdb::cli {

namespace {

// 0 after a pack, 1 when the library has no table pack, or the library's failure.
int32_t call_pack_file(int32_t* handle) {
    using namespace xbdb_cli_fallback;
    if constexpr (std::is_same_v<decltype(DBPackFile(handle)), MissingFunction>) {
        return 1;
    } else {
        return DBPackFile(handle);
    }
}

}  // namespace

bool table_pack_available() {
    using namespace xbdb_cli_fallback;
    int32_t* handle = nullptr;
    return !std::is_same_v<decltype(DBPackFile(handle)), MissingFunction>;
}

void pack_table(Table& table) {
    if (!table_pack_available())
        throw Failure(kProblemFound, fmt::format("{}: the table pack (DBPackFile) is not in this build of the "
                                                 "library yet", table.path()));
    check(call_pack_file(table.handle_address()), table.path(), "cannot pack the table");
}

void pack_memo(Table& table, MemoFile& memo) {
    const int32_t code = memo.kind() == MemoKind::fpt ? DBfpPackMemo(table.handle(), memo.handle_address())
                                                      : DBxbPackMemo(table.handle(), memo.handle_address());
    check(code, memo.path(), "cannot pack the memo file");
}

}  // namespace xbdb::cli
