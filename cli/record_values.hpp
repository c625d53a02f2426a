// The values of a record as the dump shows them: text converted to UTF-8, dates as
// YYYY-MM-DD, logicals as booleans, numbers as their trimmed text, memo fields as
// the text they refer to.
#pragma once

#include <optional>
#include <utility>
#include <string>

#include "common.hpp"
#include "encoding.hpp"
#include "output_formats.hpp"

namespace xbdb::cli {

class RecordReader {
public:
    // memo may be null (no memo file): memo fields then read as null.
    RecordReader(const Table& table, const MemoFile* memo, const Converter& text);

    // Field i of the table's current record. A memo text that cannot be read is
    // null, and the problem is kept for problem().
    Cell value(int i);
    // The last problem met while reading (memo texts), cleared by the call.
    std::optional<std::string> take_problem() { return std::exchange(problem_, std::nullopt); }

private:
    Cell memo_value(int i);
    Cell text_value(const std::string& raw);
    const Table& table_;
    const MemoFile* memo_;
    const Converter& text_;
    std::optional<std::string> problem_;
};

// "20240315" -> "2024-03-15"; a blank date is empty; anything else is kept trimmed.
std::string iso_date(const std::string& stored);

}  // namespace xbdb::cli
