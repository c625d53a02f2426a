#include "index/search_modes.hpp"

#include "core/api.hpp"
#include "index/key_compare.hpp"

namespace xbdb::index {

namespace {

constexpr SearchMode kModes[] = {
    // mode  by recno  on a hit           on a miss           nothing before
    {1, false, Then::found, Then::not_found, Then::no_more},         // plain key search
    {2, true, Then::found, Then::not_found, Then::no_more},          // key and record number
    {11, false, Then::step_back, Then::found, Then::not_found},      // the key before
    {12, false, Then::found, Then::found, Then::not_found},          // at or before
    {13, false, Then::found, Then::not_found, Then::not_found},      // as 1, no 203
    {14, false, Then::found, Then::step_forward, Then::found},       // at or after
    {15, false, Then::skip_equal, Then::step_forward, Then::found},  // after the key value
};

// A move that runs off an end means there is no such key.
int32_t moved(int32_t code) { return code == DB_WARN_NO_MORE_KEYS ? DB_WARN_KEY_NOT_FOUND : code; }

int32_t skip_equal(Cursor& cursor) {
    if (int32_t code = cursor.copy_current(DBkeybfr1); code < 0) return code;
    for (;;) {
        const int32_t code = cursor.next();
        if (code != 0) return moved(code);
        if (!cursor.current_equals(DBkeybfr1)) return 0;
    }
}

int32_t apply(Then then, Cursor& cursor) {
    switch (then) {
        case Then::found: return 0;
        case Then::not_found: return DB_WARN_KEY_NOT_FOUND;
        case Then::no_more: return DB_WARN_NO_MORE_KEYS;
        case Then::step_back: return moved(cursor.previous());
        case Then::step_forward: return moved(cursor.next());
        case Then::skip_equal: return skip_equal(cursor);
    }
    return 0;
}

}  // namespace

const SearchMode& search_mode(int32_t mode) {
    for (const SearchMode& row : kModes)
        if (row.mode == mode) return row;
    return kModes[0];
}

int32_t finish_search(const SearchMode& mode, int32_t raw, Cursor& cursor) {
    switch (raw) {
        case 0: return apply(mode.on_hit, cursor);
        case DB_WARN_KEY_NOT_FOUND: return apply(mode.on_miss, cursor);
        case DB_WARN_NO_MORE_KEYS: return apply(mode.on_nothing_before, cursor);
        default: return raw;
    }
}

}  // namespace xbdb::index
