#include "record_values.hpp"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

namespace xbdb::cli {

std::string iso_date(const std::string& stored) {
    const std::string t = trim(stored);
    if (t.size() == 8 && std::ranges::all_of(t, [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return fmt::format("{}-{}-{}", t.substr(0, 4), t.substr(4, 2), t.substr(6, 2));
    return t;
}

RecordReader::RecordReader(const Table& table, const MemoFile* memo, const Converter& text)
    : table_(table), memo_(memo), text_(text) {}

Cell RecordReader::text_value(const std::string& raw) {
    try {
        return Cell::of_text(text_.convert(raw));
    } catch (const EncodingError& e) {
        throw Failure(kProblemFound, fmt::format("{}: {}", table_.path(), e.what()));
    }
}

Cell RecordReader::memo_value(int i) {
    int32_t block = 0;
    const int32_t code = DBGetFieldData(table_.handle(), static_cast<int16_t>(i), &block);
    if (code == DB_WARN_FIELD_EMPTY || (code >= 0 && block == 0)) return Cell::none();
    if (code < 0 || !memo_) return Cell::none();
    int32_t status = 0;
    const std::string text = memo_->text(block, &status);
    if (status < 0) {
        DBerrno = status;
        problem_ = fmt::format("{}: memo block {} of field {}: {} ({})", memo_->path(), block,
                               table_.fields()[static_cast<std::size_t>(i)].name, DBGetErrorStr(), status);
        return Cell::none();
    }
    return text_value(text);
}

Cell RecordReader::value(int i) {
    const FieldInfo& f = table_.fields()[static_cast<std::size_t>(i)];
    const std::string raw = table_.raw(i);
    switch (f.type) {
        case 'C': return text_value(trim_right(raw));
        case 'N':
        case 'F': {
            const std::string t = trim(raw);
            return t.empty() ? Cell::none() : Cell::of_number(t);
        }
        case 'D': {
            const std::string d = iso_date(raw);
            return d.empty() ? Cell::none() : Cell::of_text(d);
        }
        case 'L': {
            const char c = raw.empty() ? ' ' : raw[0];
            if (std::string_view("TtYy").find(c) != std::string_view::npos) return Cell::of_bool(true);
            if (std::string_view("FfNn").find(c) != std::string_view::npos) return Cell::of_bool(false);
            return Cell::none();
        }
        case 'M': return memo_value(i);
        case 'I': {
            int32_t n = 0;
            DBGetFieldData(table_.handle(), static_cast<int16_t>(i), &n);
            return Cell::of_number(std::to_string(n));
        }
        default: return text_value(trim(raw));
    }
}

}  // namespace xbdb::cli
