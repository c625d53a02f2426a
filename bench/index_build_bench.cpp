// Index builds: DBclBuildIndex over the sample table on a 20-byte character key, a
// numeric key and a date key, each against std::sort of the same keys (the keys
// read back from the built index, in record order, with their record numbers).
#include <algorithm>
#include <cstring>

#include "fixture.hpp"

namespace bench {
namespace {

struct KeySpec {
    const char* scenario;
    const char* expression;
    int32_t type;
    int32_t length;
    int32_t decimals;
    const char* file;
};

constexpr KeySpec kCharacterKey{"build, C 20 key", "LEFT(NAME,20)", 'C', 20, 0, "NAME.NTX"};
constexpr KeySpec kNumericKey{"build, N 12.2 key", "AMOUNT", 'N', 12, 2, "AMOUNT.NTX"};
constexpr KeySpec kDateKey{"build, D key", "BORN", 'D', 8, 0, "BORN.NTX"};

// A key of W bytes and its record number, ordered as the index orders them.
template <int W>
struct Item {
    char key[W];
    uint32_t recno;
    bool operator<(const Item& o) const {
        const int c = std::memcmp(key, o.key, W);
        return c < 0 || (c == 0 && recno < o.recno);
    }
};

double library_build(const KeySpec& k) {
    const std::string path = scratch(k.file);
    remove_file(path);
    int32_t table = -1;
    require(DBOpenFile(&table, sample_table().c_str(), 1 | DB_OPEN_READONLY), "DBOpenFile");
    char expression[64];
    std::strcpy(expression, k.expression);
    const Stopwatch clock;
    require(DBclBuildIndex(table, path.c_str(), k.type, expression, k.length, k.decimals), "DBclBuildIndex");
    const double s = clock.seconds();
    require(DBCloseFile(table), "DBCloseFile");
    return s;
}

// The built index's keys: in index order (walked from the first key) and in record
// order (for the baseline to sort).
template <int W>
void read_back(const KeySpec& k, std::vector<Item<W>>& in_index, std::vector<Item<W>>& in_records) {
    int32_t x = -1;
    require(DBclOpenIndex(&x, scratch(k.file).c_str(), 0 | DB_OPEN_READONLY), "DBclOpenIndex");
    in_records.assign(static_cast<std::size_t>(record_count()), Item<W>{});
    in_index.clear();
    char key[DB_MAX_KEY_LEN + 1];
    uint32_t recno = 0;
    for (int32_t code = DBclGoFirstKey(x, key, &recno); code == 0; code = DBclGoNextKey(x, key, &recno)) {
        Item<W> item{};
        std::memcpy(item.key, key, W);
        item.recno = recno;
        in_index.push_back(item);
        if (recno >= 1 && recno <= in_records.size()) in_records[recno - 1] = item;
    }
    require(DBclCloseIndex(x), "DBclCloseIndex");
    if (in_index.size() != in_records.size()) require(-1, "index holds a key per record");
}

template <int W>
void run_build(benchmark::State& state, const KeySpec& k) {
    sample_table();
    Outcome o{k.scenario, record_count(), 0, 0, "std::sort of the same keys and record numbers",
              {"<= 2x std::sort", 0, 2.0}};
    std::vector<Item<W>> in_index, in_records;
    library_build(k);
    read_back<W>(k, in_index, in_records);
    bool same = true;
    auto sort_once = [&] {
        std::vector<Item<W>> keys = in_records;
        const Stopwatch clock;
        std::sort(keys.begin(), keys.end());
        const double s = clock.seconds();
        same = same && std::ranges::equal(keys, in_index, [](const Item<W>& a, const Item<W>& b) {
                   return std::memcmp(a.key, b.key, W) == 0;
               });
        return s;
    };
    best_of(o, [&] { return library_build(k); }, sort_once);
    if (!same) require(-1, "index order differs from the sorted keys");
    report(state, o);
}

void BM_BuildCharacter(benchmark::State& state) {
    for (auto _ : state) run_build<20>(state, kCharacterKey);
}
void BM_BuildNumeric(benchmark::State& state) {
    for (auto _ : state) run_build<12>(state, kNumericKey);
}
void BM_BuildDate(benchmark::State& state) {
    for (auto _ : state) run_build<8>(state, kDateKey);
}

}  // namespace

BENCHMARK(BM_BuildCharacter)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildNumeric)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildDate)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace bench
