#include "index/index_lock.hpp"

#include "core/api.hpp"
#include "core/failure.hpp"
#include "core/state.hpp"
#include "index/open_mode.hpp"
#include "os/file_io.hpp"

namespace xbdb::index {

int32_t lock_range(LockableIndex& index) {
    const LockSpan span = index.lock_span();
    index.lock_state_byte() = 0;
    if (int32_t code = os::lock_data(index.lock_descriptor(), DB_LOCK_EXCLUSIVE, span.offset,
                                    span.length);
        code < 0)
        return fail(code);
    index.lock_state_byte() = kIndexLocked;
    return 0;
}

int32_t unlock_range(LockableIndex& index) {
    if (!index.lock_state_byte()) return 0;
    const LockSpan span = index.lock_span();
    if (int32_t code = os::lock_data(index.lock_descriptor(), DB_LOCK_RELEASE, span.offset,
                                    span.length);
        code < 0)
        return fail(code);
    index.lock_state_byte() = 0;
    if (index.flags_byte() & kFlagShared) index.flags_byte() |= kFlagHeaderStale;
    return 0;
}

int32_t sync_with_file(LockableIndex& index) {
    PageCache& cache = index.page_cache();
    if (int32_t code = cache.write_dirty(); code < 0) return fail(code);
    bool changed = false;
    if (int32_t code = index.reread_header(changed); code < 0) return fail(code);
    if (changed) cache.drop_all();
    return 0;
}

int32_t take_index_lock(LockableIndex& index) {
    if (int32_t code = lock_range(index); code < 0) return fail(code);
    if (int32_t code = sync_with_file(index); code < 0) {
        unlock_range(index);
        return fail(code);
    }
    index.flags_byte() &= static_cast<uint8_t>(~kFlagHeaderStale);
    return 0;
}

int32_t release_index_lock(LockableIndex& index) {
    if (!index.lock_state_byte()) return 0;
    if (int32_t code = index.flush_changes(); code < 0) return fail(code);
    if (int32_t code = unlock_range(index); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::index
