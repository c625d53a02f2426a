// xbdb_bench [--records=N] [--repeats=N] [--dir=PATH] [Google Benchmark options]
//
// Runs every scenario on N sample records (1,000,000 by default) in a scratch
// directory (a new one under $TMPDIR or /tmp unless --dir names one), then prints
// the summary table: library time, rate, the baseline's time and the ratio, and
// whether the scenario's target is met.
#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fixture.hpp"

namespace {

bool take_option(std::string_view arg, std::string_view name, std::string& value) {
    if (!arg.starts_with(name)) return false;
    value = std::string(arg.substr(name.size()));
    return true;
}

// Removes the library's own options from argv, leaving Google Benchmark's.
std::vector<char*> parse_options(int argc, char** argv, bool& own_directory) {
    std::vector<char*> rest{argv[0]};
    own_directory = true;
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (take_option(argv[i], "--records=", value)) bench::settings().records = std::atoll(value.c_str());
        else if (take_option(argv[i], "--repeats=", value)) bench::settings().repeats = std::atoi(value.c_str());
        else if (take_option(argv[i], "--dir=", value)) {
            bench::settings().directory = value;
            own_directory = false;
        } else rest.push_back(argv[i]);
    }
    if (bench::settings().records < 1000) bench::settings().records = 1000;
    if (bench::settings().repeats < 1) bench::settings().repeats = 1;
    return rest;
}

std::string make_scratch_directory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/xbdb-bench-XXXXXX";
    bench::require_os(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
    return pattern;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

}  // namespace

int main(int argc, char** argv) {
    bool own_directory = true;
    std::vector<char*> rest = parse_options(argc, argv, own_directory);
    if (own_directory) bench::settings().directory = make_scratch_directory();
    int rest_count = static_cast<int>(rest.size());
    benchmark::Initialize(&rest_count, rest.data());
    bench::require(DBInitialize(40, bench::kDateStyle), "DBInitialize");
    std::printf("xbdb_bench: %lld records, best of %d, in %s\n",
                static_cast<long long>(bench::settings().records), bench::settings().repeats,
                bench::settings().directory.c_str());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    DBTerminate();
    bench::print_summary();
    if (own_directory) ::nftw(bench::settings().directory.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
