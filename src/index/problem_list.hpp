// The findings of an index integrity check, one line each, kept in memory from the
// library's allocator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "core/memory.hpp"

namespace xbdb::index {

// A standard allocator over the library's memory routines.
template <class T>
struct HostAllocator {
    using value_type = T;
    HostAllocator() = default;
    template <class U>
    HostAllocator(const HostAllocator<U>&) {}
    T* allocate(std::size_t n) {
        void* block = xbdb::allocate(n * sizeof(T));
        if (!block) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t) { xbdb::release(block); }
    template <class U>
    bool operator==(const HostAllocator<U>&) const { return true; }
};

struct Problem {
    int64_t page = 0;     // page concerned, 0 for the header or the whole file
    char text[120] = {};  // what is wrong
};

class ProblemList {
public:
    template <class... Args>
    void add(int64_t page, const char* format, Args... args) {
        Problem p;
        p.page = page;
        std::snprintf(p.text, sizeof p.text, format, args...);
        items_.push_back(p);
    }
    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }
    const Problem& operator[](std::size_t i) const { return items_[i]; }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<Problem, HostAllocator<Problem>> items_;
};

}  // namespace xbdb::index
