// Opening a table: the header is checked against the dialect, the field
// descriptors are read and completed, and the record buffer and cache are set up.
//
// Everything in the header and the descriptors comes from the file and is checked
// before it sizes a buffer or positions a read: a damaged or foreign file is refused
// with a code, never read past its buffers.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "os/file_io.hpp"
#include "table/dialects.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr std::size_t kMaxNameLength = DB_NAME_LEN - 1;
constexpr int kMaxFieldNameLength = 10;
constexpr int kNameBytes = 11;         // name bytes of a descriptor
constexpr int kTypeAt = 11;
constexpr int kLengthAt = 16;
constexpr int kDecimalsAt = 17;
constexpr uint32_t kMaxRecordLength = 0xFFFF;  // the header keeps it in 16 bits
constexpr int kMaxFoxSlots = 257;      // version 0x30: terminator within the first 257 slots
constexpr uint8_t kFoxVersion = 0x30;

// Header length modulo 32: 1 (one-byte terminator), 0 (terminator slot), 2 and 8
// (writers that put one more byte or a back-link area after the terminator).
constexpr bool header_remainder_allowed(uint32_t length) {
    const uint32_t r = length % 32;
    return r == 0 || r == 1 || r == 2 || r == 8;
}

enum class FieldClass { text, memo, numeric, plain, unknown };

FieldClass classify(char type) {
    switch (type) {
        case 'C': return FieldClass::text;
        case 'M': return FieldClass::memo;
        case 'B': case 'F': case 'N': case 'Y': return FieldClass::numeric;
        case 'D': case 'I': case 'L': case 'T':
        case 1: case 2: case 3: case 4: case 11: case 13: return FieldClass::plain;
        default: return FieldClass::unknown;
    }
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The largest value the field's text can hold: length nines with a decimal point
// before the last decimals digits (999.99 for length 6 and 2 decimals).
double largest_value(int length, int decimals) {
    if (decimals <= 0) return std::pow(10.0, length) - 1;
    const int whole = std::max(0, length - decimals - 1);
    return std::pow(10.0, whole) - std::pow(10.0, -std::min(decimals, length));
}

int32_t normalized_mode(int32_t mode) {
    if (mode & DB_OPEN_AUTOLOCK) {
        mode |= DB_OPEN_UNBUFFERED | DB_OPEN_SHARED;
        if (mode & DB_OPEN_READONLY) mode &= ~DB_OPEN_AUTOLOCK;
    }
    return mode;
}

void set_mode_flags(TablePacket& t, int32_t mode) {
    if (mode & (DB_OPEN_UNBUFFERED | DB_OPEN_UNBUFFERED_NOFLUSH)) t.flags |= kFlagUnbuffered;
    t.family_word = (mode & DB_OPEN_UNBUFFERED) ? 1 : 0;
    if (mode & DB_OPEN_AUTOLOCK) t.flags |= kFlagAutoLock;
    if (t.shared()) {
        t.flags |= kFlagCountStale;
        if (mode & DB_OPEN_MULTILOCK) t.flags |= kFlagMultiLock;
    }
}

// Dialect and version byte; these two refusals are not logged.
int32_t check_dialect(TablePacket& t) {
    if (t.dialect >= kDialectCount) return fail_unlogged(DB_ERR_COMMAND);
    const Dialect& rules = dialect_rules(t.dialect);
    if (!rules.accepts(t.version())) return fail_unlogged(DB_ERR_VERSION);
    if (t.dialect == 0) t.dialect = 1;
    if (rules.production_two_is_zero && t.version() == kFoxVersion && t.production_flag() == 2)
        t.header[kProductionAt] = 0;
    return 0;
}

int32_t check_header(TablePacket& t) {
    if (int32_t code = check_dialect(t); code < 0) return code;
    const uint32_t length = t.header_length();
    if (length < kHeaderSize + 1 || !header_remainder_allowed(length))
        return fail(DB_ERR_HEADER_LENGTH);
    // Any year byte is taken: programs differ in how they store the year.
    const uint8_t month = t.header[kDateAt + 1], day = t.header[kDateAt + 2];
    if (month < 1 || month > 12 || day < 1 || day > 31) return fail(DB_ERR_UPDATE_DATE);
    if (dialect_rules(t.dialect_number()).production_checked && t.production_flag() > 1)
        return fail(DB_ERR_PRODUCTION_FLAG);
    if (t.record_length() == 0) return fail(DB_ERR_RECORD_LENGTH);
    return 0;
}

// The fields end at the first 32-byte slot that begins with the terminator.
int32_t count_fields(const TablePacket& t, std::span<const char> area, int* count) {
    const std::size_t limit = t.version() == kFoxVersion ? kMaxFoxSlots : area.size();
    for (std::size_t slot = 0; slot < limit && slot * kDescriptorSize < area.size(); ++slot) {
        if (area[slot * kDescriptorSize] == kTerminator) {
            *count = static_cast<int>(slot);
            return 0;
        }
    }
    return fail(DB_ERR_CORRUPT);
}

int32_t check_memo(TablePacket& t) {
    const bool fox = dialect_rules(t.dialect_number()).fox_memo;
    const bool marked = fox ? (t.version() == 0xF5 || t.version() == kFoxVersion)
                            : (t.version() & 0x80) != 0;
    if (!marked) return fail(DB_ERR_VERSION);
    if (t.version() != kFoxVersion) t.dialect |= kDialectMemoBit;
    return 0;
}

// Completes one descriptor and places the field at the end of the record so far.
int32_t complete_field(TablePacket& t, const char* raw, Field& f, uint32_t* record_length) {
    std::memcpy(f.raw, raw, kDescriptorSize);
    const std::size_t name_length = strnlen(raw, kNameBytes);
    if (name_length > kMaxFieldNameLength) return fail(DB_ERR_FIELD_NAME);
    std::memcpy(f.name, raw, name_length);
    f.name[name_length] = '\0';
    _DBstrupr(f.name);
    f.type = ascii_upper(raw[kTypeAt]);
    f.length_byte = static_cast<uint8_t>(raw[kLengthAt]);
    f.decimals = static_cast<uint8_t>(raw[kDecimalsAt]);
    f.length = f.length_byte;
    switch (classify(f.type)) {
        case FieldClass::text: f.length += 256u * f.decimals; break;
        case FieldClass::memo:
            if (int32_t code = check_memo(t); code < 0) return fail(code);
            break;
        case FieldClass::numeric: f.largest = largest_value(f.length, f.decimals); break;
        case FieldClass::plain: break;
        case FieldClass::unknown: return fail(DB_ERR_FIELD_TYPE);
    }
    f.offset = *record_length;
    *record_length += f.length;
    if (*record_length > kMaxRecordLength) return fail(DB_ERR_RECORD_LENGTH);
    t.longest = static_cast<int16_t>(std::min<uint32_t>(std::max<uint32_t>(t.longest, f.length),
                                                        INT16_MAX));
    return 0;
}

int32_t process_fields(TablePacket& t, std::span<const char> area, uint32_t* record_length) {
    t.longest = 0;
    *record_length = 1;
    int count = 0;
    if (int32_t code = count_fields(t, area, &count); code < 0) return fail(code);
    // A terminator in the last whole slot is the 32-byte terminator of dialect 9.
    const std::size_t slots = area.size() / kDescriptorSize;
    if (slots > 0 && static_cast<std::size_t>(count) == slots - 1)
        t.dialect = static_cast<uint8_t>((t.dialect & kDialectMemoBit) | 9);
    t.fields.reset(static_cast<Field*>(allocate(sizeof(Field) * std::max(count, 1))));
    if (!t.fields) return fail(DB_ERR_MEMORY);
    for (int i = 0; i < count; ++i) {
        const char* raw = area.data() + static_cast<std::size_t>(i) * kDescriptorSize;
        if (int32_t code = complete_field(t, raw, t.fields[i], record_length); code < 0)
            return fail(code);
        t.field_count = static_cast<int16_t>(i + 1);
    }
    return 0;
}

int32_t read_fields(TablePacket& t) {
    const std::size_t area_size = t.header_length() - kHeaderSize;
    HostBlock area = allocate_block(area_size);
    if (!area) return fail(DB_ERR_MEMORY);
    if (int32_t code = os::read_at(t.fd, kHeaderSize, std::span(area.get(), area_size)); code < 0)
        return fail(code);
    uint32_t record_length = 0;
    if (int32_t code = process_fields(t, std::span(area.get(), area_size), &record_length);
        code < 0)
        return fail(code);
    if (record_length != t.record_length()) return fail(DB_ERR_RECORD_LENGTH);
    return 0;
}

int32_t prepare_buffers(TablePacket& t) {
    const uint32_t length = t.record_length();
    if (t.unbuffered()) {
        t.cache_size = static_cast<int32_t>(length);
        t.cache_capacity = 1;
    } else if (int32_t code = _DBAllocCache(t); code < 0) {
        return fail(code);
    }
    t.own_record = allocate_block(length);
    if (!t.own_record) return fail(DB_ERR_MEMORY);
    std::memset(t.own_record.get(), ' ', length);
    t.record = t.own_record.get();
    return 0;
}

int32_t file_length(const TablePacket& t, int32_t* length) {
    const int32_t saved = DBerrno;
    DBerrno = 0;
    if (int32_t code = os::file_length(t.fd, length); code < 0) return fail(code);
    DBerrno = saved;
    return 0;
}

// The dialects that take the count from the file length do so from the start;
// the others compare the length with what the header says (warning 207).
int32_t check_length(TablePacket& t) {
    int32_t length = 0;
    if (int32_t code = file_length(t, &length); code < 0) return fail(code);
    const int64_t header = t.header_length(), record = t.record_length();
    if (dialect_rules(t.dialect_number()).count_from_length)
        t.set_record_count(length > header ? static_cast<uint32_t>((length - header) / record) : 0);
    const int64_t expected = header + static_cast<int64_t>(t.record_count()) * record;
    if (length != expected && length != expected + 1 && length != expected + record)
        DBerrno = DB_WARN_FILE_LENGTH;
    return 0;
}

int32_t open_table(TablePacket& t, const char* name, int32_t mode) {
    mode = normalized_mode(mode);
    t.dialect = static_cast<uint8_t>(mode & DB_OPEN_DIALECT_MASK);
    int32_t fd = -1;
    if (int32_t code = os::open_file(&fd, name, mode, &t.flags); code < 0) return fail(code);
    t.fd = fd;
    set_mode_flags(t, mode);
    if (int32_t code = os::read_at(t.fd, 0, std::span(reinterpret_cast<char*>(t.header), kHeaderSize));
        code < 0)
        return fail(code);
    if (int32_t code = check_header(t); code < 0) return code;
    if (int32_t code = read_fields(t); code < 0) return fail(code);
    if (int32_t code = prepare_buffers(t); code < 0) return fail(code);
    std::memcpy(t.name, name, std::strlen(name) + 1);
    return check_length(t);
}

}  // namespace

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBOpenFile(int32_t* handle, const char* name, int32_t mode) {
    DBclose[DB_KIND_DBF] = DBCloseFile;
    if (!handle || !name) return fail(DB_ERR_NULL);
    *handle = DB_NO_HANDLE;
    if (strnlen(name, kMaxNameLength + 1) > kMaxNameLength) return fail(DB_ERR_FILENAME);
    DBerrno = 0;
    TablePacket* t = nullptr;
    if (int32_t code = _DBAllocNewFilePacket(handle, Kind::dbf, &t); code < 0) {
        *handle = DB_NO_HANDLE;
        return fail(code);
    }
    if (int32_t code = open_table(*t, name, mode); code < 0) {
        if (t->fd >= 0) os::close_file(t->fd);
        release_slot(*handle);
        *handle = DB_NO_HANDLE;
        return DBerrno = code;
    }
    return DBerrno;
}

}  // extern "C"
