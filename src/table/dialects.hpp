// The table dialects: the rules that differ between the xBase programs whose tables
// this library reads and writes, one row per dialect. Code that depends on the
// dialect looks the rule up here instead of testing dialect numbers.
#pragma once

#include <cstdint>

namespace xbdb::table {

// How a create marks the version byte when the table has memo fields.
enum class MemoMarker : uint8_t {
    none,     // memo fields cannot be created in this dialect
    or_80,    // version | 0x80 (dBASE III style DBT memo)
    or_88,    // version | 0x88 (dBASE IV memo)
    set_f5,   // version = 0xF5 (FoxPro FPT memo)
};

// How the end of the records is marked.
enum class EndMark : uint8_t {
    one_byte,      // a single 0x1A
    whole_record,  // record-length bytes of 0x1A
};

struct Dialect {
    uint8_t versions[4];        // version bytes accepted on open (0 = unused entry)
    int32_t max_fields;         // most fields a create accepts
    MemoMarker memo_marker;
    bool fox_memo;              // memo fields need version 0xF5 or 0x30 (not bit 7)
    bool count_from_length;     // record count = (file length - header) / record length
    int32_t max_char_length;    // longest C field a create accepts
    int32_t max_record_length;  // longest record a create accepts
    int32_t max_numeric_length; // longest N/F field a create accepts
    int32_t max_decimals;       // most decimals a create accepts (besides length - 2)
    bool float_fields;          // F fields may be created
    EndMark end_mark;
    bool terminator_slot;       // the 0x0D terminator takes a whole 32-byte slot
    bool production_checked;    // header byte 28 must be 0 or 1 on open
    bool indexed_flags;         // create writes the indexed-field flags
    bool production_two_is_zero;  // a production byte of 2 reads as 0 (version 0x30)

    bool accepts(uint8_t version) const;
};

constexpr int kDialectCount = 11;       // dialects 0..10
constexpr int kLastCreateDialect = 9;   // dialect 10 tables are only made by a restructure

// The row of dialect d (0..10).
const Dialect& dialect_rules(int d);

}  // namespace xbdb::table
