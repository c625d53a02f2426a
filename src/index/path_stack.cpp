#include "index/path_stack.hpp"

#include "core/api.hpp"
#include "core/failure.hpp"

namespace xbdb::index {

namespace {
constexpr int16_t kLevelsForThinPages = 32;
constexpr int16_t kFewestLevels = 2;
}  // namespace

int16_t level_bound(int64_t fanout, int64_t divisor) {
    if (fanout <= 1 || divisor <= 0) return kLevelsForThinPages;
    const int64_t limit = INT32_MAX / divisor;
    int16_t levels = 1;
    for (int64_t p = 1; p < limit; p *= fanout) ++levels;
    return levels < kFewestLevels ? kFewestLevels : levels;
}

bool PathStack::allocate(int16_t levels) {
    levels_.reset(static_cast<PathLevel*>(xbdb::allocate(sizeof(PathLevel) * levels)));
    capacity_ = levels_ ? levels : 0;
    current_ = -1;
    return levels_ != nullptr;
}

int32_t PathStack::start(int64_t root, int16_t index) {
    current_ = -1;
    return push(root, index);
}

int32_t PathStack::push(int64_t page, int16_t index) {
    if (current_ + 1 >= capacity_) return fail(DB_ERR_CORRUPT);
    ++current_;
    levels_[current_] = PathLevel{page, index};
    return 0;
}

}  // namespace xbdb::index
