// The runs of a bulk build's sort, shared by the run writer and the merge.
#pragma once

#include <cstdint>

#include "index/bulk_build.hpp"

namespace xbdb::index::bulk {

// One sorted run in the temporary file and, during the merge, its share of the
// sort buffer.
struct Run {
    int64_t position = 0;    // file position of its next unread item
    int32_t unread = 0;      // items still in the file
    char* buffer = nullptr;  // its share of the sort buffer (merge only)
    int32_t loaded = 0;      // items in that share
    int32_t next = 0;        // the share's next item
};

struct SortSpace {
    SortPlan plan;
    HostBlock buffer;       // plan.budget bytes: plan.per_run items
    HostPtr<Run[]> runs;    // plan.runs
    HostPtr<int32_t[]> heap;  // run numbers, for the merge
};

// Merges the runs written to fd into sink (unique: each key once, with its lowest
// record number).
int32_t merge_runs(SortSpace& space, const ItemShape& shape, int fd, ItemSink& sink);

}  // namespace xbdb::index::bulk
