// DBT files: create, open, close, header re-read, information and the memo lock.
#include <algorithm>
#include <cstring>

#include "memo/dbt_format.hpp"
#include "memo/memo_names.hpp"
#include "os/file_io.hpp"

namespace xbdb::memo {

DbtPacket* DBxbm = nullptr;

namespace {

constexpr DbtDialect kDialects[] = {
    {1, DbtLayout::iii, true},   // dBASE III / Clipper
    {2, DbtLayout::iv, false},   // dBASE IV: texts with a length header, free runs
    {3, DbtLayout::iii, true},
    {5, DbtLayout::iii, true},
    {6, DbtLayout::iii, false},  // never wraps lines
    {7, DbtLayout::iii, true},
};

// The new file's header block, followed by the end byte 0x1A.
void build_new_file(std::span<char> file, const char* name, const DbtDialect& d) {
    const int32_t length = static_cast<int32_t>(file.size()) - 1;
    put_le32(file.data() + kDbtFreeAt, 1);
    if (d.layout == DbtLayout::iv) {
        std::string_view base = base_name(name);
        base = base.substr(0, std::min<std::size_t>(base.size(), kDbtNameSize));
        for (std::size_t i = 0; i < base.size(); ++i)
            file[kDbtNameAt + i] = static_cast<char>(std::toupper(static_cast<unsigned char>(base[i])));
        file[kDbtMarkAt + 2] = 2;
        file[kDbtMarkAt + 3] = 1;
        put_le16(file.data() + kDbtBlockLengthAt, static_cast<uint16_t>(length));
    }
    file[length] = kDbtEnd;
}

int32_t create_file(const char* name, int32_t factor, const DbtDialect& d) {
    const int32_t length = d.layout == DbtLayout::iv ? kDbtIIIBlock * factor : kDbtIIIBlock;
    HostBlock file = allocate_block(static_cast<std::size_t>(length) + 1);
    if (!file) return fail(DB_ERR_MEMORY);
    std::span<char> bytes(file.get(), static_cast<std::size_t>(length) + 1);
    build_new_file(bytes, name, d);
    int32_t fd = -1;
    if (int32_t code = os::create_file(&fd, name); code < 0) return fail(code);
    const int32_t written = os::write_all(fd, bytes);
    const int32_t closed = os::close_file(fd);
    if (written < 0) return fail(written);
    if (closed < 0) return fail(closed);
    return 0;
}

int32_t count_blocks(DbtPacket& m) {
    int32_t length = 0;
    if (int32_t code = os::file_length(m.fd, &length); code < 0) return fail(code);
    m.block_count = std::max(1, length / m.block_length());
    return 0;
}

// dBASE IV block lengths other programs choose are accepted, whatever they store in
// the bytes around it.
int32_t read_header(DbtPacket& m) {
    int32_t length = 0;
    if (int32_t code = os::file_length(m.fd, &length); code < 0) return fail(code);
    const int32_t minimum = m.iv() ? kDbtHeaderCopy : kDbtIIIBlock;
    if (length < minimum) return fail(DB_ERR_NOT_MEMO);
    std::span<char> copy(reinterpret_cast<char*>(m.header), sizeof m.header);
    if (int32_t code = os::read_at(m.fd, 0, copy); code < 0) return fail(code);
    if (!m.iv()) put_le16(m.header + kDbtBlockLengthAt, kDbtIIIBlock);
    const int32_t block = m.block_length();
    if (block < kDbtMinBlock || block > kDbtMaxBlock) return fail(DB_ERR_PAGE_SIZE);
    return count_blocks(m);
}

int32_t open_file(DbtPacket& m, const char* name, int32_t mode) {
    mode = adjust_mode(mode);
    if (int32_t code = os::open_file(&m.fd, name, mode, &m.flags); code < 0) return fail(code);
    m.flags |= flags_for(mode, m.shared());
    m.family_word = (mode & DB_OPEN_UNBUFFERED) ? 1 : 0;
    const DbtDialect* d = dbt_dialect(mode & DB_OPEN_DIALECT_MASK);
    if (!d) return fail(DB_ERR_VERSION);
    m.dialect = d->number;
    store_name(m, name);
    if (int32_t code = read_header(m); code < 0) return fail(code);
    return 0;
}

int32_t open_memo(int32_t* handle, const char* name, int32_t mode) {
    DbtPacket* m = nullptr;
    if (int32_t code = _DBAllocNewFilePacket(handle, Kind::dbt, &m); code < 0) return fail(code);
    if (int32_t code = open_file(*m, name, mode); code < 0) {
        abandon_open(handle, m);
        DBerrno = code;
        return fail(code);
    }
    return 0;
}

}  // namespace

const DbtDialect* dbt_dialect(int32_t dialect) {
    if (dialect == 0) dialect = 1;
    for (const DbtDialect& d : kDialects)
        if (d.number == dialect) return &d;
    return nullptr;
}

DbtPacket* _DBxbLockMemoStruc(int32_t handle) {
    auto* m = static_cast<DbtPacket*>(packet_of(handle, Kind::dbt));
    if (m) DBxbm = m;
    return m;
}

int32_t _DBxbGetMemoHeader(DbtPacket& m) {
    std::span<char> head(reinterpret_cast<char*>(m.header + kDbtFreeAt), 4);
    if (int32_t code = os::read_at(m.fd, 0, head); code < 0) return fail(code);
    if (int32_t code = count_blocks(m); code < 0) return fail(code);
    m.flags &= ~kFlagStale;
    return 0;
}

int32_t _DBxbLockMemo(DbtPacket& m) {
    if (int32_t code = lock_region(m, m.lock()); code < 0) return fail(code);
    if (int32_t code = _DBxbGetMemoHeader(m); code < 0) return fail(code);
    return 0;
}

int32_t _DBxbUnLockMemo(DbtPacket& m) {
    if (int32_t code = unlock_region(m, m.lock()); code < 0) return fail(code);
    return 0;
}

int32_t create_dbt(const char* name, int32_t factor, int32_t dialect) {
    if (factor < 1 || factor > kDbtMaxFactor) return fail(DB_ERR_PAGE_SIZE);
    const DbtDialect* d = dbt_dialect(dialect);
    if (!d) return fail(DB_ERR_VERSION);
    if (int32_t code = create_file(name, factor, *d); code < 0) return fail(code);
    return 0;
}

int32_t open_dbt(int32_t* handle, const char* name, int32_t mode) {
    if (int32_t code = open_memo(handle, name, mode); code < 0) return fail(code);
    return 0;
}

}  // namespace xbdb::memo

using namespace xbdb;
using namespace xbdb::memo;

extern "C" {

int32_t DBxbCreateMemo(const char* name, int32_t factor, int32_t dialect) {
    if (!name) return fail(DB_ERR_NULL);
    DBerrno = 0;
    if (int32_t code = create_dbt(name, factor, dialect); code < 0) return fail(code);
    return DBerrno = 0;
}

int32_t DBxbOpenMemo(int32_t* handle, const char* name, int32_t mode) {
    DBclose[static_cast<int>(Kind::dbt)] = DBxbCloseMemo;
    if (!handle || !name) return fail(DB_ERR_NULL);
    DBerrno = 0;
    if (int32_t code = open_dbt(handle, name, mode); code < 0) return fail(code);
    return DBerrno = 0;
}

int32_t DBxbCloseMemo(int32_t handle) {
    DbtPacket* m = _DBxbLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (DBxbm == m) DBxbm = nullptr;
    if (int32_t code = close_memo(handle, *m, m->lock()); code < 0) return fail(code);
    return DBerrno = 0;
}

int32_t DBxbGetMemoHeader(int32_t handle) {
    DbtPacket* m = _DBxbLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    DBerrno = 0;
    if (m->shared())
        if (int32_t code = _DBxbGetMemoHeader(*m); code < 0) return fail(code);
    return DBerrno;
}

int32_t DBxbGetMemoInfo(int32_t handle, DBxbMemoInfo* info) {
    DbtPacket* m = _DBxbLockMemoStruc(handle);
    if (!m) return fail(DB_ERR_HANDLE);
    if (!info) return fail(DB_ERR_NULL);
    DBerrno = 0;
    info->flags = info_flags(*m, info->flags);
    std::memcpy(info->name, m->name, sizeof info->name);
    info->dialect = m->dialect;
    info->lock_state = m->lock_state;
    info->block_length = m->block_length();
    return 0;
}

int32_t DBxbLockMemo(int32_t handle) {
    return lock_call(handle, _DBxbLockMemoStruc, [](auto& m) { return _DBxbLockMemo(m); });
}

int32_t DBxbUnLockMemo(int32_t handle) {
    return unlock_call(handle, _DBxbLockMemoStruc, [](auto& m) { return _DBxbUnLockMemo(m); });
}

}  // extern "C"
