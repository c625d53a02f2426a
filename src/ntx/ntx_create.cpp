// DBclCreateIndex: a new NTX file of a header and an empty root page.
#include <cstring>
#include <span>

#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"
#include "os/file_io.hpp"

namespace xbdb::ntx {

namespace {

constexpr int32_t kUniqueBit = DB_KEY_UNIQUE;
constexpr int32_t kCaseBit = 0x20;
constexpr int32_t kMaxNumericLength = 19;
constexpr int32_t kMaxNumericDecimals = 15;
constexpr int32_t kDateKeyLength = 8;

struct KeyShape {
    int32_t length;
    int32_t decimals;
};

// Removes every space of the caller's expression, in place; returns the length.
std::size_t squeeze_spaces(char* text) {
    char* out = text;
    for (const char* in = text; *in; ++in)
        if (*in != ' ') *out++ = *in;
    *out = '\0';
    return static_cast<std::size_t>(out - text);
}

int32_t key_shape(int32_t type, int32_t length, int32_t decimals, KeyShape& shape) {
    switch (type & ~kCaseBit) {
        case 'D': shape = {kDateKeyLength, 0}; return 0;
        case 'C':
            if (length < 1 || length > kMaxKeySize) return fail(DB_ERR_KEY_LENGTH);
            shape = {length, 0};
            return 0;
        case 'N':
            if (length < 1 || length > kMaxNumericLength) return fail(DB_ERR_KEY_LENGTH);
            if (decimals < 0 || decimals > length - 2 || decimals > kMaxNumericDecimals)
                return fail(DB_ERR_DECIMALS);
            shape = {length, decimals};
            return 0;
        default: return fail(DB_ERR_KEY_TYPE);
    }
}

int32_t write_new_file(const char* name, const Header& h) {
    int32_t fd = -1;
    if (int32_t code = os::create_file(&fd, name); code < 0) return fail(code);
    HostBlock page = allocate_block(kPageSize);
    int32_t code = page ? 0 : DB_ERR_MEMORY;
    if (code == 0) {
        std::memcpy(page.get(), h.bytes, sizeof h.bytes);
        code = os::write_at(fd, 0, std::span<const char>(page.get(), kPageSize));
    }
    if (code == 0) {
        const Geometry g = Geometry::of(h);
        Page(page.get(), g).format_empty();
        code = os::write_at(fd, kFirstPage, std::span<const char>(page.get(), kPageSize));
    }
    const int32_t closed = os::close_file(fd);
    if (code < 0) return fail(code);
    if (closed < 0) return fail(closed);
    return 0;
}

int32_t create_index(const char* name, int32_t type, char* expression, int32_t length,
                     int32_t decimals) {
    if (squeeze_spaces(expression) >= kExpressionSize) return fail(DB_ERR_KEY_EXPR);
    const bool unique = type & kUniqueBit;
    KeyShape shape{};
    if (int32_t code = key_shape(type & ~kUniqueBit, length, decimals, shape); code < 0)
        return fail(code);
    Header h;
    format_header(h, shape.length, shape.decimals, unique, expression);
    if (int32_t code = write_new_file(name, h); code < 0) return fail(code);
    return 0;
}

}  // namespace
}  // namespace xbdb::ntx

extern "C" int32_t DBclCreateIndex(const char* name, int32_t key_type, char* expression,
                                   int32_t key_length, int32_t decimals) {
    using namespace xbdb;
    if (!name || !expression) return fail(DB_ERR_NULL);
    DBerrno = 0;
    if (int32_t code = ntx::create_index(name, key_type, expression, key_length, decimals);
        code < 0)
        return fail(code);
    return DBerrno;
}
