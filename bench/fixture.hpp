// What every benchmark scenario shares: the run's settings, the sample records and
// the sample table built from them, timing, and the registry of outcomes that the
// summary table is printed from.
//
// The sample record (102 bytes with the deletion byte):
//   off size field   type       content
//     0    1 -       deletion   blank
//     1   40 NAME    C 40       20 random capitals (the 20-byte key), then letters
//    41   12 AMOUNT  N 12.2     -100000.00 .. 899999.99
//    53    8 BORN    D          1930..2019, days 1..28
//    61    1 ACTIVE  L          T or F
//    62   30 CITY    C 30       one of 16 names
//    92   10 QTY     N 10       0 .. 999999999
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "xbdb.h"

namespace bench {

constexpr int kRecordLength = 102;
constexpr int kNameAt = 1, kNameWidth = 40;
constexpr int kAmountAt = 41, kAmountWidth = 12;
constexpr int kBornAt = 53;
constexpr int kActiveAt = 61;
constexpr int kQtyAt = 92, kQtyWidth = 10;
constexpr int kKeyWidth = 20;
// Date style the typed date reads convert to (dd.mm.yyyy).
constexpr int32_t kDateStyle = DB_DATE_DMY_DOT_YYYY;
// Records per cache block for the sequential scenarios: just under 64 KiB, the
// block the raw baselines read and write.
constexpr int32_t kBlockRecords = 642;
constexpr int kRawBlock = kBlockRecords * kRecordLength;

struct Settings {
    int64_t records = 1000000;
    int repeats = 3;         // each side timed this many times, the best kept
    std::string directory;   // scratch directory, removed at exit
};
Settings& settings();
int32_t record_count();

// The path of a file in the scratch directory.
std::string scratch(const std::string& name);

// Records in record order, kRecordLength bytes each.
const std::vector<char>& sample_records();
// The sample table (all records), built once with buffered appends.
const std::string& sample_table();
// The 20-byte key of record n (from 1).
const char* name_key(int32_t n);
// A permutation of 1..count, the same for every call with the same seed.
std::vector<uint32_t> shuffled_records(uint64_t seed);
// Small deterministic generator (splitmix64).
struct Random {
    uint64_t state;
    uint64_t next();
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(next() % n); }
};

// Stops the run with the library's message when a call fails.
void require(int32_t code, const char* what);
void require_os(bool ok, const char* what);

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// A target: the scenario meets it when its rate reaches min_rate, its ratio to the
// baseline stays at or under max_ratio and its time at or under max_seconds (0 = not
// part of the target).
struct Target {
    const char* text = "-";
    double min_rate = 0;
    double max_ratio = 0;
    double max_seconds = 0;
};

struct Outcome {
    std::string scenario;
    int64_t items = 0;        // operations timed (records, keys, updates, texts)
    double library_s = 0;
    double baseline_s = 0;
    std::string baseline;     // what the baseline is
    Target target;

    double rate() const { return library_s > 0 ? items / library_s : 0; }
    double ratio() const { return baseline_s > 0 ? library_s / baseline_s : 0; }
    bool has_target() const { return target.min_rate || target.max_ratio || target.max_seconds; }
    bool met() const;
};

// Runs library and baseline alternately settings().repeats times each, keeps the best
// time of each. Each callable returns its own measured seconds (so that set-up that
// is not part of the operation stays outside).
template <class Library, class Baseline>
void best_of(Outcome& o, Library&& library, Baseline&& baseline) {
    for (int i = 0; i < settings().repeats; ++i) {
        const double b = baseline();
        const double l = library();
        if (i == 0 || b < o.baseline_s) o.baseline_s = b;
        if (i == 0 || l < o.library_s) o.library_s = l;
    }
}

// Sets the benchmark's time and counters from the outcome and keeps it for the
// summary table.
void report(benchmark::State& state, const Outcome& o);
void print_summary();

// Header length of a table file (bytes 8..9 of its header).
int table_header_length(const std::string& path);

// Removes a scratch file if it is there.
void remove_file(const std::string& path);

}  // namespace bench
