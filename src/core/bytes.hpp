// Byte-order and ASCII helpers.
//
// On-disk integers are read and written through these small accessors, never
// through structures cast over a buffer: little-endian for DBF, NTX, NDX, MDX and
// DBT files, big-endian for the FPT headers and the compact-index interior entries.
#pragma once

#include <cstdint>
#include <cstring>

namespace xbdb {

inline uint16_t le16(const void* at) {
    const auto* p = static_cast<const uint8_t*>(at);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t le32(const void* at) {
    const auto* p = static_cast<const uint8_t*>(at);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t be16(const void* at) {
    const auto* p = static_cast<const uint8_t*>(at);
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t be32(const void* at) {
    const auto* p = static_cast<const uint8_t*>(at);
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
inline void put_le16(void* at, uint16_t v) {
    auto* p = static_cast<uint8_t*>(at);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put_le32(void* at, uint32_t v) {
    auto* p = static_cast<uint8_t*>(at);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put_be16(void* at, uint16_t v) {
    auto* p = static_cast<uint8_t*>(at);
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put_be32(void* at, uint32_t v) {
    auto* p = static_cast<uint8_t*>(at);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

int16_t _DBSwapBytesShort(int16_t value);
int32_t _DBSwapBytesLong(int32_t value);
void _DBSwapBytesFloat(void* destination, const void* source);
void _DBSwapBytesDouble(void* destination, const void* source);

// Only the ASCII letters change case; every other byte is left alone.
char* _DBstrupr(char* text);
char* _DBstrlwr(char* text);
// Case-blind comparison with the C library's lower-case mapping, NUL included.
int _DBstricmp(const char* a, const char* b);
// Overlap-safe copy; a negative count copies nothing.
void* _DBmemmove(void* destination, const void* source, int32_t count);

}  // namespace xbdb
