// Keys as the index families handle them in memory.
//
// Every key buffer holds the longest key any family accepts (200 bytes) and its
// terminator, with room to spare, so a key is never copied into a buffer sized for
// a shorter one.
//
// Character keys compare as unsigned bytes from the left over a length n. A search
// key shorter than the index's key size is padded with spaces to the key size but
// keeps its own length as n, so that it matches every key beginning with it (a
// partial key); a longer one is cut to the key size. Searching by key and record
// number compares the whole key.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace xbdb::index {

constexpr std::size_t kKeyBufferSize = 256;

// Unsigned byte comparison over n bytes: negative, 0 or positive, as memcmp. Done
// inline eight bytes at a time (read as big-endian words, so the first differing
// byte decides): a search compares a key with every entry it passes, and for keys
// of a few dozen bytes the call to memcmp costs more than the comparison.
inline uint64_t big_endian_word(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
}

inline int compare_bytes(const char* a, const char* b, int32_t n) {
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t x = big_endian_word(a + i), y = big_endian_word(b + i);
        if (x != y) return x < y ? -1 : 1;
    }
    for (; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// Copies at most key_size bytes of the terminated text into out, pads it with
// spaces to key_size and terminates it; returns the length of the text used.
int32_t pad_key(char* out, const char* text, int32_t key_size);

// A key prepared for searching.
struct SearchKey {
    char bytes[kKeyBufferSize] = {};  // padded to the key size, terminated
    int32_t length = 0;               // bytes that take part in comparisons
    uint32_t recno = 0;               // record number to match
    bool by_recno = false;            // search by key and record number

    // Key-only searches compare the text's own length (a prefix); searches by
    // record number the whole key.
    void prepare(const char* text, int32_t key_size, bool with_recno, uint32_t record);
    int compare(const char* stored) const { return compare_bytes(bytes, stored, length); }
};

// Scratch key buffers and record number shared by the index families' operations.
extern char DBkeybfr1[kKeyBufferSize];
extern char DBkeybfr2[kKeyBufferSize];
extern char DBkeybfr3[kKeyBufferSize];
extern uint32_t DBrecno;

}  // namespace xbdb::index
