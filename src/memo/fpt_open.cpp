// FPT files: create, open, close, header re-read, information and the memo lock.
#include <cstring>

#include "memo/fpt_format.hpp"
#include "os/file_io.hpp"

namespace xbdb::memo {

FptPacket* DBfpm = nullptr;

namespace {

constexpr int32_t kCodeBlocks = 32;  // codes 1..32 count 512-byte units
constexpr int32_t kDialects[] = {0, 4, 8};

int32_t size_of_code(int32_t code) { return code <= kCodeBlocks ? code * 512 : code; }

bool known_dialect(int32_t dialect) {
    for (int32_t d : kDialects)
        if (d == dialect) return true;
    return false;
}

int32_t create_file(const char* name, int32_t size) {
    const int32_t next_free = (kFptHeaderArea + size - 1) / size;
    char header[kFptMemoHeader];
    put_be32(header, static_cast<uint32_t>(next_free));
    put_be32(header + 4, static_cast<uint32_t>(size));
    int32_t fd = -1;
    if (int32_t code = os::create_file(&fd, name); code < 0) return fail(code);
    int32_t code = os::write_all(fd, header);
    if (code >= 0) code = os::set_file_size(fd, next_free * size);
    const int32_t closed = os::close_file(fd);
    if (code < 0) return fail(code);
    if (closed < 0) return fail(closed);
    return 0;
}

int32_t read_header(FptPacket& m) {
    int32_t length = 0;
    if (int32_t code = os::file_length(m.fd, &length); code < 0) return fail(code);
    if (length < kFptHeaderArea) return fail(DB_ERR_NOT_MEMO);
    char header[kFptMemoHeader];
    if (int32_t code = os::read_at(m.fd, 0, header); code < 0) return fail(code);
    m.next_free = static_cast<int32_t>(be32(header));
    m.block_size = static_cast<int32_t>(be32(header + 4));
    if (m.block_size < kFptMinBlock || m.block_size > kFptMaxBlock) return fail(DB_ERR_PAGE_SIZE);
    m.end_transfer();
    return 0;
}

int32_t open_file(FptPacket& m, const char* name, int32_t mode) {
    mode = adjust_mode(mode);
    if (int32_t code = os::open_file(&m.fd, name, mode, &m.flags); code < 0) return fail(code);
    m.flags |= flags_for(mode, m.shared());
    m.family_word = (mode & DB_OPEN_UNBUFFERED) ? 1 : 0;
    if (!known_dialect(mode & DB_OPEN_DIALECT_MASK)) return fail(DB_ERR_VERSION);
    m.dialect = static_cast<uint8_t>(mode & DB_OPEN_DIALECT_MASK);
    store_name(m, name);
    if (int32_t code = read_header(m); code < 0) return fail(code);
    return 0;
}

int32_t open_memo(int32_t* handle, const char* name, int32_t mode) {
    FptPacket* m = nullptr;
    if (int32_t code = _DBAllocNewFilePacket(handle, Kind::fpt, &m); code < 0) return fail(code);
    if (int32_t code = open_file(*m, name, mode); code < 0) {
        abandon_open(handle, m);
        DBerrno = code;
        return fail(code);
    }
    return 0;
}

}  // namespace

FptPacket* _DBfpLockMemoStruc(int32_t handle) {
    auto* m = static_cast<FptPacket*>(packet_of(handle, Kind::fpt));
    if (m) DBfpm = m;
    return m;
}

int32_t _DBfpGetMemoHeader(FptPacket& m) {
    char next[4];
    if (int32_t code = os::read_at(m.fd, 0, next); code < 0) return fail(code);
    m.next_free = static_cast<int32_t>(be32(next));
    m.flags &= ~kFlagStale;
    return 0;
}

int32_t _DBfpLockMemo(FptPacket& m) {
    if (int32_t code = lock_region(m, kFptLock); code < 0) return fail(code);
    if (int32_t code = _DBfpGetMemoHeader(m); code < 0) return fail(code);
    return 0;
}

int32_t _DBfpUnLockMemo(FptPacket& m) {
    if (int32_t code = unlock_region(m, kFptLock); code < 0) return fail(code);
    return 0;
}

int32_t create_fpt(const char* name, int32_t code) {
    if (code < 1 || code > kFptMaxCode) return fail(DB_ERR_PAGE_SIZE);
    if (int32_t failed = create_file(name, size_of_code(code)); failed < 0) return fail(failed);
    return 0;
}

int32_t open_fpt(int32_t* handle, const char* name, int32_t mode) {
    if (int32_t code = open_memo(handle, name, mode); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::memo

using namespace xbdb;
using namespace xbdb::memo;

extern "C" {

int32_t DBfpCreateMemo(const char* name, int32_t code) {
    if (!name) return fail(DB_ERR_NULL);
    DBerrno = 0;
    if (int32_t failed = create_fpt(name, code); failed < 0) return fail(failed);
    return DBerrno = 0;
}

int32_t DBfpOpenMemo(int32_t* handle, const char* name, int32_t mode) {
    DBclose[static_cast<int>(Kind::fpt)] = DBfpCloseMemo;
    if (!handle || !name) return fail(DB_ERR_NULL);
    DBerrno = 0;
    if (int32_t code = open_fpt(handle, name, mode); code < 0) return fail(code);
    return DBerrno = 0;
}

int32_t DBfpCloseMemo(int32_t handle) {
    FptPacket* m = _DBfpLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (DBfpm == m) DBfpm = nullptr;
    if (int32_t code = close_memo(handle, *m, kFptLock); code < 0) return fail(code);
    return DBerrno = 0;
}

int32_t DBfpGetMemoHeader(int32_t handle) {
    FptPacket* m = _DBfpLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (m->shared())
        if (int32_t code = _DBfpGetMemoHeader(*m); code < 0) return fail(code);
    return DBerrno;
}

int32_t DBfpGetMemoInfo(int32_t handle, DBfpMemoInfo* info) {
    FptPacket* m = _DBfpLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    if (!info) return fail_unlogged(DB_ERR_NULL);
    DBerrno = 0;
    info->flags = info_flags(*m, info->flags);
    std::memcpy(info->name, m->name, sizeof info->name);
    info->lock_state = m->lock_state;
    info->block_size = m->block_size;
    return 0;
}

int32_t DBfpLockMemo(int32_t handle) {
    return lock_call(handle, _DBfpLockMemoStruc, [](auto& m) { return _DBfpLockMemo(m); });
}

int32_t DBfpUnLockMemo(int32_t handle) {
    return unlock_call(handle, _DBfpLockMemoStruc, [](auto& m) { return _DBfpUnLockMemo(m); });
}

}  // extern "C"
