#include "table/field_rules.hpp"

#include <cstring>

#include "core/failure.hpp"
#include "table/dialects.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr int kMaxFieldNameLength = 10;
constexpr int32_t kIndexedBit = DB_FIELD_INDEXED;

// What a writer allows in one dialect beyond the create limits of the dialect row.
struct Extras {
    uint8_t version;           // version byte before memo markers
    bool integer_fields;       // I is taken like F (then checked as N)
    bool currency_fields;      // Y: length 8, 4 decimals
    int32_t memo_length;       // width of an M field
    uint32_t terminator_area;  // bytes from the terminator to the first record
};

constexpr Extras kCreate = {0x03, false, false, 10, 1};
constexpr Extras kCreateSlot = {0x03, false, false, 10, kDescriptorSize};

// clang-format off
constexpr Extras kRestructure[kDialectCount] = {
    //  version  I      Y      M   after the descriptors
    {0x03, false, false, 10, 1},                // 0
    {0x03, false, false, 10, 1},                // 1
    {0x03, true,  false, 10, 1},                // 2
    {0x03, false, false, 10, 1},                // 3
    {0x03, true,  false, 10, 1},                // 4
    {0x03, false, false, 10, 1},                // 5
    {0x03, false, false, 10, 1},                // 6
    {0x03, false, false, 10, 1},                // 7
    {0x03, true,  false, 10, 1},                // 8
    {0x03, false, false, 10, kDescriptorSize},  // 9: terminator slot
    // 10: Visual FoxPro, the terminator slot and the 232-byte back-link area
    {0x30, false, true,  8,  kDescriptorSize + 232},
};
// clang-format on

const Extras& extras(const Layout& layout) {
    if (layout.writer == HeaderWriter::restructure) return kRestructure[layout.dialect];
    return dialect_rules(layout.dialect).terminator_slot ? kCreateSlot : kCreate;
}

// Lower-case i and y are not the integer and currency types: only their upper-case
// letters name them, so they stay as they are and are refused.
char type_letter(int32_t type) {
    const char c = static_cast<char>(type & 0xFF);
    if (c == 'i' || c == 'y') return c;
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

uint8_t memo_version(MemoMarker marker, uint8_t version) {
    switch (marker) {
        case MemoMarker::or_80: return static_cast<uint8_t>(version | 0x80);
        case MemoMarker::or_88: return static_cast<uint8_t>(version | 0x88);
        case MemoMarker::set_f5: return 0xF5;
        case MemoMarker::none: break;
    }
    return version;
}

int32_t force(DBFieldSpec& f, int32_t length, int32_t decimals = 0) {
    f.length = length;
    f.decimals = decimals;
    return 0;
}

int32_t check_numeric(const DBFieldSpec& f, const Dialect& rules) {
    if (f.length < 1 || f.length > rules.max_numeric_length) return fail(DB_ERR_FIELD_LENGTH);
    if (f.decimals < 0) return fail(DB_ERR_DECIMALS);
    if (f.decimals > 0 && (f.decimals > f.length - 2 || f.decimals > rules.max_decimals))
        return fail(DB_ERR_DECIMALS);
    return 0;
}

// Checks the length and decimals that type letter allows, forcing the fixed ones.
int32_t check_type(DBFieldSpec& f, char letter, Layout& layout) {
    const Dialect& rules = dialect_rules(layout.dialect);
    const Extras& more = extras(layout);
    switch (letter) {
        case 1: case 2: return force(f, 2);
        case 3: case 4: case 11: return force(f, 4);
        case 13: case 'D': return force(f, 8);
        case 'L': return force(f, 1);
        case 'C':
            if (f.length < 1 || f.length > rules.max_char_length) return fail(DB_ERR_FIELD_LENGTH);
            f.decimals = 0;
            return 0;
        case 'M':
            layout.version = memo_version(rules.memo_marker, layout.version);
            return force(f, more.memo_length);
        case 'Y':
            if (!more.currency_fields) return fail(DB_ERR_FIELD_TYPE);
            return force(f, 8, 4);
        case 'I':
            if (!more.integer_fields) return fail(DB_ERR_FIELD_TYPE);
            return check_numeric(f, rules);
        case 'F':
            if (!rules.float_fields) return fail(DB_ERR_FIELD_TYPE);
            return check_numeric(f, rules);
        case 'N': return check_numeric(f, rules);
        default: return fail(DB_ERR_FIELD_TYPE);
    }
}

int32_t check_field(DBFieldSpec& f, Layout& layout) {
    const std::size_t name_length = strnlen(f.name, sizeof f.name);
    if (name_length < 1 || name_length > kMaxFieldNameLength) return fail(DB_ERR_FIELD_NAME);
    _DBstrupr(f.name);
    const char letter = type_letter(f.type);
    if (int32_t code = check_type(f, letter, layout); code < 0) return fail(code);
    layout.record_length += static_cast<uint32_t>(f.length);
    if (layout.record_length > static_cast<uint32_t>(dialect_rules(layout.dialect).max_record_length))
        return fail(DB_ERR_RECORD_LENGTH);
    f.type = static_cast<uint8_t>(letter) | (f.type & kIndexedBit);
    return 0;
}

int32_t put_today(uint8_t* date) {
    int32_t year = 0, month = 0, day = 0, weekday = 0;
    if (int32_t code = DBGetDate3(&year, &month, &day, &weekday); code < 0) return fail(code);
    date[0] = static_cast<uint8_t>((year + 48) & 0xFF);  // year - 2000, in one byte
    date[1] = static_cast<uint8_t>(month);
    date[2] = static_cast<uint8_t>(day);
    return 0;
}

void put_descriptor(uint8_t* d, const DBFieldSpec& f, const Layout& layout) {
    std::memcpy(d, f.name, strnlen(f.name, kMaxFieldNameLength));
    const auto letter = static_cast<uint8_t>(f.type & 0xFF);
    d[11] = letter;
    d[16] = static_cast<uint8_t>(f.length & 0xFF);
    // C fields keep the high byte of their length where the decimals would be.
    d[17] = static_cast<uint8_t>(letter == 'C' ? (f.length >> 8) & 0xFF : f.decimals);
    const bool indexed = layout.production && dialect_rules(layout.dialect).indexed_flags;
    d[31] = indexed && (f.type & kIndexedBit) ? 1 : 0;
}

}  // namespace

int32_t check_fields(std::span<DBFieldSpec> fields, Layout& layout) {
    if (static_cast<int64_t>(fields.size()) > dialect_rules(layout.dialect).max_fields)
        return fail(DB_ERR_FIELD_COUNT);
    layout.version = extras(layout).version;
    layout.record_length = 1;
    for (DBFieldSpec& f : fields)
        if (int32_t code = check_field(f, layout); code < 0) return fail(code);
    layout.header_length = kHeaderSize + kDescriptorSize * static_cast<uint32_t>(fields.size()) +
                           extras(layout).terminator_area;
    return 0;
}

int32_t build_header_image(std::span<const DBFieldSpec> fields, const Layout& layout,
                           std::size_t extra, HostBlock* image) {
    *image = allocate_block(layout.header_length + extra);
    if (!*image) return fail(DB_ERR_MEMORY);
    auto* bytes = reinterpret_cast<uint8_t*>(image->get());
    bytes[kVersionAt] = layout.version;
    if (int32_t code = put_today(bytes + kDateAt); code < 0) return fail(code);
    put_le16(bytes + kHeaderLengthAt, static_cast<uint16_t>(layout.header_length));
    put_le16(bytes + kRecordLengthAt, static_cast<uint16_t>(layout.record_length));
    bytes[kProductionAt] = layout.production ? 1 : 0;
    for (std::size_t i = 0; i < fields.size(); ++i)
        put_descriptor(bytes + kHeaderSize + kDescriptorSize * i, fields[i], layout);
    // The rest of the terminator area stays zero.
    bytes[kHeaderSize + kDescriptorSize * fields.size()] = kTerminator;
    return 0;
}

}  // namespace xbdb::table
