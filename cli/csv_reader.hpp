// A CSV reader (RFC 4180: quoted fields may hold commas, quotes doubled, line
// breaks) that remembers the line each record starts on, for error messages.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xbdb::cli {

struct CsvRecord {
    std::size_t line = 0;  // 1-based line where the record starts
    std::vector<std::string> fields;
};

class CsvReader {
public:
    explicit CsvReader(std::string text) : text_(std::move(text)) {}
    // The next record, or nothing at the end. A quote that is never closed throws
    // std::runtime_error naming the line.
    std::optional<CsvRecord> next();
    std::size_t position() const { return pos_; }
    std::size_t size() const { return text_.size(); }

private:
    std::string quoted_field();
    std::string text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
};

}  // namespace xbdb::cli
