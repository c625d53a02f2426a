#include "csv_reader.hpp"

#include <stdexcept>

#include <fmt/format.h>

namespace xbdb::cli {

std::string CsvReader::quoted_field() {
    const std::size_t start_line = line_;
    std::string value;
    ++pos_;  // opening quote
    while (pos_ < text_.size()) {
        const char c = text_[pos_++];
        if (c == '"') {
            if (pos_ < text_.size() && text_[pos_] == '"') {
                value += '"';
                ++pos_;
                continue;
            }
            return value;
        }
        if (c == '\n') ++line_;
        value += c;
    }
    throw std::runtime_error(fmt::format("line {}: a quoted value is never closed", start_line));
}

std::optional<CsvRecord> CsvReader::next() {
    // A UTF-8 byte-order mark at the start is not part of the first name.
    if (pos_ == 0 && text_.starts_with("\xEF\xBB\xBF")) pos_ = 3;
    if (pos_ >= text_.size()) return std::nullopt;
    CsvRecord record;
    record.line = line_;
    std::string field;
    while (true) {
        if (pos_ < text_.size() && text_[pos_] == '"' && field.empty()) {
            field = quoted_field();
            continue;
        }
        if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r') {
            record.fields.push_back(std::move(field));
            if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
            if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
            ++line_;
            return record;
        }
        if (text_[pos_] == ',') {
            record.fields.push_back(std::move(field));
            field.clear();
            ++pos_;
            continue;
        }
        field += text_[pos_++];
    }
}

}  // namespace xbdb::cli
