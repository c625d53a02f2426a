#include "fixture.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

Settings& settings() {
    static Settings s;
    return s;
}

int32_t record_count() { return static_cast<int32_t>(settings().records); }

std::string scratch(const std::string& name) { return settings().directory + "/" + name; }

void remove_file(const std::string& path) { ::unlink(path.c_str()); }

int table_header_length(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    require_os(fd >= 0, "open");
    unsigned char header[32];
    require_os(::pread(fd, header, sizeof header, 0) == sizeof header, "pread");
    ::close(fd);
    return header[8] | header[9] << 8;
}

uint64_t Random::next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void require(int32_t code, const char* what) {
    if (code >= 0) return;
    std::fprintf(stderr, "xbdb_bench: %s failed: %d %s\n", what, code, DBGetErrorStr());
    std::exit(1);
}

void require_os(bool ok, const char* what) {
    if (ok) return;
    std::perror(what);
    std::exit(1);
}

namespace {

constexpr const char* kCities[] = {
    "AMSTERDAM", "BERLIN",  "COPENHAGEN", "DUBLIN", "EDINBURGH", "FLORENCE",
    "GENEVA",    "HELSINKI", "ISTANBUL",  "LISBON", "MADRID",    "NAPLES",
    "OSLO",      "PRAGUE",  "ROTTERDAM",  "VIENNA"};

// Right-aligned decimal digits of value over width bytes, '-' in front when negative.
void put_digits(char* out, int width, int64_t value, int decimals) {
    char text[32];
    const int n = decimals ? std::snprintf(text, sizeof text, "%*.*f", width, decimals, value / 100.0)
                           : std::snprintf(text, sizeof text, "%*lld", width, static_cast<long long>(value));
    std::memcpy(out, text, static_cast<std::size_t>(std::min(n, width)));
}

void make_record(char* r, Random& rng) {
    std::memset(r, ' ', kRecordLength);
    for (int i = 0; i < kKeyWidth; ++i) r[kNameAt + i] = static_cast<char>('A' + rng.below(26));
    const int tail = 5 + static_cast<int>(rng.below(15));
    for (int i = 0; i < tail; ++i) r[kNameAt + kKeyWidth + i] = static_cast<char>('a' + rng.below(26));
    put_digits(r + kAmountAt, kAmountWidth, static_cast<int64_t>(rng.below(100000000)) - 10000000, 2);
    char date[9];
    std::snprintf(date, sizeof date, "%04u%02u%02u", 1930 + rng.below(90), 1 + rng.below(12),
                  1 + rng.below(28));
    std::memcpy(r + kBornAt, date, 8);
    r[kActiveAt] = rng.below(2) ? 'T' : 'F';
    const char* city = kCities[rng.below(16)];
    std::memcpy(r + kActiveAt + 1, city, std::strlen(city));
    put_digits(r + kQtyAt, kQtyWidth, rng.below(1000000000), 0);
}

std::string build_sample_table() {
    const std::string path = scratch("SAMPLE.DBF");
    DBFieldSpec fields[] = {{"NAME", 'C', 40, 0},  {"AMOUNT", 'N', 12, 2}, {"BORN", 'D', 8, 0},
                            {"ACTIVE", 'L', 1, 0}, {"CITY", 'C', 30, 0},   {"QTY", 'N', 10, 0}};
    require(DBCreateFile(path.c_str(), 6, fields, 1), "DBCreateFile");
    int32_t h = -1;
    require(DBOpenFile(&h, path.c_str(), 1), "DBOpenFile");
    int32_t block = kBlockRecords;
    require(DBGetSetCacheSize(h, &block, DB_CACHE_SET), "DBGetSetCacheSize");
    DBRecordInfo info{};
    require(DBGetRecordInfo(h, &info), "DBGetRecordInfo");
    if (info.record_length != kRecordLength) require(-1, "record length");
    const char* r = sample_records().data();
    for (int32_t n = 0; n < record_count(); ++n, r += kRecordLength) {
        std::memcpy(info.buffer, r, kRecordLength);
        int32_t number = 0;
        require(DBPutRecord(h, &number, DB_PUT_APPEND), "DBPutRecord");
    }
    require(DBCloseFile(h), "DBCloseFile");
    return path;
}

}  // namespace

const std::vector<char>& sample_records() {
    static const std::vector<char> records = [] {
        std::vector<char> v(static_cast<std::size_t>(settings().records) * kRecordLength);
        Random rng{20240315};
        for (std::size_t i = 0; i < v.size(); i += kRecordLength) make_record(&v[i], rng);
        return v;
    }();
    return records;
}

const std::string& sample_table() {
    static const std::string path = build_sample_table();
    return path;
}

const char* name_key(int32_t n) {
    return sample_records().data() + static_cast<std::size_t>(n - 1) * kRecordLength + kNameAt;
}

std::vector<uint32_t> shuffled_records(uint64_t seed) {
    std::vector<uint32_t> v(static_cast<std::size_t>(record_count()));
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<uint32_t>(i + 1);
    Random rng{seed};
    for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[rng.next() % i]);
    return v;
}

// ---- outcomes -------------------------------------------------------------------

namespace {

std::vector<Outcome>& outcomes() {
    static std::vector<Outcome> all;
    return all;
}

// 1234567 -> "1.23 M", 4321 -> "4.32 k".
std::string scaled(double v) {
    char text[32];
    if (v >= 1e6) std::snprintf(text, sizeof text, "%.2f M", v / 1e6);
    else if (v >= 1e3) std::snprintf(text, sizeof text, "%.1f k", v / 1e3);
    else std::snprintf(text, sizeof text, "%.0f", v);
    return text;
}

}  // namespace

bool Outcome::met() const {
    if (target.min_rate && rate() < target.min_rate) return false;
    if (target.max_ratio && ratio() > target.max_ratio) return false;
    if (target.max_seconds && library_s > target.max_seconds) return false;
    return true;
}

void report(benchmark::State& state, const Outcome& o) {
    state.SetIterationTime(o.library_s);
    state.counters["items/s"] = o.rate();
    state.counters["baseline_ms"] = o.baseline_s * 1e3;
    state.counters["x_baseline"] = o.ratio();
    state.SetLabel(o.baseline);
    auto& all = outcomes();
    const auto same = std::ranges::find(all, o.scenario, &Outcome::scenario);
    if (same != all.end()) *same = o;
    else all.push_back(o);
}

void print_summary() {
    std::printf("\n%-30s %9s %10s %11s %11s %8s  %-28s %s\n", "scenario", "items", "library",
                "items/s", "baseline", "x base", "target", "met");
    for (const Outcome& o : outcomes()) {
        std::printf("%-30s %9lld %8.1f ms %11s %8.1f ms %8.2f  %-28s %s\n", o.scenario.c_str(),
                    static_cast<long long>(o.items), o.library_s * 1e3, scaled(o.rate()).c_str(),
                    o.baseline_s * 1e3, o.ratio(), o.target.text,
                    o.has_target() ? (o.met() ? "yes" : "NO") : "-");
    }
    std::printf("\nbaselines:\n");
    for (const Outcome& o : outcomes()) std::printf("  %-28s %s\n", o.scenario.c_str(), o.baseline.c_str());
}

}  // namespace bench
