// Default for the host hook mrv_basename, for hosts that do not define their own.
// It is weak, so a host's definition replaces it; the memory routines receive its
// result and never use it.
#include <cstring>

#include "core/api.hpp"

extern "C" __attribute__((weak)) const char* mrv_basename(const char* source_path) {
    if (!source_path) return "";
    const char* slash = std::strrchr(source_path, '/');
    return slash ? slash + 1 : source_path;
}
