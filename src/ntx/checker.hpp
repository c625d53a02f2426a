// Integrity check of an open NTX file, for tests and the command-line tool.
//
// Walks the whole tree and the free-page chain and reports, one line each: damaged
// pages (counts, offset tables, children that are no page of the file), keys out of
// order, pages below the fill bound, leaves at different depths, pages reached
// twice, and a free chain that loops, leaves the file or meets the tree.
// Optionally every record of a table has its key present exactly once.
#pragma once

#include <cstdint>

#include "index/problem_list.hpp"

namespace xbdb::ntx {

struct CheckOptions {
    // Every page but the root holds at least half_page keys. Off, the last page of
    // each level may hold fewer, as in a tree written bottom-up by a bulk build.
    bool strict_fill = true;
    // Report pages that are neither in the tree nor on the free chain.
    bool orphans = false;
    // An open table whose every record must have its key (DBclMakeKey) in the index
    // exactly once, with its record number; -1 for none.
    int32_t table = -1;
};

// The problems of the index open on handle; empty when it is sound. Reads pages
// through the index's cache and leaves it without a position.
index::ProblemList check_index(int32_t handle, const CheckOptions& options = {});

}  // namespace xbdb::ntx
