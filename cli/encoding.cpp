#include "encoding.hpp"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fmt/format.h>

#include "common.hpp"

namespace xbdb::cli {

namespace {

struct DriverCodePage {
    uint8_t driver;
    const char* code_page;
};

// Language-driver bytes as dBASE, FoxPro and Clipper write them, one row each.
constexpr DriverCodePage kDrivers[] = {
    {0x01, "CP437"},  {0x02, "CP850"},  {0x03, "CP1252"}, {0x04, "MACINTOSH"},
    {0x08, "CP865"},  {0x09, "CP437"},  {0x0A, "CP850"},  {0x0B, "CP437"},
    {0x0D, "CP437"},  {0x0E, "CP850"},  {0x0F, "CP437"},  {0x10, "CP850"},
    {0x11, "CP437"},  {0x12, "CP850"},  {0x13, "CP932"},  {0x14, "CP850"},
    {0x15, "CP437"},  {0x16, "CP850"},  {0x17, "CP865"},  {0x18, "CP437"},
    {0x19, "CP437"},  {0x1A, "CP850"},  {0x1B, "CP437"},  {0x1C, "CP863"},
    {0x1D, "CP850"},  {0x1F, "CP852"},  {0x22, "CP852"},  {0x23, "CP852"},
    {0x24, "CP860"},  {0x25, "CP850"},  {0x26, "CP866"},  {0x37, "CP850"},
    {0x40, "CP852"},  {0x4D, "CP936"},  {0x4E, "CP949"},  {0x4F, "CP950"},
    {0x50, "CP874"},  {0x57, "CP1252"}, {0x58, "CP1252"}, {0x59, "CP1252"},
    {0x64, "CP852"},  {0x65, "CP866"},  {0x66, "CP865"},  {0x67, "CP861"},
    {0x6A, "CP737"},  {0x6B, "CP857"},  {0x78, "CP950"},  {0x79, "CP949"},
    {0x7A, "CP936"},  {0x7B, "CP932"},  {0x7C, "CP874"},  {0x7D, "CP1255"},
    {0x7E, "CP1256"}, {0x96, "MAC-CYRILLIC"}, {0x97, "MAC-CENTRALEUROPE"},
    {0x98, "MAC-GREEK"}, {0xC8, "CP1250"}, {0xC9, "CP1251"}, {0xCA, "CP1254"},
    {0xCB, "CP1253"}, {0xCC, "CP1257"},
};

constexpr const char* kDefaultCodePage = "CP437";
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

bool is_utf8(std::string_view name) {
    std::string n;
    for (char c : name)
        if (c != '-' && c != '_') n += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return n == "UTF8";
}

// Length of the UTF-8 sequence that starts with byte b (1 for a stray byte).
std::size_t utf8_length(unsigned char b) {
    if (b >= 0xF0) return 4;
    if (b >= 0xE0) return 3;
    if (b >= 0xC0) return 2;
    return 1;
}

}  // namespace

const char* code_page_of_driver(uint8_t driver) {
    for (const auto& row : kDrivers)
        if (row.driver == driver) return row.code_page;
    return nullptr;
}

std::string code_page_for(const std::optional<std::string>& explicit_name, uint8_t driver) {
    if (explicit_name) return *explicit_name;
    const char* cp = code_page_of_driver(driver);
    return cp ? cp : kDefaultCodePage;
}

Converter::Converter(const std::string& from, const std::string& to, EncodingErrors errors)
    : cd_(nullptr), from_(from), to_(to), errors_(errors),
      identity_(is_utf8(from) && is_utf8(to)) {
    if (identity_) return;
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        usage_failure(fmt::format("unknown encoding: {} (iconv cannot convert {} to {})",
                                  is_utf8(from) ? to : from, from, to));
    cd_ = cd;
}

Converter::~Converter() {
    if (cd_) iconv_close(static_cast<iconv_t>(cd_));
}

std::string Converter::convert(std::string_view text) const {
    std::string out;
    if (identity_) return std::string(text);
    auto cd = static_cast<iconv_t>(cd_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    char buffer[1024];
    while (in_left > 0) {
        char* o = buffer;
        std::size_t o_left = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        const std::size_t offset = text.size() - in_left;
        if (errors_ == EncodingErrors::strict)
            throw EncodingError(fmt::format("byte 0x{:02X} at offset {} cannot be converted from {} to {}",
                                            static_cast<unsigned char>(*in), offset, from_, to_),
                                offset);
        const std::size_t skip = is_utf8(from_) ? std::min(in_left, utf8_length(static_cast<unsigned char>(*in))) : 1;
        out += is_utf8(to_) ? kReplacementUtf8 : "?";
        in += skip;
        in_left -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace xbdb::cli
