// Restructuring: a new header and descriptor area written at the start of a file
// that the host has open, from a new list of field definitions.
//
// The fields are checked and completed as a create does (with the additions of a
// restructure: dialect 10, currency and integer fields). The header, descriptors
// and terminator area are then written in one piece from position 0, over whatever
// the file held there. Nothing after the header is touched: no end mark is
// written, and the descriptor stays open and the host's.
//
// Header length by dialect: 32 * fields + 33 (one terminator byte), + 64 in
// dialect 9 (a 32-byte terminator slot), + 296 in dialect 10 (the terminator slot
// and a 232-byte back-link area).
#include "os/file_io.hpp"
#include "table/dialects.hpp"
#include "table/field_rules.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr int kLastRestructureDialect = kDialectCount - 1;

int32_t restructure(int32_t descriptor, int32_t records, std::span<DBFieldSpec> fields,
                    Layout& layout) {
    if (int32_t code = check_fields(fields, layout); code < 0) return fail(code);
    HostBlock image;
    if (int32_t code = build_header_image(fields, layout, 0, &image); code < 0) return fail(code);
    put_le32(reinterpret_cast<uint8_t*>(image.get()) + kCountAt, static_cast<uint32_t>(records));
    const std::span<const char> bytes(image.get(), layout.header_length);
    if (int32_t code = os::write_at(descriptor, 0, bytes); code < 0) return fail(code);
    return 0;
}

}  // namespace

}  // namespace xbdb::table

using namespace xbdb;
using namespace xbdb::table;

extern "C" {

int32_t DBModifyFile(int32_t descriptor, int32_t records, int32_t count, DBFieldSpec* fields,
                     int32_t dialect) {
    DBerrno = 0;
    if (!fields) return fail(DB_ERR_NULL);
    if (count < 1) return fail(DB_ERR_FIELD_COUNT);
    Layout layout;
    layout.writer = HeaderWriter::restructure;
    layout.production = (dialect & DB_CREATE_PRODUCTION) != 0;
    dialect &= ~DB_CREATE_PRODUCTION;
    if (dialect < 0 || dialect > kLastRestructureDialect) return fail(DB_ERR_VERSION);
    layout.dialect = dialect;
    const std::span<DBFieldSpec> specs(fields, static_cast<std::size_t>(count));
    if (int32_t code = restructure(descriptor, records, specs, layout); code < 0) return fail(code);
    return DBerrno = 0;
}

}  // extern "C"
