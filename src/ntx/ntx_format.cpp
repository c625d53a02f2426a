#include "ntx/ntx_format.hpp"

#include <bitset>
#include <cstring>

#include "core/api.hpp"

namespace xbdb::ntx {

void format_header(Header& h, int32_t key_size, int32_t decimals, bool unique,
                   const char* expression) {
    std::memset(h.bytes, 0, sizeof h.bytes);
    const int32_t max_items = max_items_for(key_size);
    put_le16(h.bytes + kSignatureAt, kSignature);
    put_le16(h.bytes + kVersionAt, 1);
    put_le32(h.bytes + kRootAt, kFirstPage);
    put_le16(h.bytes + kItemSizeAt, static_cast<uint16_t>(key_size + 8));
    put_le16(h.bytes + kKeySizeAt, static_cast<uint16_t>(key_size));
    put_le16(h.bytes + kDecimalsAt, static_cast<uint16_t>(decimals));
    put_le16(h.bytes + kMaxItemsAt, static_cast<uint16_t>(max_items));
    put_le16(h.bytes + kHalfPageAt, static_cast<uint16_t>(max_items / 2));
    std::strncpy(h.expression(), expression, kExpressionSize - 1);
    _DBstrupr(h.expression());
    put_le16(h.bytes + kUniqueAt, unique ? 1 : 0);
}

void Page::set_entry(int32_t i, uint32_t recno, const char* key) {
    put_le32(slot(i) + kRecnoAt, recno);
    std::memcpy(slot(i) + kKeyAt, key, static_cast<std::size_t>(g_.key_size));
}

void Page::format_empty() {
    std::memset(p_, 0, kPageSize);
    for (int32_t i = 0; i <= g_.max_items; ++i)
        set_offset(i, static_cast<uint16_t>(g_.slot_base() + i * g_.item_size));
}

void Page::open_slot(int32_t i) {
    const uint16_t taken = offset(g_.max_items);
    for (int32_t k = g_.max_items; k > i; --k) set_offset(k, offset(k - 1));
    set_offset(i, taken);
    std::memset(p_ + taken, 0, static_cast<std::size_t>(g_.item_size));
}

void Page::remove_entry(int32_t i) {
    const uint16_t freed = offset(i);
    for (int32_t k = i; k < g_.max_items; ++k) set_offset(k, offset(k + 1));
    set_offset(g_.max_items, freed);
    set_count(count() - 1);
}

void Page::copy_entry(int32_t i, const Page& other, int32_t j) {
    std::memcpy(slot(i), other.slot(j), static_cast<std::size_t>(g_.item_size));
}

int32_t check_page(const char* data, const Geometry& g, bool is_root) {
    const Page page(const_cast<char*>(data), g);
    if (page.count() > g.max_items) return DB_ERR_CORRUPT;
    if (page.count() == 0 && !is_root) return DB_ERR_CORRUPT;
    // Each of the max_items + 1 slots must be named exactly once, at its place.
    std::bitset<kPageSize> seen;
    for (int32_t i = 0; i <= g.max_items; ++i) {
        const int32_t at = page.offset(i) - g.slot_base();
        if (at < 0 || at % g.item_size != 0) return DB_ERR_CORRUPT;
        const int32_t n = at / g.item_size;
        if (n > g.max_items || seen[static_cast<std::size_t>(n)]) return DB_ERR_CORRUPT;
        seen.set(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace xbdb::ntx
