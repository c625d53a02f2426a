// The one failure path of the library.
//
// Every failure sets DBerrno, appends one line to the error log naming the source
// file and line of the failing check, and returns the code:
//
//     if (!name) return fail(DB_ERR_NULL);
//
// A caller that receives a failure from a function it called passes it on with
// `return fail(code);` from its own location, so the log shows the chain of callers,
// innermost first. Failures that are reported without a log line use
// fail_unlogged().
#pragma once

#include <cstdint>
#include <source_location>

namespace xbdb {

// Appends "source TAB line TAB code LF" to the error log when logging is on.
void _DBErrorWrite(const char* source, int32_t line, int32_t code);

int32_t fail(int32_t code, std::source_location where = std::source_location::current());
int32_t fail_unlogged(int32_t code);

// Logs an existing code again from the caller's location without changing DBerrno.
void log_again(int32_t code, std::source_location where = std::source_location::current());

// A host error number that no translation table names: errno with the two top bits set.
constexpr int32_t host_error(int err) {
    return static_cast<int32_t>(0xC0000000u | static_cast<uint32_t>(err));
}

}  // namespace xbdb
