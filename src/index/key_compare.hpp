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

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace xbdb::index {

constexpr std::size_t kKeyBufferSize = 256;

// Unsigned byte comparison over n bytes: negative, 0 or positive.
inline int compare_bytes(const char* a, const char* b, int32_t n) {
    return n <= 0 ? 0 : std::memcmp(a, b, static_cast<std::size_t>(n));
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
