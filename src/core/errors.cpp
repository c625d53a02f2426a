// Error codes, their messages and the error log.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/api.hpp"
#include "core/failure.hpp"

int32_t DBerrno = 0;
int32_t DBlog_errs = 0;
char DBlog_filename[DB_LOGNAME_LEN] = {};

namespace xbdb {
namespace {

struct Message {
    int32_t code;
    const char* text;
};

// The message of every code; any other value, including translated host errors,
// has the "unknown" text. Messages are returned to callers exactly as written.
constexpr Message kMessages[] = {
    {0, "No error or warnings"},
    {-201, "ERROR - file write failure"},
    {-202, "ERROR - file read failure"},
    {-203, "ERROR - memory allocation error"},
    {-204, "ERROR - file pointer reposition failed"},
    {-205, "ERROR - file not found"},
    {-206, "ERROR - file corrupted"},
    {-207, "ERROR - bad user specified key expression"},
    {-208, "ERROR - no handles available"},
    {-209, "ERROR - no index pages loaded"},
    {-210, "ERROR - index page was not loaded"},
    {-211, "ERROR - file close failure"},
    {-212, "ERROR - invalid command"},
    {-213, "ERROR - invalid handle number"},
    {-214, "ERROR - invalid filename"},
    {-215, "ERROR - invalid date"},
    {-216, "ERROR - invalid time"},
    {-217, "ERROR - file not in memo format"},
    {-218, "ERROR - invalid dBaseIII version"},
    {-219, "ERROR - file header length error"},
    {-220, "ERROR - last file change date in error"},
    {-221, "ERROR - parameter address NULL"},
    {-222, "ERROR - invalid key type"},
    {-223, "ERROR - invalid key length"},
    {-224, "ERROR - item length incorrect"},
    {-225, "ERROR - invalid root page"},
    {-226, "ERROR - bad maximum number of keys per page"},
    {-227, "ERROR - invalid number of fields"},
    {-228, "ERROR - field name invalid"},
    {-229, "ERROR - bad field length"},
    {-230, "ERROR - decimal places parameter invalid"},
    {-231, "ERROR - invalid field type"},
    {-232, "ERROR - invalid record length"},
    {-233, "ERROR - bad data"},
    {-234, "ERROR - memo soft line length invalid"},
    {-235, "ERROR - MDX flag in DBF file invalid"},
    {-236, "ERROR - file open for reading only"},
    {-237, "ERROR - file locking violation"},
    {-238, "ERROR - sharing buffer overflow"},
    {-239, "ERROR - path not found"},
    {-240, "ERROR - access to file denied"},
    {-241, "ERROR - invalid access code"},
    {-242, "ERROR - file must be locked first"},
    {-243, "ERROR - diskette changed"},
    {-244, "ERROR - bad minimum number of keys per page"},
    {-245, "ERROR - some files remain open"},
    {-246, "ERROR - could not open the file"},
    {-247, "ERROR - flush to disk failure"},
    {-248, "ERROR - invalid tag handle"},
    {-249, "ERROR - invalid page size in blocks"},
    {-250, "ERROR - invalid tag name"},
    {-251, "ERROR - invalid page offset adder"},
    {-252, "ERROR - invalid maximum number of tag table elements"},
    {-253, "ERROR - bad tag table element length"},
    {-254, "ERROR - invalid tag count"},
    {-255, "ERROR - unknown key format switches"},
    {-256, "ERROR - unknown switch error"},
    {-257, "ERROR - tag in use"},
    {-258, "ERROR - Windows GlobalLock error"},
    {-259, "ERROR - Windows Task lookup Failed"},
    {-260, "ERROR - internal lock buffer overflow"},
    {-261, "ERROR - internal lock buffer underflow"},
    {201, "WARNING - record read is marked deleted"},
    {202, "WARNING - file is empty"},
    {203, "WARNING - no more keys"},
    {204, "WARNING - could not find key in index file"},
    {205, "WARNING - data field truncated"},
    {206, "WARNING - numeric field rounded"},
    {207, "WARNING - file length is incorrect"},
    {208, "WARNING - file I/O not buffered"},
    {209, "WARNING - partial memory allocation"},
    {210, "WARNING - function not supported"},
    {211, "WARNING - object already exists"},
    {212, "WARNING - field is empty"},
};

constexpr const char* kUnknown = "Unknown error or warning code";

// Log lines name the failing source by its base name: stable across build trees.
const char* source_identifier(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

}  // namespace

void _DBErrorWrite(const char* source, int32_t line, int32_t code) {
    if (DBlog_errs == 0) return;
    // Opened and closed for every line, so that a crash of the host loses nothing
    // and several processes can append to one log.
    std::FILE* log = std::fopen(DBlog_filename, "a+");
    if (!log) return;
    std::fprintf(log, "%s\t%d\t%d\n", source, static_cast<int>(line), static_cast<int>(code));
    std::fclose(log);
}

int32_t fail(int32_t code, std::source_location where) {
    DBerrno = code;
    _DBErrorWrite(source_identifier(where.file_name()), static_cast<int32_t>(where.line()), code);
    return code;
}

int32_t fail_unlogged(int32_t code) {
    DBerrno = code;
    return code;
}

void log_again(int32_t code, std::source_location where) {
    _DBErrorWrite(source_identifier(where.file_name()), static_cast<int32_t>(where.line()), code);
}

}  // namespace xbdb

extern "C" {

int32_t DBGetErrorCode(void) { return DBerrno; }

int32_t DBSetErrorCode(int32_t code) {
    DBerrno = code;
    return code;
}

const char* DBGetErrorStr(void) {
    const auto* end = std::end(xbdb::kMessages);
    const auto* hit = std::find_if(std::begin(xbdb::kMessages), end,
                                   [](const xbdb::Message& m) { return m.code == DBerrno; });
    return hit == end ? xbdb::kUnknown : hit->text;
}

int32_t DBErrorLog(int32_t on, const char* name) {
    DBlog_errs = on;
    // Only switch value 1 names the file; a null name keeps the previous one.
    if (on == 1 && name) {
        std::size_t n = strnlen(name, DB_LOGNAME_LEN - 1);
        std::memcpy(DBlog_filename, name, n);
        DBlog_filename[n] = '\0';
    }
    return DBerrno;
}

}  // extern "C"
