// Memo files: 1 KiB texts appended to a DBT file (512-byte blocks) and to an FPT
// file (64-byte blocks), then read back in random order; against pwrite/pread of
// the same texts at the same block-aligned offsets.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "fixture.hpp"

namespace bench {
namespace {

constexpr int kTextLength = 1024;
constexpr int32_t kFptBlock = 64;
constexpr int32_t kDbtBlock = 512;

int32_t text_count() { return std::max<int32_t>(record_count() / 50, 1000); }

// text_count() texts of kTextLength letters and a NUL, each a little different.
const std::vector<char>& texts() {
    static const std::vector<char> all = [] {
        std::vector<char> v(static_cast<std::size_t>(text_count()) * (kTextLength + 1), '\0');
        Random rng{99};
        for (std::size_t i = 0; i < v.size(); i += kTextLength + 1)
            for (int j = 0; j < kTextLength; ++j) v[i + j] = static_cast<char>(j % 64 == 63 ? ' ' : 'a' + rng.below(26));
        return v;
    }();
    return all;
}
const char* text(int32_t i) { return texts().data() + static_cast<std::size_t>(i) * (kTextLength + 1); }

std::vector<int32_t> read_order() {
    std::vector<int32_t> v(static_cast<std::size_t>(text_count()));
    for (int32_t i = 0; i < text_count(); ++i) v[static_cast<std::size_t>(i)] = i;
    Random rng{5};
    for (std::size_t i = v.size(); i > 1; --i) std::swap(v[i - 1], v[rng.next() % i]);
    return v;
}

// The family's calls, so that one pair of loops serves DBT and FPT.
struct MemoFamily {
    const char* file;
    int32_t block_size;
    int32_t stored_length;  // bytes a text takes before block rounding
    void (*create)(const char* path);
    int32_t (*open)(const char* path);
    int32_t (*put)(int32_t h, int32_t i);          // returns the block
    void (*get)(int32_t h, int32_t block, char* out);
    int32_t (*close)(int32_t h);
};

const MemoFamily kDbt{
    "TEXTS.DBT", kDbtBlock, kTextLength + 2,
    [](const char* path) { require(DBxbCreateMemo(path, 1, 1), "DBxbCreateMemo"); },
    [](const char* path) {
        int32_t h = -1;
        require(DBxbOpenMemo(&h, path, 1), "DBxbOpenMemo");
        return h;
    },
    [](int32_t h, int32_t i) {
        int32_t block = 0;
        require(DBxbPutMemoRecord(h, &block, text(i), 0), "DBxbPutMemoRecord");
        return block;
    },
    [](int32_t h, int32_t block, char* out) {
        char* got = nullptr;
        require(DBxbGetMemoRecord(h, block, &got, 0), "DBxbGetMemoRecord");
        if (std::strlen(got) != kTextLength) require(-1, "DBT text length");
        std::memcpy(out, got, kTextLength);
        DBFreeMemory(got, __FILE__, __LINE__);
    },
    DBxbCloseMemo};

const MemoFamily kFpt{
    "TEXTS.FPT", kFptBlock, kTextLength + 8,
    [](const char* path) { require(DBfpCreateMemo(path, kFptBlock), "DBfpCreateMemo"); },
    [](const char* path) {
        int32_t h = -1;
        require(DBfpOpenMemo(&h, path, 0), "DBfpOpenMemo");
        return h;
    },
    [](int32_t h, int32_t i) {
        int32_t block = 0;
        require(DBfpPutMemoRecord(h, &block, text(i), kTextLength, kTextLength, 0), "DBfpPutMemoRecord");
        return block;
    },
    [](int32_t h, int32_t block, char* out) {
        require(DBfpGetMemoToBuffer(h, block, out, kTextLength, 0), "DBfpGetMemoToBuffer");
    },
    DBfpCloseMemo};

// The block of each text, per family, from the last library_puts.
std::vector<int32_t>& blocks_of(const MemoFamily& f) {
    static std::vector<int32_t> dbt, fpt;
    return &f == &kDbt ? dbt : fpt;
}

double library_puts(const MemoFamily& f) {
    const std::string path = scratch(f.file);
    remove_file(path);
    f.create(path.c_str());
    std::vector<int32_t>& blocks = blocks_of(f);
    blocks.assign(static_cast<std::size_t>(text_count()), 0);
    const Stopwatch clock;
    const int32_t h = f.open(path.c_str());
    for (int32_t i = 0; i < text_count(); ++i) blocks[static_cast<std::size_t>(i)] = f.put(h, i);
    require(f.close(h), "close memo");
    return clock.seconds();
}

double library_gets(const MemoFamily& f, const std::vector<int32_t>& order) {
    char out[kTextLength + 1];
    bool same = true;
    const Stopwatch clock;
    const int32_t h = f.open(scratch(f.file).c_str());
    for (int32_t i : order) {
        f.get(h, blocks_of(f)[static_cast<std::size_t>(i)], out);
        same = same && std::memcmp(out, text(i), kTextLength) == 0;
    }
    require(f.close(h), "close memo");
    const double s = clock.seconds();
    if (!same) require(-1, "memo texts read back as written");
    return s;
}

// The texts at the blocks a memo file of this block size gives them.
off_t raw_offset(const MemoFamily& f, int32_t i) {
    const int64_t blocks = (f.stored_length + f.block_size - 1) / f.block_size;
    return static_cast<off_t>((1 + i * blocks) * f.block_size);
}

double raw_puts(const MemoFamily& f) {
    const std::string path = scratch(std::string("RAW_") + f.file);
    const Stopwatch clock;
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_RDWR, 0644);
    require_os(fd >= 0, "open");
    for (int32_t i = 0; i < text_count(); ++i)
        require_os(::pwrite(fd, text(i), kTextLength, raw_offset(f, i)) == kTextLength, "pwrite");
    ::close(fd);
    return clock.seconds();
}

double raw_gets(const MemoFamily& f, const std::vector<int32_t>& order) {
    const std::string path = scratch(std::string("RAW_") + f.file);
    char out[kTextLength];
    uint64_t sum = 0;
    const Stopwatch clock;
    const int fd = ::open(path.c_str(), O_RDONLY);
    require_os(fd >= 0, "open");
    for (int32_t i : order) {
        require_os(::pread(fd, out, kTextLength, raw_offset(f, i)) == kTextLength, "pread");
        sum += static_cast<unsigned char>(out[i % kTextLength]);
    }
    ::close(fd);
    benchmark::DoNotOptimize(sum);
    return clock.seconds();
}

void run_memo(benchmark::State& state, const MemoFamily& f, bool puts, const char* scenario) {
    texts();
    Outcome o{scenario, text_count(), 0, 0, puts ? "pwrite() of each text at its block" : "pread() of each text at its block", {}};
    if (puts) {
        best_of(o, [&] { return library_puts(f); }, [&] { return raw_puts(f); });
    } else {
        if (blocks_of(f).size() != static_cast<std::size_t>(text_count())) library_puts(f);
        raw_puts(f);
        const std::vector<int32_t> order = read_order();
        best_of(o, [&] { return library_gets(f, order); }, [&] { return raw_gets(f, order); });
    }
    report(state, o);
}

void BM_DbtPut(benchmark::State& state) {
    for (auto _ : state) run_memo(state, kDbt, true, "DBT put, 1 KiB texts");
}
void BM_DbtGet(benchmark::State& state) {
    for (auto _ : state) run_memo(state, kDbt, false, "DBT get, 1 KiB texts");
}
void BM_FptPut(benchmark::State& state) {
    for (auto _ : state) run_memo(state, kFpt, true, "FPT put, 1 KiB texts");
}
void BM_FptGet(benchmark::State& state) {
    for (auto _ : state) run_memo(state, kFpt, false, "FPT get, 1 KiB texts");
}

}  // namespace

BENCHMARK(BM_DbtPut)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DbtGet)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FptPut)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FptGet)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace bench
