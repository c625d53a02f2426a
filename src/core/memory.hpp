// The library's memory routines, as used inside the library.
//
// Every block comes from DBAllocateMemoryLog and goes back through DBFreeMemory
// (and so through the host seam), with the base name of the calling source and its
// line, as the host's mrv_basename makes it. HostBlock owns such a block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <source_location>

namespace xbdb {

// A zero-filled block of size bytes, or null after a logged -203.
void* allocate(std::size_t size, std::source_location where = std::source_location::current());
// Resizes *block; on failure the old block stays and false is returned (-203 logged).
bool reallocate(void** block, std::size_t size,
                std::source_location where = std::source_location::current());
void release(void* block, std::source_location where = std::source_location::current());

struct HostFree {
    void operator()(void* block) const { release(block); }
};

template <class T>
using HostPtr = std::unique_ptr<T, HostFree>;

// A byte buffer from the library's allocator.
using HostBlock = HostPtr<char[]>;

inline HostBlock allocate_block(std::size_t size,
                                std::source_location where = std::source_location::current()) {
    return HostBlock(static_cast<char*>(allocate(size, where)));
}

}  // namespace xbdb
