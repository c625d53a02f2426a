// Creating a table file from the host's field definitions (DBFieldSpec).
//
// The definitions are checked and completed first (names and type letters
// upper-cased, the forced lengths of the fixed-width types stored back into the
// caller's array), then the whole empty file is built in memory and written at
// once: header, descriptors, terminator, end mark. A file that cannot be written
// completely is removed again, so no half-made table is ever left to be opened.
#include <cstring>

#include "os/file_io.hpp"
#include "table/dialects.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr std::size_t kMaxNameLength = DB_NAME_LEN - 1;
constexpr int kMaxFieldNameLength = 10;
constexpr int32_t kIndexedBit = DB_FIELD_INDEXED;
constexpr uint8_t kPlainVersion = 0x03;

struct Layout {
    int dialect = 1;
    bool production = false;
    uint8_t version = kPlainVersion;
    uint32_t record_length = 1;
    uint32_t header_length = 0;
};

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

uint8_t memo_version(MemoMarker marker, uint8_t version) {
    switch (marker) {
        case MemoMarker::or_80: return static_cast<uint8_t>(version | 0x80);
        case MemoMarker::or_88: return static_cast<uint8_t>(version | 0x88);
        case MemoMarker::set_f5: return 0xF5;
        case MemoMarker::none: break;
    }
    return version;
}

int32_t force(DBFieldSpec& f, int32_t length) {
    f.length = length;
    f.decimals = 0;
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
            return force(f, 10);
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
    const char letter = ascii_upper(static_cast<char>(f.type & 0xFF));
    if (int32_t code = check_type(f, letter, layout); code < 0) return fail(code);
    layout.record_length += static_cast<uint32_t>(f.length);
    if (layout.record_length > static_cast<uint32_t>(dialect_rules(layout.dialect).max_record_length))
        return fail(DB_ERR_RECORD_LENGTH);
    f.type = static_cast<uint8_t>(letter) | (f.type & kIndexedBit);
    return 0;
}

int32_t check_fields(std::span<DBFieldSpec> fields, Layout& layout) {
    if (static_cast<int64_t>(fields.size()) > dialect_rules(layout.dialect).max_fields)
        return fail(DB_ERR_FIELD_COUNT);
    for (DBFieldSpec& f : fields)
        if (int32_t code = check_field(f, layout); code < 0) return fail(code);
    const uint32_t terminator = dialect_rules(layout.dialect).terminator_slot ? kDescriptorSize : 1;
    layout.header_length = kHeaderSize + kDescriptorSize * static_cast<uint32_t>(fields.size()) +
                           terminator;
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

// The complete empty table: header, descriptors, terminator and end mark.
int32_t build_image(std::span<const DBFieldSpec> fields, const Layout& layout, HostBlock* image) {
    const std::size_t size = layout.header_length + 1;
    *image = allocate_block(size);
    if (!*image) return fail(DB_ERR_MEMORY);
    auto* bytes = reinterpret_cast<uint8_t*>(image->get());
    bytes[kVersionAt] = layout.version;
    if (int32_t code = put_today(bytes + kDateAt); code < 0) return fail(code);
    put_le16(bytes + kHeaderLengthAt, static_cast<uint16_t>(layout.header_length));
    put_le16(bytes + kRecordLengthAt, static_cast<uint16_t>(layout.record_length));
    bytes[kProductionAt] = layout.production ? 1 : 0;
    for (std::size_t i = 0; i < fields.size(); ++i)
        put_descriptor(bytes + kHeaderSize + kDescriptorSize * i, fields[i], layout);
    bytes[kHeaderSize + kDescriptorSize * fields.size()] = kTerminator;
    bytes[layout.header_length] = kEndOfFile;
    return 0;
}

// Creates the file and writes image; a failure removes what was made.
int32_t write_new_file(const char* name, std::span<const char> image) {
    int32_t fd = -1;
    DBerrno = 0;
    if (int32_t code = os::create_file(&fd, name); code < 0) return fail(code);
    int32_t code = os::write_all(fd, image);
    const int32_t closed = os::close_file(fd);
    if (code >= 0 && closed < 0) code = closed;
    if (code < 0) {
        os::_DBosDeleteFile(name);
        return fail(code);
    }
    DBerrno = 0;
    return 0;
}

}  // namespace

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBCreateFile(const char* name, int32_t count, DBFieldSpec* fields, int32_t dialect) {
    if (!name || !fields) return fail(DB_ERR_NULL);
    if (count < 1) return fail(DB_ERR_FIELD_COUNT);
    if (strnlen(name, kMaxNameLength + 1) > kMaxNameLength) return fail(DB_ERR_FILENAME);
    Layout layout;
    layout.production = (dialect & DB_CREATE_PRODUCTION) != 0;
    dialect &= ~DB_CREATE_PRODUCTION;
    if (dialect < 0 || dialect > kLastCreateDialect) return fail(DB_ERR_VERSION);
    layout.dialect = dialect;
    const std::span<DBFieldSpec> specs(fields, static_cast<std::size_t>(count));
    if (int32_t code = check_fields(specs, layout); code < 0) return fail(code);
    HostBlock image;
    if (int32_t code = build_image(specs, layout, &image); code < 0) return fail(code);
    const std::span<const char> bytes(image.get(), layout.header_length + 1);
    if (int32_t code = write_new_file(name, bytes); code < 0) return fail(code);
    return 0;
}

}  // extern "C"
