#include "index/key_compare.hpp"

namespace xbdb::index {

char DBkeybfr1[kKeyBufferSize];
char DBkeybfr2[kKeyBufferSize];
char DBkeybfr3[kKeyBufferSize];
uint32_t DBrecno = 0;

int32_t pad_key(char* out, const char* text, int32_t key_size) {
    const std::size_t size = static_cast<std::size_t>(key_size);
    const std::size_t used = text ? strnlen(text, size) : 0;
    if (used) std::memcpy(out, text, used);
    std::memset(out + used, ' ', size - used);
    out[size] = '\0';
    return static_cast<int32_t>(used);
}

void SearchKey::prepare(const char* text, int32_t key_size, bool with_recno, uint32_t record) {
    const int32_t used = pad_key(bytes, text, key_size);
    by_recno = with_recno;
    recno = record;
    length = with_recno ? key_size : used;
}

}  // namespace xbdb::index
