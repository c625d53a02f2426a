// DBclOpenIndex: the packet of an open NTX file, its header checked field by field.
#include <cstring>
#include <span>

#include "core/failure.hpp"
#include "ntx/ntx_packet.hpp"
#include "os/file_io.hpp"

namespace xbdb::ntx {

namespace {

// The variants of the mode's low byte that an NTX open accepts.
constexpr int32_t kModeVariants[] = {0, 5, 6};

bool known_variant(int32_t mode) {
    for (int32_t v : kModeVariants)
        if ((mode & DB_OPEN_DIALECT_MASK) == v) return true;
    return false;
}

// The checks of the header, in the order in which their codes take precedence.
int32_t check_header(const Header& h, int32_t file_length) {
    const int32_t key_size = h.key_size();
    if (key_size < 1 || key_size > kMaxKeySize) return fail(DB_ERR_KEY_LENGTH);
    if (h.item_size() != key_size + 8) return fail(DB_ERR_ITEM_LENGTH);
    if (h.root() < kFirstPage || h.root() >= static_cast<uint32_t>(file_length) ||
        h.root() % kPageSize != 0)
        return fail(DB_ERR_ROOT_PAGE);
    if (h.max_items() != max_items_for(key_size)) return fail(DB_ERR_MAX_KEYS);
    if (h.half_page() != h.max_items() / 2) return fail(DB_ERR_MIN_KEYS);
    // An expression with no terminator within its 256 bytes is as bad as a long one.
    if (strnlen(h.expression(), kExpressionSize) >= kExpressionSize) return fail(DB_ERR_KEY_EXPR);
    return 0;
}

void tidy_expression(char* text) {
    char* out = text;
    for (const char* in = text; *in; ++in)
        if (*in != ' ') *out++ = *in;
    *out = '\0';
    _DBstrupr(text);
}

int32_t open_file(NtxPacket& x, const char* name, int32_t mode) {
    if (int32_t code = os::open_file(&x.fd, name, mode, &x.flags); code < 0) return fail(code);
    x.flags |= index::mode_flags(mode);
    x.family_word = index::mode_flush_word(mode);
    if (!known_variant(mode)) return fail(DB_ERR_VERSION);
    if (int32_t code = os::file_length(x.fd, &x.file_length); code < 0) return fail(code);
    std::span<char> image(reinterpret_cast<char*>(x.header.bytes), sizeof x.header.bytes);
    if (int32_t code = os::read_at(x.fd, 0, image); code < 0) return fail(code);
    if (int32_t code = check_header(x.header, x.file_length); code < 0) return fail(code);
    tidy_expression(x.header.expression());
    x.geometry = Geometry::of(x.header);
    std::strncpy(x.name, name, sizeof x.name - 1);
    return 0;
}

int32_t set_up_memory(NtxPacket& x) {
    if (x.shared_unbuffered()) {
        x.saved_key = allocate_block(index::kKeyBufferSize);
        if (!x.saved_key) return fail(DB_ERR_MEMORY);
    }
    const int32_t h = x.geometry.half_page;
    if (!x.path.allocate(index::level_bound(h, h + 1))) return fail(DB_ERR_MEMORY);
    const int16_t wanted = x.unbuffered() ? kUnbufferedBuffers : kDefaultBuffers;
    const index::PageFile file{x.fd, kPageSize, x.family_word != 0};
    if (x.cache.open(file, wanted, &x) < kFewestBuffers) return fail(DB_ERR_MEMORY);
    return 0;
}

// Undoes a failed open: the descriptor, the packet and its slot.
void abandon(int32_t* handle, NtxPacket* x) {
    if (x && x->fd >= 0) os::close_file(x->fd);
    release_slot(*handle);
    *handle = DB_NO_HANDLE;
}

int32_t open_index(int32_t* handle, const char* name, int32_t mode) {
    NtxPacket* x = nullptr;
    if (int32_t code = _DBAllocNewFilePacket(handle, Kind::ntx, &x); code < 0) return fail(code);
    mode = index::adjust_open_mode(mode);
    int32_t code = open_file(*x, name, mode);
    if (code >= 0) code = set_up_memory(*x);
    if (code < 0) {
        const int32_t saved = code;
        abandon(handle, x);
        DBerrno = saved;
        return fail(saved);
    }
    return x->file_length % kPageSize ? DB_WARN_FILE_LENGTH : 0;
}

}  // namespace

}  // namespace xbdb::ntx

extern "C" int32_t DBclOpenIndex(int32_t* handle, const char* name, int32_t mode) {
    using namespace xbdb;
    DBclose[static_cast<int>(Kind::ntx)] = DBclCloseIndex;
    if (!handle || !name) return fail(DB_ERR_NULL);
    DBerrno = 0;
    const int32_t code = ntx::open_index(handle, name, mode);
    if (code < 0) return fail(code);
    DBerrno = code;
    return code;
}
