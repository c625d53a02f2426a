// What an open NTX file tells about itself, and the calls of its index lock.
#include <algorithm>
#include <cstring>

#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"

namespace xbdb::ntx {
namespace {

constexpr int32_t kReportedKeyType = '?';
constexpr char kDescending[] = "DESCEND";

uint8_t info_state(const NtxPacket& x, uint8_t callers) {
    constexpr uint8_t ours = DB_INFO_READONLY | DB_INFO_SHARED | DB_INFO_UNBUFFERED;
    uint8_t state = callers & static_cast<uint8_t>(~ours);
    if (x.read_only()) state |= DB_INFO_READONLY;
    if (x.shared()) state |= DB_INFO_SHARED;
    if (x.unbuffered()) state |= DB_INFO_UNBUFFERED;
    return state;
}

void fill_info(const NtxPacket& x, DBclIndexInfo& info) {
    const char* expression = x.header.expression();
    std::memcpy(info.name, x.name, sizeof info.name);
    info.state = info_state(x, info.state);
    info.key_length = x.key_size();
    info.key_type = kReportedKeyType;
    info.key_flags = (x.header.unique() & 1) ? DB_KEYFLAG_UNIQUE : 0;
    if (std::strncmp(expression, kDescending, sizeof kDescending - 1) == 0)
        info.key_flags |= DB_KEYFLAG_DESCENDING;
    info.decimals = x.header.decimals();
    info.lock_state = x.lock_state;
    info.expr_length = static_cast<int32_t>(std::strlen(expression));
    // Cut to the field: an expression of 100 characters or more has no terminator.
    const std::size_t copied = std::min(std::strlen(expression) + 1, sizeof info.expression);
    std::memcpy(info.expression, expression, copied);
}

}  // namespace
}  // namespace xbdb::ntx

using namespace xbdb;
using namespace xbdb::ntx;

extern "C" {

int32_t DBclGetIndexInfo(int32_t handle, DBclIndexInfo* info) {
    if (!info) return fail(DB_ERR_NULL);
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    fill_info(*x, *info);
    return 0;
}

int32_t DBclGetIndexKeyExpr(int32_t handle, char* buffer) {
    if (!buffer) return fail(DB_ERR_NULL);
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    std::strcpy(buffer, x->header.expression());
    return 0;
}

int32_t DBclLockIndex(int32_t handle) {
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    if (x->shared() && !x->locked()) {
        if (int32_t code = _DBclLockIndex(*x); code < 0) return fail(code);
    }
    return DBerrno;
}

int32_t DBclUnLockIndex(int32_t handle) {
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    if (x->shared()) {
        if (int32_t code = _DBclUnLockIndex(*x); code < 0) return fail(code);
    }
    return DBerrno;
}

int32_t DBclGetIndexHeader(int32_t handle) {
    NtxPacket* x = _DBclLockIndexStruc(handle);
    if (!x) return fail(DB_ERR_HANDLE);
    if (x->shared()) {
        if (int32_t code = _DBclGetIndexHeader(*x); code < 0) return fail(code);
    }
    return DBerrno;
}

}  // extern "C"
