// The position of an index: the path from the root to the current key.
//
// Level 0 is the root; each level holds a page and the index of the entry on the
// path (at the current level, the current key). The number of levels is fixed at
// open from the fewest keys a page may hold, which bounds the depth of any sound
// tree; a child pointer that loops, or a tree deeper than the bound, fails the push
// with -206 instead of descending forever.
#pragma once

#include <cstdint>

#include "core/memory.hpp"

namespace xbdb::index {

struct PathLevel {
    int64_t page = 0;   // byte offset of the page
    int16_t index = 0;  // entry on the path
};

// Levels needed for a tree whose pages fan out by at least `fanout` below a bound of
// 2147483647 / `divisor` entries: 1 + the number of multiplications of p (from 1) by
// fanout while p stays below the bound. A fanout of 1 or less never reaches it; 32
// levels then cover every tree over 2^31 records. Never fewer than 2.
int16_t level_bound(int64_t fanout, int64_t divisor);

class PathStack {
public:
    // Allocates the levels; false after a logged -203.
    bool allocate(int16_t levels);

    int16_t capacity() const { return capacity_; }
    int16_t level() const { return current_; }
    bool empty() const { return current_ < 0; }
    void clear() { current_ = -1; }

    // Starts the path at the root.
    int32_t start(int64_t root, int16_t index = 0);
    // One level down; -206 when the tree is deeper than the bound.
    int32_t push(int64_t page, int16_t index = 0);
    void pop() { --current_; }
    void cut_to(int16_t level) { current_ = level; }

    PathLevel& top() { return levels_[current_]; }
    const PathLevel& top() const { return levels_[current_]; }
    PathLevel& at(int16_t level) { return levels_[level]; }
    const PathLevel& at(int16_t level) const { return levels_[level]; }

private:
    HostPtr<PathLevel[]> levels_;
    int16_t capacity_ = 0;
    int16_t current_ = -1;
};

}  // namespace xbdb::index
