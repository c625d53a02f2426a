// Where the locks of a shared table lie.
//
// Programs that share a DBF file agree on fixed byte ranges for the lock of a
// record, of the header (the record count, held while appending) and of the whole
// file. The ranges depend on the table dialect; they are a protocol between
// processes and between programs, so every offset and length below is exact. The
// ranges need not lie inside the file.
//
//   scheme              record n                       header             whole file
//   record bytes        H + (n - 1) * R, length R      4, length 4        0, length 0x7FFFFFFF
//   descending          (n + 1) ^ 0xEFFFFFFF, 1        0xEFFFFFFE, 1      0x40000000, 2
//   high bit            0x40000000 | (H + (n'-1)*R), 1 0x40000000, 1      0x3FFFFFFE, 1 (*)
//   high bit, indexed   0x7FFFFFFE - n', 1             0x7FFFFFFE, 1      0x3FFFFFFE, 1 (*)
//   billion             1000000000 + n, 1              1000000000, 1      1000000000, 1000000000
//
// H header length, R record length. n' is the record number folded like a share
// server offset (bits 31 and 30 moved down to 29 and 28), which leaves every number
// below 2^30 as it is. (*) 0x3FFFFFFF when the offsets are folded for share servers.
// "Indexed" is the high-bit scheme of a table whose production-index flag (header
// byte 28) is set.
//
// All arithmetic is unsigned 32-bit, as every program using these ranges does it.
#include <array>

#include "table/table.hpp"

namespace xbdb::table {
namespace {

constexpr uint32_t kBillion = 1000000000u;

uint32_t fold(uint32_t value) {
    return (value & 0x3FFFFFFFu) | ((value & 0xC0000000u) >> 2);
}

uint32_t record_start(const TablePacket& t, uint32_t n) {
    return t.header_length() + (n - 1u) * t.record_length();
}

// ---- record offsets, one per scheme ----
uint32_t bytes_record(const TablePacket& t, int32_t n) {
    return record_start(t, static_cast<uint32_t>(n));
}
uint32_t descending_record(const TablePacket&, int32_t n) {
    return (static_cast<uint32_t>(n) + 1u) ^ 0xEFFFFFFFu;
}
uint32_t high_bit_record(const TablePacket& t, int32_t n) {
    return 0x40000000u | record_start(t, fold(static_cast<uint32_t>(n)));
}
uint32_t indexed_record(const TablePacket&, int32_t n) {
    return 0x7FFFFFFEu - fold(static_cast<uint32_t>(n));
}
uint32_t billion_record(const TablePacket&, int32_t n) {
    return kBillion + static_cast<uint32_t>(n);
}

// ---- the record number back from a lock offset ----
int32_t by_record_length(const TablePacket& t, uint32_t offset) {
    const uint32_t length = t.record_length();
    if (length == 0) return 0;
    return static_cast<int32_t>((offset - t.header_length()) / length + 1u);
}
int32_t bytes_number(const TablePacket& t, uint32_t offset) {
    return by_record_length(t, offset);
}
int32_t descending_number(const TablePacket&, uint32_t offset) {
    return static_cast<int32_t>((offset ^ 0xEFFFFFFFu) - 1u);
}
int32_t high_bit_number(const TablePacket& t, uint32_t offset) {
    return by_record_length(t, offset ^ 0x40000000u);
}
int32_t indexed_number(const TablePacket&, uint32_t offset) {
    return static_cast<int32_t>(0x7FFFFFFEu - offset);
}
int32_t billion_number(const TablePacket&, uint32_t offset) {
    return static_cast<int32_t>(offset - kBillion);
}

struct LockScheme {
    uint32_t (*record)(const TablePacket& t, int32_t n);       // offset of record n's lock
    int32_t (*number)(const TablePacket& t, uint32_t offset);  // and back
    bool record_spans_record;  // length R (the record's bytes), else 1
    LockRange header;
    LockRange file;
    LockRange file_folded;     // the whole-file range when offsets are folded
};

enum SchemeId : uint8_t { kBytes, kDescending, kHighBit, kIndexed, kBillionScheme };

constexpr LockScheme kSchemes[] = {
    // record bytes: the record's own bytes, the record count, everything below 2 GiB
    {bytes_record, bytes_number, true, {4, 4}, {0, 0x7FFFFFFF}, {0, 0x7FFFFFFF}},
    // descending from 0xEFFFFFFE; the file lock lies clear of every record lock
    {descending_record, descending_number, false, {0xEFFFFFFEu, 1}, {0x40000000u, 2},
     {0x40000000u, 2}},
    // one byte per record above 0x40000000
    {high_bit_record, high_bit_number, false, {0x40000000u, 1}, {0x3FFFFFFEu, 1},
     {0x3FFFFFFFu, 1}},
    // the same, production index present: one byte per record below 0x7FFFFFFE
    {indexed_record, indexed_number, false, {0x7FFFFFFEu, 1}, {0x3FFFFFFEu, 1},
     {0x3FFFFFFFu, 1}},
    // one byte per record above one billion; the file lock covers them all
    {billion_record, billion_number, false, {kBillion, 1},
     {kBillion, static_cast<int32_t>(kBillion)}, {kBillion, static_cast<int32_t>(kBillion)}},
};

// Scheme of each dialect: without and with the production-index flag.
struct DialectSchemes {
    SchemeId plain;
    SchemeId indexed;
};
constexpr std::array<DialectSchemes, 11> kDialects = {{
    {kBytes, kBytes},                  // 0 (opened as 1)
    {kBytes, kBytes},                  // 1
    {kDescending, kDescending},        // 2
    {kHighBit, kIndexed},              // 3
    {kHighBit, kIndexed},              // 4
    {kBillionScheme, kBillionScheme},  // 5
    {kBillionScheme, kBillionScheme},  // 6
    {kBytes, kBytes},                  // 7
    {kHighBit, kIndexed},              // 8
    {kBytes, kBytes},                  // 9
    {kBytes, kBytes},                  // 10
}};

bool same(const LockRange& a, const LockRange& b) {
    return a.offset == b.offset && a.length == b.length;
}

const LockScheme& lock_scheme(const TablePacket& t) {
    const auto dialect = static_cast<std::size_t>(t.dialect_number());
    if (dialect >= kDialects.size()) return kSchemes[kBytes];
    const DialectSchemes& row = kDialects[dialect];
    return kSchemes[t.production_flag() != 0 ? row.indexed : row.plain];
}

}  // namespace

LockRange _lock_adrs(const TablePacket& t, LockKind kind, int32_t record) {
    const LockScheme& scheme = lock_scheme(t);
    switch (kind) {
        case LockKind::header: return scheme.header;
        case LockKind::file: return DBsamba ? scheme.file_folded : scheme.file;
        case LockKind::record: break;
    }
    const int32_t length =
        scheme.record_spans_record ? static_cast<int32_t>(t.record_length()) : 1;
    return LockRange{scheme.record(t, record), length};
}

// The whole-file and header ranges are recognised by exact match against the ranges
// this table takes, in every dialect; anything else is a record lock.
DBLockInfo describe_lock(const TablePacket& t, LockRange range) {
    if (same(range, _lock_adrs(t, LockKind::file))) return {DB_LOCKINFO_FILE, 0};
    if (same(range, _lock_adrs(t, LockKind::header))) return {DB_LOCKINFO_HEADER, 0};
    return {DB_LOCKINFO_RECORD, lock_scheme(t).number(t, range.offset)};
}

}  // namespace xbdb::table
