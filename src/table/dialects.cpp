#include "table/dialects.hpp"

#include <algorithm>
#include <iterator>

namespace xbdb::table {

namespace {

constexpr int kNoLimit = 255;  // decimals are then bounded only by length - 2

using enum MemoMarker;
using enum EndMark;

// clang-format off
constexpr Dialect kDialects[kDialectCount] = {
    //  versions accepted         fields memo   fox    count  C     record N   dec      F      end mark      slot   prod   idx    prod2
    // 0: as 1 on open; on create the decimals are bounded by the length only
    {{0x03, 0x83, 0x43, 0x63},  128,  or_80,  false, false, 254,  4000, 19, kNoLimit, false, one_byte,     false, false, false, false},
    // 1: dBASE III
    {{0x03, 0x83, 0x43, 0x63},  128,  or_80,  false, false, 254,  4000, 19, 15,       false, one_byte,     false, false, false, false},
    // 2: dBASE IV, production MDX and indexed-field flags
    {{0x03, 0x83, 0x8B, 0x00},  255,  or_88,  false, false, 254,  4000, 20, kNoLimit, true,  one_byte,     false, true,  true,  false},
    // 3: FoxBASE
    {{0x03, 0x83, 0x43, 0x63},  128,  or_80,  false, false, 254,  4000, 19, 15,       false, one_byte,     false, false, false, false},
    // 4: FoxPro with FPT memo
    {{0x03, 0xF5, 0x00, 0x00},  128,  set_f5, true,  false, 254,  4000, 20, kNoLimit, true,  one_byte,     false, false, false, false},
    // 5: Clipper, record count from the file length
    {{0x03, 0x83, 0x43, 0x63},  1023, or_80,  false, true,  254,  4000, 19, 15,       false, one_byte,     false, false, false, false},
    // 6: Clipper with long C fields and records
    {{0x03, 0x83, 0x43, 0x63},  1023, or_80,  false, true,  2048, 8192, 19, 15,       false, one_byte,     false, false, false, false},
    // 7: end mark is a whole record of 0x1A
    {{0x03, 0x83, 0x43, 0x63},  512,  or_80,  false, false, 254,  4000, 19, 15,       false, whole_record, false, false, false, false},
    // 8: FoxPro with FPT memo and production index
    {{0x03, 0xF5, 0x00, 0x00},  255,  set_f5, true,  false, 254,  4000, 20, kNoLimit, true,  one_byte,     false, true,  false, false},
    // 9: terminator in a 32-byte slot
    {{0x03, 0x83, 0x43, 0x63},  128,  or_80,  false, false, 254,  4000, 19, 15,       false, one_byte,     true,  false, false, false},
    // 10: Visual FoxPro
    {{0x30, 0x00, 0x00, 0x00},  255,  none,   true,  false, 254,  4000, 20, kNoLimit, true,  one_byte,     false, false, false, true},
};
// clang-format on

}  // namespace

bool Dialect::accepts(uint8_t version) const {
    return version != 0 && std::ranges::find(versions, version) != std::ranges::end(versions);
}

const Dialect& dialect_rules(int d) { return kDialects[std::clamp(d, 0, kDialectCount - 1)]; }

}  // namespace xbdb::table
