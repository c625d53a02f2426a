// The host's field definitions (DBFieldSpec) turned into a table header: the checks
// and completions that a create and a restructure share, and the header image that
// both write.
//
// A restructure (DBModifyFile) follows the rules of a create with a few additions,
// kept as data per dialect in field_rules.cpp: Visual FoxPro headers (dialect 10,
// version 0x30, 8-byte memo references, currency fields, a 263-byte area after the
// terminator) and integer fields in the dialects that take F fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/api.hpp"
#include "core/memory.hpp"

namespace xbdb::table {

enum class HeaderWriter : uint8_t {
    create,       // DBCreateFile: dialects 0..9
    restructure,  // DBModifyFile: dialects 0..10
};

// What the checked fields give: the header's version byte, record length and
// header length, and what the image needs to know to write them.
struct Layout {
    HeaderWriter writer = HeaderWriter::create;
    int dialect = 1;
    bool production = false;
    uint8_t version = 0x03;
    uint32_t record_length = 1;
    uint32_t header_length = 0;
};

// Checks the fields for layout.writer and layout.dialect and completes them in
// place (names and type letters upper-cased, forced lengths and decimals stored);
// sets the version byte, record length and header length of layout.
int32_t check_fields(std::span<DBFieldSpec> fields, Layout& layout);

// The header image: header (record count 0, today's date), descriptors and the
// terminator area, layout.header_length bytes, followed by extra zero bytes.
int32_t build_header_image(std::span<const DBFieldSpec> fields, const Layout& layout,
                           std::size_t extra, HostBlock* image);

}  // namespace xbdb::table
