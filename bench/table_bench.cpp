// Table scenarios: buffered append, sequential scan with four typed field reads per
// record, and random record reads; each against raw write/read/pread of the same
// bytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fixture.hpp"

namespace bench {
namespace {

constexpr int32_t kDialect = 1;
constexpr int kHeaderLength = 32 + 6 * 32 + 1;  // what the library writes for six fields

int32_t open_table(const std::string& path, int32_t mode, int32_t cache_records) {
    int32_t h = -1;
    require(DBOpenFile(&h, path.c_str(), mode), "DBOpenFile");
    require(DBGetSetCacheSize(h, &cache_records, DB_CACHE_SET), "DBGetSetCacheSize");
    return h;
}

char* record_buffer(int32_t h) {
    DBRecordInfo info{};
    require(DBGetRecordInfo(h, &info), "DBGetRecordInfo");
    return info.buffer;
}

// ---- append ----------------------------------------------------------------------

double library_append() {
    const std::string path = scratch("APPEND.DBF");
    DBFieldSpec fields[] = {{"NAME", 'C', 40, 0},  {"AMOUNT", 'N', 12, 2}, {"BORN", 'D', 8, 0},
                            {"ACTIVE", 'L', 1, 0}, {"CITY", 'C', 30, 0},   {"QTY", 'N', 10, 0}};
    require(DBCreateFile(path.c_str(), 6, fields, kDialect), "DBCreateFile");
    const Stopwatch clock;
    const int32_t h = open_table(path, kDialect, kBlockRecords);
    char* buffer = record_buffer(h);
    const char* r = sample_records().data();
    for (int32_t n = 0; n < record_count(); ++n, r += kRecordLength) {
        std::memcpy(buffer, r, kRecordLength);
        int32_t number = 0;
        require(DBPutRecord(h, &number, DB_PUT_APPEND), "DBPutRecord");
    }
    require(DBCloseFile(h), "DBCloseFile");
    const double s = clock.seconds();
    remove_file(path);
    return s;
}

// The header, the records in 64 KiB blocks, the end mark.
double raw_append() {
    const std::string path = scratch("RAW.DBF");
    const Stopwatch clock;
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    require_os(fd >= 0, "open");
    char header[kHeaderLength] = {};
    require_os(::write(fd, header, sizeof header) == sizeof header, "write");
    const std::vector<char>& all = sample_records();
    for (std::size_t at = 0; at < all.size(); at += kRawBlock) {
        const std::size_t n = std::min<std::size_t>(kRawBlock, all.size() - at);
        require_os(::write(fd, all.data() + at, n) == static_cast<ssize_t>(n), "write");
    }
    require_os(::write(fd, "\x1A", 1) == 1, "write");
    require_os(::close(fd) == 0, "close");
    const double s = clock.seconds();
    remove_file(path);
    return s;
}

void BM_Append(benchmark::State& state) {
    for (auto _ : state) {
        sample_records();
        Outcome o{"append (buffered)", record_count(), 0, 0,
                  "write() of the same bytes in 64 KiB blocks", {">= 2,000,000 records/s", 2e6}};
        best_of(o, library_append, raw_append);
        report(state, o);
    }
}

// ---- scan --------------------------------------------------------------------------

// What a scan adds up, so that nothing is optimised away and both sides can be
// compared: name bytes, amount in cents, date text bytes, logical values.
struct ScanSum {
    uint64_t name = 0, cents = 0, date = 0, logical = 0;
    bool operator==(const ScanSum&) const = default;
};

// Adds n bytes (a multiple of 8 or less than 8 past one) as little words: cheap, so
// that the sum costs both sides little.
void add_bytes(uint64_t& sum, const char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, std::min<std::size_t>(8, n - i));
        sum += word;
    }
}

void add_fields(ScanSum& sum, const char* name, double amount, const char* date, char logical) {
    add_bytes(sum.name, name, kNameWidth);
    sum.cents += static_cast<uint64_t>(static_cast<int64_t>(amount * 100 + (amount < 0 ? -0.5 : 0.5)));
    add_bytes(sum.date, date, DB_DATE_TEXT_LEN - 1);
    sum.logical += static_cast<unsigned char>(logical);
}

ScanSum library_sum;
ScanSum raw_sum;

double library_scan() {
    const Stopwatch clock;
    const int32_t h = open_table(sample_table(), kDialect | DB_OPEN_READONLY, kBlockRecords);
    ScanSum sum;
    char name[kNameWidth + 1];
    char date[DB_DATE_TEXT_LEN];
    for (int32_t n = 1; n <= record_count(); ++n) {
        require(DBGetRecord(h, n), "DBGetRecord");
        double amount = 0;
        char logical = 0;
        require(DBGetFieldData(h, 0, name), "DBGetFieldData NAME");
        require(DBGetFieldData(h, 1, &amount), "DBGetFieldData AMOUNT");
        require(DBGetFieldData(h, 2, date), "DBGetFieldData BORN");
        require(DBGetFieldData(h, 3, &logical), "DBGetFieldData ACTIVE");
        add_fields(sum, name, amount, date, logical);
    }
    require(DBCloseFile(h), "DBCloseFile");
    library_sum = sum;
    return clock.seconds();
}

// The same four values parsed by hand: text copied, number through strtod, the
// date reformatted dd.mm.yyyy, the logical byte mapped.
void parse_record(ScanSum& sum, const char* r) {
    char name[kNameWidth + 1];
    std::memcpy(name, r + kNameAt, kNameWidth);
    name[kNameWidth] = '\0';
    char number[kAmountWidth + 1];
    std::memcpy(number, r + kAmountAt, kAmountWidth);
    number[kAmountWidth] = '\0';
    const double amount = std::strtod(number, nullptr);
    const char* d = r + kBornAt;
    const char date[DB_DATE_TEXT_LEN] = {d[6], d[7], '.', d[4], d[5], '.', d[0], d[1], d[2], d[3], '\0'};
    const char c = r[kActiveAt];
    const char logical = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 1 : 0;
    add_fields(sum, name, amount, date, logical);
}

double raw_scan() {
    const Stopwatch clock;
    const int fd = ::open(sample_table().c_str(), O_RDONLY);
    require_os(fd >= 0, "open");
    std::vector<char> block(kRawBlock);
    ScanSum sum;
    int64_t left = record_count();
    off_t at = table_header_length(sample_table());
    while (left > 0) {
        const int64_t n = std::min<int64_t>(left, kBlockRecords);
        const ssize_t want = static_cast<ssize_t>(n * kRecordLength);
        require_os(::pread(fd, block.data(), want, at) == want, "pread");
        for (int64_t i = 0; i < n; ++i) parse_record(sum, block.data() + i * kRecordLength);
        at += want;
        left -= n;
    }
    ::close(fd);
    raw_sum = sum;
    return clock.seconds();
}

void BM_Scan(benchmark::State& state) {
    for (auto _ : state) {
        sample_table();
        Outcome o{"scan, 4 typed fields", record_count(), 0, 0,
                  "read() in 64 KiB blocks, hand parse (strtod, date digits)",
                  {">= 5,000,000 rec/s, <= 3x raw", 5e6, 3.0}};
        best_of(o, library_scan, raw_scan);
        if (!(library_sum == raw_sum)) require(-1, "scan results differ from the raw parse");
        report(state, o);
    }
}

// ---- random reads ----------------------------------------------------------------

double library_random_reads(const std::vector<uint32_t>& order) {
    const Stopwatch clock;
    // One record per cache fill: a random read wants no neighbours.
    const int32_t h = open_table(sample_table(), kDialect | DB_OPEN_READONLY, 1);
    const char* buffer = record_buffer(h);
    uint64_t sum = 0;
    for (uint32_t n : order) {
        require(DBGetRecord(h, static_cast<int32_t>(n)), "DBGetRecord");
        sum += static_cast<unsigned char>(buffer[kQtyAt + kQtyWidth - 1]);
    }
    require(DBCloseFile(h), "DBCloseFile");
    benchmark::DoNotOptimize(sum);
    return clock.seconds();
}

double raw_random_reads(const std::vector<uint32_t>& order) {
    const Stopwatch clock;
    const int fd = ::open(sample_table().c_str(), O_RDONLY);
    require_os(fd >= 0, "open");
    char record[kRecordLength];
    uint64_t sum = 0;
    const off_t first = table_header_length(sample_table());
    for (uint32_t n : order) {
        const off_t at = first + static_cast<off_t>(n - 1) * kRecordLength;
        require_os(::pread(fd, record, kRecordLength, at) == kRecordLength, "pread");
        sum += static_cast<unsigned char>(record[kQtyAt + kQtyWidth - 1]);
    }
    ::close(fd);
    benchmark::DoNotOptimize(sum);
    return clock.seconds();
}

void BM_RandomReads(benchmark::State& state) {
    for (auto _ : state) {
        sample_table();
        const std::vector<uint32_t> order = shuffled_records(7);
        Outcome o{"random record reads", record_count(), 0, 0, "pread() of each record", {}};
        best_of(o, [&] { return library_random_reads(order); }, [&] { return raw_random_reads(order); });
        report(state, o);
    }
}

}  // namespace

BENCHMARK(BM_Append)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RandomReads)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace bench
