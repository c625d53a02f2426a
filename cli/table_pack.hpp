// Packing a table and its memo file through the library, shared by `pack` and the
// demo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common.hpp"

namespace xbdb::cli {

// Whether this build of the library has the table pack (DBPackFile).
bool table_pack_available();
// Removes the records marked deleted (DBPackFile); the table's handle may change.
// Fails with a clear message when the library has no table pack.
void pack_table(Table& table);
// Rewrites the memo file with only the texts the table's records refer to.
void pack_memo(Table& table, MemoFile& memo);

}  // namespace xbdb::cli
