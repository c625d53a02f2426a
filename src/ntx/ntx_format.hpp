// The NTX file format: one key expression, fixed-length keys, 1024-byte pages, all
// numbers little-endian, every page addressed by its byte offset.
//
// Header, page 0 (1024 bytes; only bytes 0..279 are read)
//   off size field           meaning
//     0    2 signature       6 when created; not checked on open
//     2    2 version         1 at creation, +1 each time the header is written back:
//                            how other processes tell that the file changed
//     4    4 root            offset of the root page (1024 at creation)
//     8    4 free_page       first page of the free-page chain, 0 when empty
//    12    2 item_size       key_size + 8: one entry slot
//    14    2 key_size        1..200
//    16    2 key_decimals    decimal places of a numeric key, else 0
//    18    2 max_items       most keys in one page:
//                            (1020 / (key_size + 10) - 1) rounded down to even
//    20    2 half_page       max_items / 2, fewest keys of a page other than the root
//    22  256 key_expression  NUL-terminated, upper case, no spaces
//   278    2 unique          non-zero: unique index
//   280  744 (zero)
//
// Page (1024 bytes at a non-zero multiple of 1024)
//   off                 size                         field
//     0                 2                            count: keys in the page; only
//                                                    the low byte is used
//     2                 2 * (max_items + 1)          offsets: offsets[i] is where in
//                                                    the page the slot of entry i is
//     2 * max_items + 4 (max_items + 1) * item_size  entry slots
//
// Entry slot: child (4, the page whose keys all sort before this entry's key, 0 in
// a leaf), recno (4), key (key_size bytes, no terminator). Entries 0..count-1 are the
// keys in ascending order; entry count holds no key, only the rightmost child.
//
// The offset table is a permutation of the slots: inserting or removing an entry
// moves only 2-byte offsets, and the slot taken or freed goes from or to the last
// position of the table. A fresh page has offsets[i] = 2 * max_items + 4 +
// i * item_size.
//
// A page on the free-page chain holds the offset of the next free page in its first
// 4 bytes (0 ends the chain); the header's free_page is the page freed last.
#pragma once

#include <cstdint>

#include "core/bytes.hpp"

namespace xbdb::ntx {

constexpr int32_t kPageSize = 1024;
constexpr int32_t kHeaderImageSize = 280;
constexpr int32_t kMaxKeySize = 200;
constexpr int32_t kExpressionSize = 256;
constexpr uint16_t kSignature = 6;
constexpr uint32_t kFirstPage = 1024;

// Header field offsets.
constexpr int kSignatureAt = 0;
constexpr int kVersionAt = 2;
constexpr int kRootAt = 4;
constexpr int kFreePageAt = 8;
constexpr int kItemSizeAt = 12;
constexpr int kKeySizeAt = 14;
constexpr int kDecimalsAt = 16;
constexpr int kMaxItemsAt = 18;
constexpr int kHalfPageAt = 20;
constexpr int kExpressionAt = 22;
constexpr int kUniqueAt = 278;
// The changing fields that shared processes re-read and write back: version, root,
// free_page (10 bytes from offset 2).
constexpr int kChangingFieldsSize = 10;

// Entry slot field offsets.
constexpr int kChildAt = 0;
constexpr int kRecnoAt = 4;
constexpr int kKeyAt = 8;

constexpr int32_t max_items_for(int32_t key_size) {
    return ((1020 / (key_size + 10)) - 1) & ~1;
}

// The header image kept in the index packet.
struct Header {
    uint8_t bytes[kHeaderImageSize] = {};

    uint16_t version() const { return le16(bytes + kVersionAt); }
    uint32_t root() const { return le32(bytes + kRootAt); }
    uint32_t free_page() const { return le32(bytes + kFreePageAt); }
    int32_t item_size() const { return le16(bytes + kItemSizeAt); }
    int32_t key_size() const { return le16(bytes + kKeySizeAt); }
    int32_t decimals() const { return le16(bytes + kDecimalsAt); }
    int32_t max_items() const { return le16(bytes + kMaxItemsAt); }
    int32_t half_page() const { return le16(bytes + kHalfPageAt); }
    bool unique() const { return le16(bytes + kUniqueAt) != 0; }
    char* expression() { return reinterpret_cast<char*>(bytes + kExpressionAt); }
    const char* expression() const { return reinterpret_cast<const char*>(bytes + kExpressionAt); }

    void set_version(uint16_t v) { put_le16(bytes + kVersionAt, v); }
    void set_root(uint32_t v) { put_le32(bytes + kRootAt, v); }
    void set_free_page(uint32_t v) { put_le32(bytes + kFreePageAt, v); }
};

// Fills a header for a new file.
void format_header(Header& h, int32_t key_size, int32_t decimals, bool unique,
                   const char* expression);

// The sizes every page of one file shares.
struct Geometry {
    int32_t key_size = 0;
    int32_t item_size = 0;
    int32_t max_items = 0;
    int32_t half_page = 0;

    static Geometry of(const Header& h) {
        return {h.key_size(), h.item_size(), h.max_items(), h.half_page()};
    }
    int32_t slot_base() const { return 2 * max_items + 4; }
};

// A page buffer read and changed through the format above.
class Page {
public:
    Page(char* data, const Geometry& g) : p_(reinterpret_cast<uint8_t*>(data)), g_(g) {}

    int32_t count() const { return p_[0]; }
    void set_count(int32_t n) { put_le16(p_, static_cast<uint16_t>(n)); }
    uint16_t offset(int32_t i) const { return le16(p_ + 2 + 2 * i); }
    void set_offset(int32_t i, uint16_t v) { put_le16(p_ + 2 + 2 * i, v); }

    uint8_t* slot(int32_t i) const { return p_ + offset(i); }
    uint32_t child(int32_t i) const { return le32(slot(i) + kChildAt); }
    uint32_t recno(int32_t i) const { return le32(slot(i) + kRecnoAt); }
    const char* key(int32_t i) const { return reinterpret_cast<const char*>(slot(i) + kKeyAt); }
    void set_child(int32_t i, uint32_t v) { put_le32(slot(i) + kChildAt, v); }
    void set_entry(int32_t i, uint32_t recno, const char* key);
    bool inner() const { return child(0) != 0; }

    // Lays out an empty page: count 0, the fresh offset table, slots zeroed.
    void format_empty();
    // Opens a slot for entry i (entries i.. move up one) and returns nothing: the
    // caller fills it. The slot comes from the last position of the table.
    void open_slot(int32_t i);
    // Removes entry i (entries after it move down one); its slot goes to the last
    // position of the table. count drops by one.
    void remove_entry(int32_t i);
    // Copies every byte of entry j of other into entry i of this page.
    void copy_entry(int32_t i, const Page& other, int32_t j);

private:
    uint8_t* p_;
    const Geometry& g_;
};

// Validates a page as read from the file: count within max_items, a page other
// than the root never empty, and an offset table naming each slot exactly once.
// Returns 0 or -206.
int32_t check_page(const char* data, const Geometry& g, bool is_root);

// A page offset as the format allows it: non-zero, a multiple of 1024, inside the
// file.
inline bool valid_page_offset(int64_t offset, int64_t file_length) {
    return offset >= kFirstPage && offset % kPageSize == 0 && offset + kPageSize <= file_length;
}

}  // namespace xbdb::ntx
