#include "core/bytes.hpp"

#include <cctype>

namespace xbdb {
namespace {

void reverse_copy(void* destination, const void* source, int n) {
    // Through a copy, so that destination and source may be the same buffer.
    uint8_t tmp[8];
    std::memcpy(tmp, source, n);
    auto* d = static_cast<uint8_t*>(destination);
    for (int i = 0; i < n; ++i) d[i] = tmp[n - 1 - i];
}

}  // namespace

int16_t _DBSwapBytesShort(int16_t value) {
    const auto v = static_cast<uint16_t>(value);
    return static_cast<int16_t>(static_cast<uint16_t>((v >> 8) | (v << 8)));
}

int32_t _DBSwapBytesLong(int32_t value) {
    return static_cast<int32_t>(__builtin_bswap32(static_cast<uint32_t>(value)));
}

void _DBSwapBytesFloat(void* destination, const void* source) {
    reverse_copy(destination, source, 4);
}

void _DBSwapBytesDouble(void* destination, const void* source) {
    reverse_copy(destination, source, 8);
}

char* _DBstrupr(char* text) {
    for (char* p = text; *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return text;
}

char* _DBstrlwr(char* text) {
    for (char* p = text; *p; ++p)
        if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p - 'A' + 'a');
    return text;
}

int _DBstricmp(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) return ca - cb;
        if (ca == 0) return 0;
    }
}

void* _DBmemmove(void* destination, const void* source, int32_t count) {
    if (count > 0) std::memmove(destination, source, static_cast<std::size_t>(count));
    return destination;
}

}  // namespace xbdb
