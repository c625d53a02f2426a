#include "progress.hpp"

#include <unistd.h>

#include <cstdio>

#include <fmt/format.h>

namespace xbdb::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
}  // namespace

Progress::Progress(std::string label, int64_t total)
    : label_(std::move(label)), total_(total), active_(total > 0 && isatty(STDERR_FILENO)) {}

Progress::~Progress() { finish(); }

void Progress::update(int64_t done) {
    if (!active_) return;
    const int percent = static_cast<int>(done * 100 / total_);
    const auto now = std::chrono::steady_clock::now();
    if (percent == last_percent_ || now - last_draw_ < kRedrawEvery) return;
    last_percent_ = percent;
    last_draw_ = now;
    draw(done);
}

void Progress::draw(int64_t done) {
    const int filled = static_cast<int>(done * kBarWidth / total_);
    fmt::print(stderr, "\r{} [{}{}] {:3}% ({}/{})", label_, std::string(static_cast<std::size_t>(filled), '#'),
               std::string(static_cast<std::size_t>(kBarWidth - filled), ' '), last_percent_, done, total_);
    std::fflush(stderr);
}

void Progress::finish() {
    if (!active_) return;
    if (last_percent_ >= 0) fmt::print(stderr, "\r\033[K");
    std::fflush(stderr);
    active_ = false;
}

}  // namespace xbdb::cli
