// Text between a table's code page and UTF-8, through glibc iconv.
//
// The code page of a table is named by its language-driver byte (header byte 29);
// --encoding names one explicitly. A byte or character that the target cannot show
// is either replaced (U+FFFD towards UTF-8, '?' towards the table) or refused.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace xbdb::cli {

enum class EncodingErrors { replace, strict };

// A byte sequence that cannot be converted, at offset (bytes) in the input.
class EncodingError : public std::runtime_error {
public:
    EncodingError(const std::string& what, std::size_t offset)
        : std::runtime_error(what), offset_(offset) {}
    std::size_t offset() const { return offset_; }

private:
    std::size_t offset_;
};

// The iconv name of the code page of a language-driver byte; null when the byte
// names none (0, or a value this table does not know).
const char* code_page_of_driver(uint8_t driver);
// The code page for a table: the explicit name, else the driver's, else CP437 (the
// code page of the DOS programs that wrote tables without a driver byte).
std::string code_page_for(const std::optional<std::string>& explicit_name, uint8_t driver);

class Converter {
public:
    Converter(const std::string& from, const std::string& to, EncodingErrors errors);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Throws EncodingError in strict mode on a sequence it cannot convert.
    std::string convert(std::string_view text) const;

private:
    void* cd_;
    std::string from_;
    std::string to_;
    EncodingErrors errors_;
    bool identity_;
};

}  // namespace xbdb::cli
