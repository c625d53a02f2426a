// The handle table, start-up and shut-down, and the library's settings.
#include "core/state.hpp"

#include <cstdlib>
#include <cstring>
#include <string_view>


char DBvers[DB_VERSION_LEN] = "3.22 (19920301)";
extern const char DBcopyr[] = "xbdb - xBase database engine library";
int32_t DBdate_style = 0;
int32_t DBlock_retry = 0;
int32_t DBsamba = 0;
uint8_t vk_mdxhdr[48] = {};

namespace xbdb {

HandleTable DBbase;
CloseFunction DBclose[kKindCount] = {};

namespace {

constexpr int32_t kMinFiles = 5;    // the first five descriptors are the host's own
constexpr int32_t kMaxFiles = 512;
constexpr int32_t kMaxLockCapacity = INT16_MAX;

constexpr int kMaxShutdownHooks = 8;
void (*shutdown_hooks[kMaxShutdownHooks])() = {};

bool valid_kind(int32_t kind) { return kind >= DB_KIND_DBF && kind <= DB_KIND_CDX; }

bool handle_in_range(int32_t handle) {
    return DBbase.slots && handle >= 0 && handle < DBbase.slot_count;
}

// Only the exact words YES or yes ask for folded lock offsets.
bool samba_requested() {
    const char* value = std::getenv("DB_SAMBA");
    if (!value) return false;
    std::string_view v(value);
    return v == "YES" || v == "yes";
}

// Frees whatever the tables hold and leaves them empty.
void free_tables() {
    release(DBbase.slots);
    release(DBbase.locks);
    DBbase = HandleTable{};
}

// A packet that its family's close left behind (or whose family registered no
// close function) is still released, so that nothing outlives the library state.
void release_leftover(int32_t handle) {
    Packet* packet = DBbase.slots[handle].packet;
    if (packet && packet->fd >= 0) DBosCloseFile(packet->fd);
    release_slot(handle);
}

}  // namespace

Packet* packet_of(int32_t handle, Kind kind) {
    if (!handle_in_range(handle) || DBbase.slots[handle].kind != kind) return nullptr;
    return DBbase.slots[handle].packet;
}

Packet* packet_of(int32_t handle, Kind kind, Kind other_kind) {
    Packet* packet = packet_of(handle, kind);
    return packet ? packet : packet_of(handle, other_kind);
}

int32_t claim_slot(int32_t* handle, int32_t kind, std::source_location where) {
    *handle = 0;
    int32_t slot = 0;
    while (slot < DBbase.slot_count && DBbase.slots[slot].kind != Kind::free) ++slot;
    if (!DBbase.slots || slot >= DBbase.slot_count) {
        *handle = DB_NO_HANDLE;
        return fail(DB_ERR_NO_HANDLES, where);
    }
    *handle = slot;
    if (!valid_kind(kind)) return fail(DB_ERR_SWITCH, where);
    return 0;
}

void fill_slot(int32_t handle, Kind kind, Packet* packet) {
    DBbase.slots[handle] = HandleSlot{packet, kind};
    ++DBbase.open_files;
}

void release_slot(int32_t handle) {
    if (!handle_in_range(handle)) return;
    HandleSlot& slot = DBbase.slots[handle];
    if (slot.packet) {
        slot.packet->~Packet();
        release(slot.packet);
    }
    if (slot.kind != Kind::free) --DBbase.open_files;
    slot = HandleSlot{nullptr, Kind::free};
}

void register_shutdown(void (*release)()) {
    for (auto& hook : shutdown_hooks) {
        if (hook == release) return;
        if (!hook) {
            hook = release;
            return;
        }
    }
}

int32_t _DBSetLocksUsed(int32_t n) {
    DBbase.locks_used = static_cast<int16_t>(n);
    return DBerrno;
}

}  // namespace xbdb

using namespace xbdb;

extern "C" {

int32_t DBInitialize(int32_t files, uint8_t date_style) {
    // A second start-up closes what the first one left open instead of losing it.
    if (DBbase.slots) DBTerminate();

    DBlog_errs = 0;
    DBdate_style = (date_style == 0 || date_style > 15) ? 1 : date_style;
    if (files < kMinFiles) return fail(DB_ERR_HANDLE);
    std::memset(DBclose, 0, sizeof DBclose);

    const int32_t slots = std::min(files, kMaxFiles) - kMinFiles;
    DBbase.slots = static_cast<HandleSlot*>(allocate(sizeof(HandleSlot) * slots));
    if (!DBbase.slots) return fail(DB_ERR_MEMORY);
    DBbase.locks = static_cast<LockEntry*>(allocate(sizeof(LockEntry) * 2 * slots));
    if (!DBbase.locks) {
        free_tables();
        return fail(DB_ERR_MEMORY);
    }
    DBbase.slot_count = static_cast<int16_t>(slots);
    DBbase.lock_capacity = static_cast<int16_t>(2 * slots);
    DBbase.locks_used = 0;
    DBbase.open_files = 0;

    if (samba_requested()) DBsamba = 1;
    DBerrno = 0;
    return 0;
}

void DBTerminate(void) {
    for (int32_t handle = 0; handle < DBbase.slot_count && DBbase.slots; ++handle) {
        const Kind kind = DBbase.slots[handle].kind;
        if (kind == Kind::free) continue;
        if (CloseFunction close = DBclose[static_cast<int>(kind)]) {
            DBerrno = 0;
            close(handle);
        }
        if (DBbase.slots[handle].kind != Kind::free) release_leftover(handle);
    }
    free_tables();
    for (auto hook : shutdown_hooks)
        if (hook) hook();
    DBerrno = 0;
}

int32_t DBGetVersion(char* buffer) {
    if (!buffer) return fail(DB_ERR_NULL);
    std::memcpy(buffer, DBvers, DB_VERSION_LEN);
    return 0;
}

int32_t DBSetLockRetryCount(int32_t count) {
    DBlock_retry = count;
    return 0;
}

int32_t DBGetLockRetryCount(int32_t* count) {
    if (!count) return fail(DB_ERR_NULL);
    *count = DBlock_retry;
    return 0;
}

int32_t DBGetLockCount(int32_t* used, int32_t* capacity) {
    if (!used || !capacity) return fail(DB_ERR_NULL);
    *used = DBbase.locks_used;
    *capacity = DBbase.lock_capacity;
    return 0;
}

int32_t DBSetLockCount(int32_t capacity) {
    if (capacity < DBbase.locks_used) return fail_unlogged(DB_ERR_LOCK_TABLE_UNDERFLOW);
    // The capacity is kept in 16 bits; a larger one would wrap negative and the
    // overflow test would never fire.
    if (capacity > kMaxLockCapacity) return fail(DB_ERR_COMMAND);
    void* table = DBbase.locks;
    // At least one entry stays allocated, so a capacity of 0 never frees the table.
    const std::size_t entries = capacity > 0 ? static_cast<std::size_t>(capacity) : 1;
    if (!reallocate(&table, sizeof(LockEntry) * entries)) return fail(DB_ERR_MEMORY);
    DBbase.locks = static_cast<LockEntry*>(table);
    DBbase.lock_capacity = static_cast<int16_t>(capacity);
    return 0;
}

int32_t getDBsamba(void) { return DBsamba; }

int32_t DBGetFileDescriptor(int32_t handle) {
    Packet* table = packet_of(handle, Kind::dbf);
    if (!table) return fail(DB_ERR_HANDLE);
    return table->fd;
}

}  // extern "C"
