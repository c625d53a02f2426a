// DBF tables: the in-memory table packet and the internal calls that the parts of
// the table code (create/open/flush, record I/O, field access, locking) and later
// the index and memo families use on an open table.
//
// DBF file layout (little-endian):
//
//   header, 32 bytes
//     off size field          meaning
//       0    1 version        0x03 plain, 0x83 DBT memo, 0x8B dBASE IV memo, 0xF5 FoxPro
//                             memo, 0x43/0x63 accepted, 0x30 Visual FoxPro
//       1    3 date           last update: year byte, month, day (year byte written as
//                             year - 2000, read back as 2000 + signed byte)
//       4    4 record count   unsigned
//       8    2 header length  bytes before the first record
//      10    2 record length  deletion byte included
//      12    2 reserved
//      14    1 transaction    reported, otherwise unused
//      15    1 encryption     reported, otherwise unused
//      16   12 reserved       (kept as found in files of other programs)
//      28    1 production     1 when a production index belongs to the table
//      29    3 reserved
//   field descriptors, 32 bytes each
//       0   11 name           at most 10 characters, NUL-padded, upper case
//      11    1 type           letter, or type byte 1, 2, 3, 4, 11, 13
//      16    1 length         C fields: low byte of the length
//      17    1 decimals       C fields: high byte of the length
//      31    1 indexed flag   field has a tag in the production index
//   terminator 0x0D (a whole 32-byte slot in dialect 9), records, end mark 0x1A
//   (a whole record of 0x1A in dialect 7).
//
// Record n (from 1) starts at header length + (n - 1) * record length; its byte 0 is
// the deletion byte, blank for active, '*' for deleted.
#pragma once

#include <cstdint>
#include <source_location>

#include "core/api.hpp"
#include "core/bytes.hpp"
#include "core/memory.hpp"
#include "core/state.hpp"

namespace xbdb::table {

// Table packet flag bits, beyond the shared read-only (0x01) and shared (0x04) bits.
constexpr uint8_t kFlagUnbuffered = 0x02;  // no cache: every record read and written at once
constexpr uint8_t kFlagAutoLock = 0x08;    // writes take their lock when none is held
constexpr uint8_t kFlagMultiLock = 0x10;   // several record locks at once
constexpr uint8_t kFlagCountStale = 0x20;  // re-read the record count before use

// Pending-write flags: a flush writes when any is set.
constexpr uint8_t kPendingAppend = 0x20;   // end-of-file mark must be written
constexpr uint8_t kPendingChange = 0x40;   // records changed

// Bit 7 of the in-memory dialect byte: the table has memo fields.
constexpr uint8_t kDialectMemoBit = 0x80;

constexpr char kEndOfFile = 0x1A;
constexpr char kTerminator = 0x0D;
constexpr int kHeaderSize = 32;
constexpr int kDescriptorSize = 32;

// Header field offsets.
constexpr int kVersionAt = 0;
constexpr int kDateAt = 1;
constexpr int kCountAt = 4;
constexpr int kHeaderLengthAt = 8;
constexpr int kRecordLengthAt = 10;
constexpr int kProductionAt = 28;

// One field of an open table. The descriptor bytes are kept as read, so that the
// bytes this library does not own are never lost.
struct Field {
    char name[12];        // upper case, NUL-terminated, at most 10 characters
    char type;            // upper-cased type letter or type byte
    uint32_t offset;      // in the record; the first field is at 1
    uint32_t length;      // C fields: length byte + 256 * decimals byte
    uint8_t length_byte;
    uint8_t decimals;     // the descriptor's decimals byte
    double largest;       // B, F, N, Y: largest value the width holds
    uint8_t raw[kDescriptorSize];  // descriptor as read; raw[31] is the indexed flag
};

struct TablePacket : Packet {
    // Packet: flags, fd, family_word (write-through word: the flush argument of
    // every record and header write), name, lock_state.
    int32_t current = 0;         // last record read, written or appended
    int32_t cache_first = 0;     // record number in cache slot 0
    HostBlock cache;             // cache_capacity records
    char* record = nullptr;      // record buffer: own_record or the caller's
    HostBlock own_record;        // the table's own buffer, freed at close
    int32_t cache_size = 0;      // bytes
    int32_t cache_capacity = 0;  // records
    int32_t cache_count = 0;     // records in the cache
    bool cache_dirty = false;
    uint8_t header[kHeaderSize] = {};  // as read; the record count kept current
    HostPtr<Field[]> fields;
    int16_t longest = 0;         // longest field length
    int16_t field_count = 0;
    int16_t lock_count = 0;      // exclusive locks held
    uint8_t pending = 0;         // kPending* bits
    uint8_t dialect = 0;         // dialect 0..10 in bits 0..6, kDialectMemoBit

    int dialect_number() const { return dialect & 0x7F; }
    bool unbuffered() const { return flags & kFlagUnbuffered; }
    bool auto_lock() const { return flags & kFlagAutoLock; }
    uint8_t version() const { return header[kVersionAt]; }
    uint32_t record_count() const { return le32(header + kCountAt); }
    void set_record_count(uint32_t n) { put_le32(header + kCountAt, n); }
    uint32_t header_length() const { return le16(header + kHeaderLengthAt); }
    uint32_t record_length() const { return le16(header + kRecordLengthAt); }
    uint8_t production_flag() const { return header[kProductionAt]; }
    // File offset of record n, in 64 bits (callers range-check through the file layer).
    int64_t record_offset(int64_t n) const {
        return header_length() + (n - 1) * static_cast<int64_t>(record_length());
    }
    char* cache_slot(int32_t i) const { return cache.get() + static_cast<int64_t>(i) * record_length(); }
    const Field& field(int i) const { return fields[i]; }
};

// The current table, set by the handle check of every table call.
extern TablePacket* DBxbd;

// The table handle check: the packet of an open table (which becomes current, with
// DBerrno set to 0), or null. The caller logs -213 from its own location.
TablePacket* _DBLockDataStruc(int32_t handle);

// ---- create, open, flush, close ----------------------------------------------------
// Re-reads the record count (from the file length in dialects 5 and 6).
int32_t _DBGetFileHeader(TablePacket& t);
// Writes pending records, the date and count, and the end mark after appends.
int32_t _DBFlushFile(TablePacket& t);
int32_t _DBAllocCache(TablePacket& t);
void _DBFreeCache(TablePacket& t);
// Puts today's date into the header copy.
int32_t stamp_today(TablePacket& t);
// Writes the end-of-file mark after the last record.
int32_t write_end_mark(TablePacket& t);
// Writes header bytes 1 .. bytes of the header copy: 3 for the date, 7 for the date
// and the record count.
int32_t write_header_stamp(TablePacket& t, int bytes);
// Copies a record just written to the file into its cache slot, if it is cached.
void refresh_cached_record(TablePacket& t, int32_t number, const char* record);
// Takes the header lock for one write; when the lock was taken but the record count
// could not be re-read, the lock is released again before the failure is returned.
int32_t take_header_lock(TablePacket& t);

// ---- record I/O ----------------------------------------------------------------------
int32_t _DBGetRecord(TablePacket& t, char* destination, int32_t number);
int32_t _DBFillCache(TablePacket& t, int32_t number);
int32_t _DBAppendRecord(TablePacket& t, int32_t* number);
int32_t _DBUpdateRecord(TablePacket& t);

// ---- field access ----------------------------------------------------------------------
// Conversion code: the field's own type letter for the typed calls, 'C' for the text calls.
int32_t _DBGetFieldData(TablePacket& t, void* value, int16_t field, int code);
int32_t _DBPutFieldData(TablePacket& t, const void* value, int16_t field, int code);
// The host form size of one field in the whole-record host structure.
int32_t host_item_size(const Field& f);
// Converts a field of the current record into / from its item of the whole-record
// host structure (host_item_size bytes at item), with the field's own type as the
// code. A foreign field narrower than its value form (a type-13 field of width 1, a
// T field of width 4) is converted through a local value, so the item is never
// written or read past its end.
int32_t get_host_item(TablePacket& t, char* item, int16_t field);
int32_t put_host_item(TablePacket& t, const char* item, int16_t field);
// The field-number check of the by-number calls: the handle check (DBxbd becomes the
// table), then -227 for a field number outside 0..field count - 1.
int32_t _DBVerifyField(int32_t handle, int16_t field);

// ---- locking -------------------------------------------------------------------------
enum class LockKind { record = 1, header = 2, file = 4 };
struct LockRange {
    uint32_t offset;
    int32_t length;
};
// The byte range of a lock of kind on table t (record numbers from 1).
LockRange _lock_adrs(const TablePacket& t, LockKind kind, int32_t record = 0);
// What a lock-table entry of table t locks: kind, and the record number of a record lock.
DBLockInfo describe_lock(const TablePacket& t, LockRange range);

int32_t _DBLockRecord(TablePacket& t, int32_t number);
int32_t _DBUnLockRecord(TablePacket& t, int32_t number);
int32_t _DBLockHeader(TablePacket& t);
int32_t _DBUnLockHeader(TablePacket& t);
int32_t _DBLockFile(TablePacket& t);
int32_t _DBUnLockAll(TablePacket& t);
int32_t _DBReadLockRecord(TablePacket& t, int32_t number);
int32_t _DBReadLockHeader(TablePacket& t);
int32_t _DBReadLockFile(TablePacket& t);
bool _DBIsRecordLocked(const TablePacket& t, int32_t number);

}  // namespace xbdb::table
