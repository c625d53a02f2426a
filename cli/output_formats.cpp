#include "output_formats.hpp"

#include <unistd.h>

#include <algorithm>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "common.hpp"

namespace xbdb::cli {

namespace {

std::string csv_quote(const std::string& v, char separator) {
    if (v.find_first_of(std::string{separator, '"', '\n', '\r'}) == std::string::npos) return v;
    std::string out = "\"";
    for (char c : v) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// CSV: quoted when a value holds the separator, a quote or a line break.
// TSV: tabs and line breaks inside values become \t, \n and \r, backslashes \\.
class DelimitedWriter final : public RowWriter {
public:
    DelimitedWriter(FILE* out, char separator) : out_(out), sep_(separator) {}
    void header(const std::vector<std::string>& columns) override { line(columns); }
    void row(const std::vector<Cell>& cells) override {
        std::vector<std::string> values;
        for (const Cell& c : cells) values.push_back(c.value);
        line(values);
    }

private:
    std::string escape(const std::string& v) const {
        if (sep_ == ',') return csv_quote(v, sep_);
        std::string out;
        for (char c : v) {
            switch (c) {
                case '\t': out += "\\t"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                case '\\': out += "\\\\"; break;
                default: out += c;
            }
        }
        return out;
    }
    void line(const std::vector<std::string>& values) {
        std::string text;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i) text += sep_;
            text += escape(values[i]);
        }
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), out_);
    }
    FILE* out_;
    char sep_;
};

nlohmann::json json_value(const Cell& c) {
    switch (c.kind) {
        case Cell::text: return c.value;
        case Cell::boolean: return c.value == "T";
        case Cell::null: return nullptr;
        case Cell::number: break;
    }
    if (c.value.find_first_of(".eE") == std::string::npos) {
        try {
            return std::stoll(c.value);
        } catch (const std::exception&) {
        }
    }
    try {
        return std::stod(c.value);
    } catch (const std::exception&) {
        return c.value;
    }
}

// JSON objects keyed by column name: one array (json) or one object per line (jsonl).
class JsonWriter final : public RowWriter {
public:
    JsonWriter(FILE* out, bool lines) : out_(out), lines_(lines) {}
    void header(const std::vector<std::string>& columns) override {
        columns_ = columns;
        if (!lines_) std::fputs("[", out_);
    }
    void row(const std::vector<Cell>& cells) override {
        nlohmann::ordered_json object;
        for (std::size_t i = 0; i < cells.size(); ++i) object[columns_[i]] = json_value(cells[i]);
        const std::string text = object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        if (lines_)
            fmt::print(out_, "{}\n", text);
        else
            fmt::print(out_, "{}\n  {}", rows_ ? "," : "", text);
        ++rows_;
    }
    void finish() override {
        if (!lines_) std::fputs(rows_ ? "\n]\n" : "]\n", out_);
    }

private:
    FILE* out_;
    bool lines_;
    std::vector<std::string> columns_;
    std::size_t rows_ = 0;
};

// An aligned table: every row is kept until the end to measure the columns.
// Numbers are right-aligned; line breaks inside values show as "\n", and long
// values are cut to kMaxCellWidth characters with an ellipsis.
class TableWriter final : public RowWriter {
public:
    explicit TableWriter(FILE* out) : out_(out) {}
    void header(const std::vector<std::string>& columns) override { columns_ = columns; }
    void row(const std::vector<Cell>& cells) override {
        std::vector<Cell> kept = cells;
        for (Cell& c : kept) c.value = flatten(c.value);
        rows_.push_back(std::move(kept));
    }
    void finish() override {
        std::vector<std::size_t> width;
        for (const auto& c : columns_) width.push_back(display_width(c));
        for (const auto& r : rows_)
            for (std::size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], display_width(r[i].value));
        std::vector<Cell> head;
        for (const auto& c : columns_) head.push_back(Cell::of_text(c));
        print(head, width);
        std::string rule;
        for (std::size_t i = 0; i < width.size(); ++i) rule += (i ? "-+-" : "") + std::string(width[i], '-');
        fmt::print(out_, "{}\n", rule);
        for (const auto& r : rows_) print(r, width);
        fmt::print(out_, "({} row{})\n", rows_.size(), rows_.size() == 1 ? "" : "s");
    }

private:
    static constexpr std::size_t kMaxCellWidth = 40;
    static std::string flatten(const std::string& v) {
        std::string out;
        for (char c : v) {
            if (c == '\n') out += "\\n";
            else if (c != '\r') out += c;
        }
        if (display_width(out) <= kMaxCellWidth) return out;
        std::size_t kept = 0, at = 0;
        for (; at < out.size(); ++at)
            if ((static_cast<unsigned char>(out[at]) & 0xC0) != 0x80 && ++kept == kMaxCellWidth) break;
        return out.substr(0, at) + "\u2026";
    }
    void print(const std::vector<Cell>& cells, const std::vector<std::size_t>& width) {
        std::string line;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::string pad(width[i] - display_width(cells[i].value), ' ');
            if (i) line += " | ";
            line += cells[i].kind == Cell::number ? pad + cells[i].value : cells[i].value + pad;
        }
        fmt::print(out_, "{}\n", trim_right(line));
    }
    FILE* out_;
    std::vector<std::string> columns_;
    std::vector<std::vector<Cell>> rows_;
};

}  // namespace

std::size_t display_width(const std::string& text) {
    return static_cast<std::size_t>(std::ranges::count_if(
        text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

Format choose_format(const std::string& name, FILE* out) {
    if (name.empty()) return isatty(fileno(out)) ? Format::table : Format::csv;
    if (name == "csv") return Format::csv;
    if (name == "tsv") return Format::tsv;
    if (name == "json") return Format::json;
    if (name == "jsonl") return Format::jsonl;
    return Format::table;
}

std::unique_ptr<RowWriter> make_writer(Format format, FILE* out) {
    switch (format) {
        case Format::csv: return std::make_unique<DelimitedWriter>(out, ',');
        case Format::tsv: return std::make_unique<DelimitedWriter>(out, '\t');
        case Format::json: return std::make_unique<JsonWriter>(out, false);
        case Format::jsonl: return std::make_unique<JsonWriter>(out, true);
        case Format::table: break;
    }
    return std::make_unique<TableWriter>(out);
}

}  // namespace xbdb::cli
