// The search modes shared by the index families.
//
// A search first finds the first key in index order that matches (a hit, 0), or
// stops on the last key that sorts before the search key (a miss, 204), or on the
// first key when nothing sorts before it (203); an empty index is 202. Each mode
// then adjusts the position and the result; the rules are one row per mode in
// search_modes.cpp, and any mode not listed behaves as mode 1.
#pragma once

#include <cstdint>

namespace xbdb::index {

// What a mode does after the plain search.
enum class Then : uint8_t {
    found,         // report 0 where the search stopped
    not_found,     // report 204 where the search stopped
    no_more,       // report 203 where the search stopped
    step_back,     // move to the previous key: 0, or 204 when there is none
    step_forward,  // move to the next key: 0, or 204 when there is none
    skip_equal,    // move past every key equal (over the whole key size) to the one
                   // found: 0 on the first greater key, 204 when there is none
};

struct SearchMode {
    int32_t mode;
    bool by_recno;           // search by key and record number
    Then on_hit;             // search result 0
    Then on_miss;            // 204: positioned on the key before
    Then on_nothing_before;  // 203: positioned on the first key
};

// The row of mode; unknown modes get the row of mode 1.
const SearchMode& search_mode(int32_t mode);

// The moves a family offers to the mode adjustments. Each returns 0, 203 when it
// runs off an end (position then on the first or last key), or a negative code.
class Cursor {
public:
    virtual int32_t previous() = 0;
    virtual int32_t next() = 0;
    // Copies the current key (key size bytes and a terminator) into out.
    virtual int32_t copy_current(char* out) = 0;
    // Whether the current key equals key over the whole key size.
    virtual bool current_equals(const char* key) = 0;

protected:
    ~Cursor() = default;
};

// Applies the mode's adjustment to the plain search result raw (202 and errors pass
// through unchanged).
int32_t finish_search(const SearchMode& mode, int32_t raw, Cursor& cursor);

}  // namespace xbdb::index
