#include "core/memory.hpp"

#include <cstring>

#include "core/api.hpp"
#include "core/failure.hpp"
#include "os/host.hpp"

namespace {

// A request for zero bytes still gets a real block, so that it can never be
// mistaken for a failure.
std::size_t host_size(int32_t size) { return size > 0 ? static_cast<std::size_t>(size) : 1; }

}  // namespace

extern "C" {

int32_t DBAllocateMemoryLog(void* pointer_address, int32_t size, const char* /*source_name*/,
                            int32_t /*line*/) {
    if (!pointer_address) return xbdb::fail(DB_ERR_NULL);
    void* block = size < 0 ? nullptr : xbdb::os::host().allocate(host_size(size));
    *static_cast<void**>(pointer_address) = block;
    if (!block) return xbdb::fail(DB_ERR_MEMORY);
    return 0;
}

int32_t DBReAllocateMemory(void* pointer_address, int32_t size, const char* /*source_name*/,
                           int32_t /*line*/) {
    if (!pointer_address) return xbdb::fail(DB_ERR_NULL);
    void** pointer = static_cast<void**>(pointer_address);
    void* block = size < 0 ? nullptr : xbdb::os::host().reallocate(*pointer, host_size(size));
    if (!block) return xbdb::fail(DB_ERR_MEMORY);
    *pointer = block;
    return 0;
}

int32_t DBFreeMemory(void* pointer, const char* /*source_name*/, int32_t /*line*/) {
    xbdb::os::host().release(pointer);
    return 0;
}

}  // extern "C"

namespace xbdb {

void* allocate(std::size_t size, std::source_location where) {
    void* block = nullptr;
    if (size > INT32_MAX) {
        fail(DB_ERR_MEMORY, where);
        return nullptr;
    }
    if (DBAllocateMemoryLog(&block, static_cast<int32_t>(size), mrv_basename(where.file_name()),
                            static_cast<int32_t>(where.line())) < 0) {
        log_again(DB_ERR_MEMORY, where);
        return nullptr;
    }
    std::memset(block, 0, size);
    return block;
}

bool reallocate(void** block, std::size_t size, std::source_location where) {
    if (size > INT32_MAX) {
        fail(DB_ERR_MEMORY, where);
        return false;
    }
    if (DBReAllocateMemory(block, static_cast<int32_t>(size), mrv_basename(where.file_name()),
                           static_cast<int32_t>(where.line())) < 0) {
        log_again(DB_ERR_MEMORY, where);
        return false;
    }
    return true;
}

void release(void* block, std::source_location where) {
    if (block)
        DBFreeMemory(block, mrv_basename(where.file_name()), static_cast<int32_t>(where.line()));
}

}  // namespace xbdb
