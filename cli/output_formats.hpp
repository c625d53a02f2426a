// Row writers of `xbdb dump` (and of the index dump): CSV (RFC 4180), TSV, JSON (one
// array), JSON Lines and an aligned text table for the terminal.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace xbdb::cli {

// One value of a row. Numbers keep the table's text; JSON writes them as numbers.
struct Cell {
    enum Kind { text, number, boolean, null } kind = null;
    std::string value;  // text or number text; "T"/"F" for a boolean

    static Cell of_text(std::string v) { return {text, std::move(v)}; }
    static Cell of_number(std::string v) { return {number, std::move(v)}; }
    static Cell of_bool(bool b) { return {boolean, b ? "T" : "F"}; }
    static Cell none() { return {}; }
};

class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual void header(const std::vector<std::string>& columns) = 0;
    virtual void row(const std::vector<Cell>& cells) = 0;
    virtual void finish() {}
};

enum class Format { csv, tsv, json, jsonl, table };

// The format named by --format, or the default: table on a terminal, else csv.
Format choose_format(const std::string& name, FILE* out);
std::unique_ptr<RowWriter> make_writer(Format format, FILE* out);

// Display width of UTF-8 text (code points; wide characters are not measured).
std::size_t display_width(const std::string& text);

}  // namespace xbdb::cli
