// A progress bar on stderr for long work (builds, imports, packs, checks), drawn
// only when stderr is a terminal: piped output stays free of it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace xbdb::cli {

class Progress {
public:
    Progress(std::string label, int64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(int64_t done);
    // Clears the bar (also done by the destructor).
    void finish();

private:
    void draw(int64_t done);
    std::string label_;
    int64_t total_;
    bool active_;
    int last_percent_ = -1;
    std::chrono::steady_clock::time_point last_draw_{};
};

}  // namespace xbdb::cli
