// Hand-built DBF header and descriptor bytes, for tests that compare whole files.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "core/api.hpp"
#include "core/bytes.hpp"

namespace xbdb::test {

// A 32-byte file header as this library writes it: version, today as year - 2000,
// month, day; record count at 4; header length at 8; record length at 10;
// production flag at 28.
inline std::string dbf_header(uint8_t version, uint32_t count, uint16_t header_length,
                              uint16_t record_length, uint8_t production = 0) {
    int32_t y = 0, m = 0, d = 0, w = 0;
    DBGetDate3(&y, &m, &d, &w);
    std::string h(32, '\0');
    h[0] = static_cast<char>(version);
    h[1] = static_cast<char>(y - 2000), h[2] = static_cast<char>(m), h[3] = static_cast<char>(d);
    put_le32(h.data() + 4, count);
    put_le16(h.data() + 8, header_length);
    put_le16(h.data() + 10, record_length);
    h[28] = static_cast<char>(production);
    return h;
}

// A 32-byte field descriptor: name, type at 11, length byte at 16, decimals byte at
// 17, indexed flag at 31.
inline std::string descriptor(const char* name, char type, uint8_t length, uint8_t decimals,
                              uint8_t indexed = 0) {
    std::string d(32, '\0');
    d.replace(0, std::strlen(name), name);
    d[11] = type;
    d[16] = static_cast<char>(length);
    d[17] = static_cast<char>(decimals);
    d[31] = static_cast<char>(indexed);
    return d;
}

}  // namespace xbdb::test
