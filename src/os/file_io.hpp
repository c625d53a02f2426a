// Internal helpers over the host file functions, for the file families.
//
// Offsets are computed in 64 bits and checked against the 31-bit range of the file
// layer before anything is positioned, read or written: a product such as
// header + (n - 1) * length that leaves the range is -204, never a wrapped
// position. Reads and writes of any length go through the 16-bit host read in
// pieces, so a long memo or cache fill is never cut to its low 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <source_location>
#include <span>

namespace xbdb::os {

constexpr int64_t kMaxPosition = 0x7FFFFFFF;

// Positions fd at position from the start; -204 when out of range.
int32_t seek(int fd, int64_t position,
             std::source_location where = std::source_location::current());

// Reads exactly bytes.size() bytes at the current position; -202 on a short piece.
int32_t read_exact(int fd, std::span<char> bytes,
                   std::source_location where = std::source_location::current());
int32_t write_all(int fd, std::span<const char> bytes, bool flush = false,
                  std::source_location where = std::source_location::current());

int32_t read_at(int fd, int64_t position, std::span<char> bytes,
                std::source_location where = std::source_location::current());
int32_t write_at(int fd, int64_t position, std::span<const char> bytes, bool flush = false,
                 std::source_location where = std::source_location::current());

// Removes every lock-table entry of fd. Closing a descriptor drops all of its host
// locks, so a later open that gets the same number must not find them here.
void forget_locks(int fd);

// The DBos calls as the library's own code uses them. The exported functions return
// the DBerrno they find when they succeed (a host keeps its own warnings that way),
// so a code left over from an earlier step would read as this call's failure; these
// return 0 on success and leave DBerrno as it was, or the logged failure.
int32_t create_file(int32_t* fd, const char* name);
int32_t open_file(int32_t* fd, const char* name, int32_t mode, uint8_t* flags);
int32_t close_file(int32_t fd);
int32_t file_length(int32_t fd, int32_t* length);
int32_t set_file_size(int32_t fd, int32_t size);
int32_t flush_file(int32_t fd);
int32_t lock_data(int32_t fd, int32_t mode, uint32_t offset, int32_t length);

// Rename (note the order: the new name first), delete and existence test of files
// by name. Deleting a missing file is the warning 204, not an error.
int32_t _DBosRenameFile(const char* new_name, const char* old_name);
int32_t _DBosDeleteFile(const char* name);
// 1 when the file exists (also when it may not be read), else 0; DBerrno unchanged.
int32_t _DBIsFileThere(const char* name);

}  // namespace xbdb::os
