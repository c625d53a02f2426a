// Index updates and seeks: every record's 20-byte name key added in random order
// to an empty NTX file with DBclAddKey, then searched for in another random order
// with DBclKeySearch; against an in-memory std::multimap doing the same inserts and
// finds.
#include <array>
#include <cstring>
#include <map>

#include "fixture.hpp"

namespace bench {
namespace {

constexpr const char* kIndexFile = "INSERTED.NTX";
// As many page buffers as the cache takes (its count is a 16-bit number).
constexpr int32_t kCacheBuffers = 32767;

using Key = std::array<char, kKeyWidth>;
struct KeyLess {
    bool operator()(const Key& a, const Key& b) const { return std::memcmp(a.data(), b.data(), kKeyWidth) < 0; }
};
using Model = std::multimap<Key, uint32_t, KeyLess>;

Key key_of(uint32_t n) {
    Key k;
    std::memcpy(k.data(), name_key(static_cast<int32_t>(n)), kKeyWidth);
    return k;
}

// The keys of order as NUL-terminated texts, kKeyWidth + 1 bytes apart.
std::vector<char> key_texts(const std::vector<uint32_t>& order) {
    std::vector<char> texts(order.size() * (kKeyWidth + 1), '\0');
    for (std::size_t i = 0; i < order.size(); ++i)
        std::memcpy(&texts[i * (kKeyWidth + 1)], name_key(static_cast<int32_t>(order[i])), kKeyWidth);
    return texts;
}

int32_t open_index(const std::string& path) {
    int32_t x = -1;
    require(DBclOpenIndex(&x, path.c_str(), 0), "DBclOpenIndex");
    int32_t buffers = kCacheBuffers;
    require(DBclGetSetCacheSize(x, &buffers, DB_CACHE_SET), "DBclGetSetCacheSize");
    return x;
}

double library_inserts(const std::vector<uint32_t>& order, const std::vector<char>& texts) {
    const std::string path = scratch(kIndexFile);
    remove_file(path);
    char expression[] = "LEFT(NAME,20)";
    require(DBclCreateIndex(path.c_str(), 'C', expression, kKeyWidth, 0), "DBclCreateIndex");
    const Stopwatch clock;
    const int32_t x = open_index(path);
    for (std::size_t i = 0; i < order.size(); ++i)
        require(DBclAddKey(x, &texts[i * (kKeyWidth + 1)], order[i]), "DBclAddKey");
    require(DBclCloseIndex(x), "DBclCloseIndex");
    return clock.seconds();
}

double model_inserts(const std::vector<uint32_t>& order, Model& model) {
    model.clear();
    const Stopwatch clock;
    for (uint32_t n : order) model.emplace(key_of(n), n);
    return clock.seconds();
}

Model& model() {
    static Model m;
    return m;
}

void BM_Inserts(benchmark::State& state) {
    for (auto _ : state) {
        const std::vector<uint32_t> order = shuffled_records(11);
        const std::vector<char> texts = key_texts(order);
        Outcome o{"DBclAddKey, random order", record_count(), 0, 0,
                  "std::multimap inserts in the same order", {"<= 1.5 s for 1,000,000", 0, 0, 1.5}};
        o.target.max_seconds = 1.5 * static_cast<double>(record_count()) / 1e6;
        best_of(o, [&] { return library_inserts(order, texts); }, [&] { return model_inserts(order, model()); });
        report(state, o);
    }
}

// ---- seeks -------------------------------------------------------------------------

double library_seeks(const std::vector<uint32_t>& order, const std::vector<char>& texts) {
    const Stopwatch clock;
    const int32_t x = open_index(scratch(kIndexFile));
    char key[DB_MAX_KEY_LEN + 1];
    int64_t other_record = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::memcpy(key, &texts[i * (kKeyWidth + 1)], kKeyWidth + 1);
        uint32_t recno = 0;
        const int32_t code = DBclKeySearch(x, key, &recno, DB_SEARCH_KEY);
        if (code != 0) require(code < 0 ? code : -1, "DBclKeySearch finds every key");
        other_record += recno != order[i];
    }
    require(DBclCloseIndex(x), "DBclCloseIndex");
    benchmark::DoNotOptimize(other_record);
    return clock.seconds();
}

double model_seeks(const std::vector<uint32_t>& order, const Model& m) {
    const Stopwatch clock;
    int64_t other_record = 0;
    for (uint32_t n : order) {
        const auto found = m.find(key_of(n));
        if (found == m.end()) require(-1, "multimap finds every key");
        other_record += found->second != n;
    }
    benchmark::DoNotOptimize(other_record);
    return clock.seconds();
}

void BM_Seeks(benchmark::State& state) {
    for (auto _ : state) {
        if (model().size() != static_cast<std::size_t>(record_count())) {
            const std::vector<uint32_t> order = shuffled_records(11);
            library_inserts(order, key_texts(order));
            model_inserts(order, model());
        }
        const std::vector<uint32_t> order = shuffled_records(13);
        const std::vector<char> texts = key_texts(order);
        Outcome o{"DBclKeySearch, random keys", record_count(), 0, 0,
                  "std::multimap::find of the same keys", {">= 500,000 seeks/s", 5e5}};
        best_of(o, [&] { return library_seeks(order, texts); }, [&] { return model_seeks(order, model()); });
        report(state, o);
    }
}

}  // namespace

BENCHMARK(BM_Inserts)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seeks)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace bench
