// Shared updates: a table opened shared, records rewritten under record locks
// (lock, read, change the QTY field, write, unlock) by one process and by two at
// once, each on its own records; against a bare loop of fcntl lock + pread + pwrite
// + unlock on the same file, records and changes.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "fixture.hpp"

namespace bench {
namespace {

constexpr const char* kSharedFile = "SHARED.DBF";
// The baseline's lock bytes: one per record, far beyond the data.
constexpr off_t kBareLockBase = 1000000000;

int32_t updates_per_process() { return std::max<int32_t>(record_count() / 10, 1000); }

void copy_file(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY);
    const int out = ::open(to.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    require_os(in >= 0 && out >= 0, "open");
    std::vector<char> block(1 << 20);
    for (ssize_t n; (n = ::read(in, block.data(), block.size())) > 0;)
        require_os(::write(out, block.data(), static_cast<std::size_t>(n)) == n, "write");
    ::close(in);
    ::close(out);
}

// The records process p of processes rewrites: random ones of its own residue class.
std::vector<int32_t> records_for(int p, int processes) {
    std::vector<int32_t> v(static_cast<std::size_t>(updates_per_process()));
    Random rng{1000 + static_cast<uint64_t>(p)};
    const uint32_t classes = static_cast<uint32_t>(record_count() / processes);
    for (int32_t& n : v) n = static_cast<int32_t>(rng.below(classes)) * processes + p + 1;
    return v;
}

// Writes i as ten right-aligned digits.
void put_counter(char* field, uint32_t i) {
    std::memset(field, ' ', kQtyWidth);
    for (int at = kQtyWidth - 1; at >= 0; --at, i /= 10) {
        field[at] = static_cast<char>('0' + i % 10);
        if (i < 10) break;
    }
}

void library_updates(const std::vector<int32_t>& records, int ready, int go) {
    int32_t h = -1;
    require(DBOpenFile(&h, scratch(kSharedFile).c_str(), 1 | DB_OPEN_SHARED), "DBOpenFile shared");
    DBRecordInfo info{};
    require(DBGetRecordInfo(h, &info), "DBGetRecordInfo");
    char c = 'r';
    require_os(::write(ready, &c, 1) == 1 && ::read(go, &c, 1) == 1, "barrier");
    uint32_t i = 0;
    for (int32_t n : records) {
        require(DBLockRecord(h, n), "DBLockRecord");
        require(DBGetRecord(h, n), "DBGetRecord");
        put_counter(info.buffer + kQtyAt, ++i);
        require(DBPutRecord(h, &n, DB_PUT_UPDATE), "DBPutRecord update");
        require(DBUnLockRecord(h, n), "DBUnLockRecord");
    }
    require(DBCloseFile(h), "DBCloseFile");
}

int lock_byte(int fd, short type, int32_t n) {
    struct flock fl{};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kBareLockBase + n;
    fl.l_len = 1;
    return ::fcntl(fd, F_SETLKW, &fl);
}

void bare_updates(const std::vector<int32_t>& records, int ready, int go) {
    const int fd = ::open(scratch(kSharedFile).c_str(), O_RDWR);
    require_os(fd >= 0, "open");
    const off_t first = table_header_length(scratch(kSharedFile));
    char c = 'r';
    require_os(::write(ready, &c, 1) == 1 && ::read(go, &c, 1) == 1, "barrier");
    char record[kRecordLength];
    uint32_t i = 0;
    for (int32_t n : records) {
        const off_t at = first + static_cast<off_t>(n - 1) * kRecordLength;
        require_os(lock_byte(fd, F_WRLCK, n) == 0, "fcntl lock");
        require_os(::pread(fd, record, kRecordLength, at) == kRecordLength, "pread");
        put_counter(record + kQtyAt, ++i);
        require_os(::pwrite(fd, record, kRecordLength, at) == kRecordLength, "pwrite");
        require_os(lock_byte(fd, F_UNLCK, n) == 0, "fcntl unlock");
    }
    ::close(fd);
}

// Forks processes workers, each opening the file and waiting until all are ready;
// the time runs from the start signal until the last one has finished.
template <class Work>
double run_processes(int processes, Work work) {
    int ready[2], go[2];
    require_os(::pipe(ready) == 0 && ::pipe(go) == 0, "pipe");
    std::vector<std::vector<int32_t>> records;
    for (int p = 0; p < processes; ++p) records.push_back(records_for(p, processes));
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = ::fork();
        require_os(pid >= 0, "fork");
        if (pid == 0) {
            work(records[static_cast<std::size_t>(p)], ready[1], go[0]);
            ::_exit(0);
        }
        children.push_back(pid);
    }
    char c;
    for (int p = 0; p < processes; ++p) require_os(::read(ready[0], &c, 1) == 1, "ready");
    const Stopwatch clock;
    for (int p = 0; p < processes; ++p) require_os(::write(go[1], "g", 1) == 1, "go");
    bool all_done = true;
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        all_done = all_done && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    const double s = clock.seconds();
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
    if (!all_done) require(-1, "every updating process succeeds");
    return s;
}

void run_shared(benchmark::State& state, int processes, const char* scenario) {
    copy_file(sample_table(), scratch(kSharedFile));
    Outcome o{scenario, static_cast<int64_t>(updates_per_process()) * processes, 0, 0,
              "fcntl lock + pread + pwrite + unlock, same records", {">= 80% of the bare loop", 0, 1.25}};
    best_of(o, [&] { return run_processes(processes, library_updates); },
            [&] { return run_processes(processes, bare_updates); });
    report(state, o);
}

void BM_SharedUpdatesOneProcess(benchmark::State& state) {
    for (auto _ : state) run_shared(state, 1, "shared updates, 1 process");
}

void BM_SharedUpdatesTwoProcesses(benchmark::State& state) {
    for (auto _ : state) run_shared(state, 2, "shared updates, 2 processes");
}

}  // namespace

BENCHMARK(BM_SharedUpdatesOneProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SharedUpdatesTwoProcesses)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace bench
