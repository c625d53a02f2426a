// Process-wide state: the handle table, the file packets it points to, the close
// function of each file kind and the process lock table.
#pragma once

#include <cstdint>
#include <new>
#include <source_location>
#include <type_traits>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "core/memory.hpp"

namespace xbdb {

// File kinds, the index of a slot's kind byte and of DBclose.
enum class Kind : uint8_t {
    free = DB_KIND_FREE,
    dbf = DB_KIND_DBF,
    ndx = DB_KIND_NDX,
    dbt = DB_KIND_DBT,
    fpt = DB_KIND_FPT,
    mdx = DB_KIND_MDX,
    idx_single = DB_KIND_IDX_SINGLE,
    ntx = DB_KIND_NTX,
    cdx = DB_KIND_CDX,
};
constexpr int kKindCount = 9;

// Bits of the flags byte that every family shares.
constexpr uint8_t kFlagReadOnly = 0x01;
constexpr uint8_t kFlagShared = 0x04;

// The common header of every file packet. The lock, flush and close code of every
// family relies on these fields; each family derives its own packet from it.
struct Packet {
    virtual ~Packet() = default;

    uint8_t flags = 0;        // bit 0 read-only, bit 2 shared, others per family
    int32_t fd = -1;          // host descriptor, -1 when not open
    int16_t family_word = 0;  // per family (tables: the dialect)
    char name[DB_NAME_LEN] = {};
    uint8_t lock_state = 0;   // per family; 4 = whole file locked

    bool read_only() const { return flags & kFlagReadOnly; }
    bool shared() const { return flags & kFlagShared; }
};

struct HandleSlot {
    Packet* packet;
    Kind kind;
};

// One exclusive lock that this process holds: the range as the caller gave it
// (never folded) and the descriptor it was taken on.
struct LockEntry {
    uint32_t offset;
    int32_t length;
    int32_t fd;
};

struct HandleTable {
    HandleSlot* slots = nullptr;
    LockEntry* locks = nullptr;
    int16_t locks_used = 0;
    int16_t lock_capacity = 0;
    int16_t slot_count = 0;
    uint16_t open_files = 0;
};

extern HandleTable DBbase;

using CloseFunction = int32_t (*)(int32_t handle);
extern CloseFunction DBclose[kKindCount];

// The packet of handle if it is open with one of the given kinds, else null.
Packet* packet_of(int32_t handle, Kind kind);
Packet* packet_of(int32_t handle, Kind kind, Kind other_kind);

// Finds the lowest free slot, checks the kind (1..8) and sets handle to the slot,
// or to -1 when every slot is in use. Returns 0 or the logged code.
int32_t claim_slot(int32_t* handle, int32_t kind, std::source_location where);
void fill_slot(int32_t handle, Kind kind, Packet* packet);

// Opens a slot for a new file: finds the lowest free slot, builds a zeroed packet
// of the family's type T there, and stores the slot number in handle and the packet
// in packet. On failure handle is -1 (or, for a bad kind, the free slot that was
// found; nothing is allocated then) and the logged code is returned.
template <class T>
    requires std::is_base_of_v<Packet, T>
int32_t _DBAllocNewFilePacket(int32_t* handle, Kind kind, T** packet,
                              std::source_location where = std::source_location::current()) {
    if (!handle || !packet) return fail(DB_ERR_NULL, where);
    *packet = nullptr;
    if (int32_t code = claim_slot(handle, static_cast<int32_t>(kind), where); code < 0)
        return code;
    void* raw = allocate(sizeof(T), where);
    if (!raw) {
        *handle = DB_NO_HANDLE;
        return fail(DB_ERR_MEMORY, where);
    }
    *packet = new (raw) T();
    fill_slot(*handle, kind, *packet);
    DBerrno = 0;
    return 0;
}

// Destroys the packet of handle, frees it and marks the slot free.
void release_slot(int32_t handle);

// Subsystems that keep process-wide tables of their own (the key-expression parse
// table) register their release here once; DBTerminate calls each after closing
// every file.
void register_shutdown(void (*release)());

// Lock-table entry count, as the lock code keeps it.
int32_t _DBSetLocksUsed(int32_t n);

}  // namespace xbdb
