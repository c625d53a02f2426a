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
#include "table/field_rules.hpp"
#include "table/table.hpp"

namespace xbdb::table {

namespace {

constexpr std::size_t kMaxNameLength = DB_NAME_LEN - 1;

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
    layout.writer = HeaderWriter::create;
    layout.production = (dialect & DB_CREATE_PRODUCTION) != 0;
    dialect &= ~DB_CREATE_PRODUCTION;
    if (dialect < 0 || dialect > kLastCreateDialect) return fail(DB_ERR_VERSION);
    layout.dialect = dialect;
    const std::span<DBFieldSpec> specs(fields, static_cast<std::size_t>(count));
    if (int32_t code = check_fields(specs, layout); code < 0) return fail(code);
    HostBlock image;
    if (int32_t code = build_header_image(specs, layout, 1, &image); code < 0) return fail(code);
    image[layout.header_length] = kEndOfFile;
    const std::span<const char> bytes(image.get(), layout.header_length + 1);
    if (int32_t code = write_new_file(name, bytes); code < 0) return fail(code);
    return 0;
}

}  // extern "C"
