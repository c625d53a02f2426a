// A fresh directory for a test's files, removed with everything in it afterwards.
#pragma once

#include <string>

namespace xbdb::test {

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    // path/name
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole content of a file ("" when missing).
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

}  // namespace xbdb::test
