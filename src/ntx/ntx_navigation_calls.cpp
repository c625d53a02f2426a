// The exported search and navigation calls of the NTX family.
//
// Each checks its arguments and the handle, re-reads the header when another
// process may have changed it, does the work, and, in shared unbuffered mode,
// keeps the key and record number of the position in the packet and lets every
// page go: the next call finds its place again by searching for them.
#include <cstring>

#include "core/failure.hpp"
#include "index/search_modes.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {

namespace {

class NtxCursor final : public index::Cursor {
public:
    explicit NtxCursor(NtxPacket& x) : x_(x) {}
    int32_t previous() override { return _DBclGoPreviousKey(x_); }
    int32_t next() override { return _DBclGoNextKey(x_); }
    int32_t copy_current(char* out) override {
        uint32_t recno = 0;
        const int32_t code = report_position(x_, out, &recno);
        return code < 0 ? fail(code) : 0;
    }
    bool current_equals(const char* key) override {
        char here[index::kKeyBufferSize];
        uint32_t recno = 0;
        return report_position(x_, here, &recno) == 0 &&
               std::memcmp(here, key, static_cast<std::size_t>(x_.key_size())) == 0;
    }

private:
    NtxPacket& x_;
};

void save_position(NtxPacket& x, int32_t code) {
    x.saved_recno = 0;
    if (code < 0) return;
    uint32_t recno = 0;
    if (report_position(x, x.saved_key.get(), &recno) == 0) x.saved_recno = recno;
}

// The end of every navigation call.
int32_t finish_call(NtxPacket& x, int32_t code) {
    if (x.shared_unbuffered()) save_position(x, code);
    _DBclClearPageBuffer(x);
    if (code < 0) return fail(code);
    DBerrno = code;
    return code;
}

// Start of every navigation call: the packet, its header current.
NtxPacket* begin_call(int32_t handle, int32_t& code) {
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) {
        code = fail(DB_ERR_HANDLE);
        return nullptr;
    }
    code = refresh_if_stale(*x);
    if (code < 0) {
        _DBclClearPageBuffer(*x);
        code = fail(code);
        return nullptr;
    }
    return x;
}

int32_t search(NtxPacket& x, char* key, uint32_t* recno, int32_t mode) {
    const index::SearchMode& row = index::search_mode(mode);
    index::SearchKey k;
    k.prepare(key, x.key_size(), row.by_recno, *recno);
    NtxCursor cursor(x);
    const int32_t code = index::finish_search(row, _DBclKeySearch(x, k), cursor);
    if (code < 0 || code == DB_WARN_EMPTY) return code;
    const int32_t reported = report_position(x, key, recno);
    return reported < 0 ? reported : code;
}

// Shared unbuffered mode: the position comes back by searching for the saved key
// and record number.
int32_t rebuild_position(NtxPacket& x) {
    if (!x.shared_unbuffered()) return 0;
    if (!x.saved_recno) {
        x.path.clear();
        return 0;
    }
    index::SearchKey k;
    k.prepare(x.saved_key.get(), x.key_size(), true, x.saved_recno);
    return _DBclKeySearch(x, k);
}

int32_t current_key(NtxPacket& x, char* key, uint32_t* recno) {
    if (x.shared_unbuffered()) {
        if (!x.saved_recno) return DB_WARN_NO_MORE_KEYS;
        const int32_t code = rebuild_position(x);
        if (code < 0 || code == DB_WARN_EMPTY) return code;
        const int32_t reported = report_position(x, key, recno);
        return reported < 0 ? reported : code;
    }
    return report_position(x, key, recno);
}

using Move = int32_t (*)(NtxPacket&);

// A move, then the key at the new position. The results of a move that runs off an
// end (203) still report the key it stopped on.
int32_t move_and_report(NtxPacket& x, Move move, char* key, uint32_t* recno) {
    const int32_t code = move(x);
    if (code < 0 || code == DB_WARN_EMPTY) return code;
    const int32_t reported = report_position(x, key, recno);
    return reported < 0 ? reported : code;
}

int32_t step(NtxPacket& x, bool forward, char* key, uint32_t* recno) {
    const int32_t rebuilt = rebuild_position(x);
    if (rebuilt < 0) return rebuilt;
    if (rebuilt == DB_WARN_NO_MORE_KEYS) return forward ? DB_WARN_KEY_NOT_FOUND : rebuilt;
    return move_and_report(x, forward ? _DBclGoNextKey : _DBclGoPreviousKey, key, recno);
}

}  // namespace
}  // namespace xbdb::ntx

using namespace xbdb;
using namespace xbdb::ntx;

extern "C" {

int32_t DBclKeySearch(int32_t handle, char* key, uint32_t* recno, int32_t mode) {
    if (!key || !recno) return fail(DB_ERR_NULL);
    int32_t code = 0;
    NtxPacket* x = begin_call(handle, code);
    if (!x) return code;
    return finish_call(*x, search(*x, key, recno, mode));
}

int32_t DBclGoFirstKey(int32_t handle, char* key, uint32_t* recno) {
    if (!key || !recno) return fail(DB_ERR_NULL);
    int32_t code = 0;
    NtxPacket* x = begin_call(handle, code);
    if (!x) return code;
    return finish_call(*x, move_and_report(*x, _DBclGoFirstKey, key, recno));
}

int32_t DBclGoLastKey(int32_t handle, char* key, uint32_t* recno) {
    if (!key || !recno) return fail(DB_ERR_NULL);
    int32_t code = 0;
    NtxPacket* x = begin_call(handle, code);
    if (!x) return code;
    return finish_call(*x, move_and_report(*x, _DBclGoLastKey, key, recno));
}

int32_t DBclGoNextKey(int32_t handle, char* key, uint32_t* recno) {
    if (!key || !recno) return fail(DB_ERR_NULL);
    int32_t code = 0;
    NtxPacket* x = begin_call(handle, code);
    if (!x) return code;
    return finish_call(*x, step(*x, true, key, recno));
}

int32_t DBclGoPreviousKey(int32_t handle, char* key, uint32_t* recno) {
    if (!key || !recno) return fail(DB_ERR_NULL);
    int32_t code = 0;
    NtxPacket* x = begin_call(handle, code);
    if (!x) return code;
    return finish_call(*x, step(*x, false, key, recno));
}

int32_t DBclGetCurrentKey(int32_t handle, char* key, uint32_t* recno) {
    if (!key || !recno) return fail(DB_ERR_NULL);
    int32_t code = 0;
    NtxPacket* x = begin_call(handle, code);
    if (!x) return code;
    const int32_t found = current_key(*x, key, recno);
    return finish_call(*x, found == DB_WARN_NO_MORE_KEYS ? DB_WARN_KEY_NOT_FOUND : found);
}

}  // extern "C"
