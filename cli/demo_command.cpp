// xbdb demo [DIR]: writes a realistic sample table of customers with dates,
// amounts and memo notes, indexes it, and times the usual work on it: build,
// seek, walk, update with index upkeep, delete, pack and check.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "index_file.hpp"
#include "ntx/checker.hpp"
#include "table_files.hpp"
#include "table_pack.hpp"

namespace xbdb::cli {

namespace {

constexpr const char* kFooter = R"TXT(Examples:
  xbdb demo                      # into ./xbdb-demo
  xbdb demo /tmp/xbdb-demo --records 20000)TXT";

constexpr const char* kFirstNames[] = {"Anna", "Bernd", "Carla", "David", "Elena", "Frank", "Greta", "Hugo",
                                       "Ines", "Jonas", "Karin", "Lukas", "Maria", "Nils", "Olga", "Paul",
                                       "Rita", "Stefan", "Tanja", "Uwe", "Vera", "Walter", "Yvonne", "Zoe"};
constexpr const char* kLastNames[] = {"Smith", "Miller", "Schmidt", "Fischer", "Weber", "Meyer", "Wagner",
                                      "Becker", "Schulz", "Hoffmann", "Koch", "Richter", "Klein", "Wolf",
                                      "Neumann", "Schwarz", "Zimmermann", "Braun", "Hartmann", "Lange",
                                      "Werner", "Krause", "Lehmann", "Schmitt", "Walker", "Young", "Baker"};
constexpr const char* kCities[] = {"Berlin", "Hamburg", "Munich", "Cologne", "Frankfurt", "Stuttgart",
                                   "Leipzig", "Dresden", "Bremen", "Hanover", "Nuremberg", "Vienna", "Zurich"};
constexpr const char* kNotes[] = {
    "Prefers contact by e-mail. Invoices go to the head office.",
    "Asked for a quote on the annual maintenance contract; call back in spring.",
    "Long-standing customer. Pays within ten days; offer the early-payment discount.",
    "Moved to a new address last year; check the delivery details before shipping.",
    "Complained about a late delivery in March, resolved with a voucher.",
};

using Clock = std::chrono::steady_clock;

class Stopwatch {
public:
    double seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

private:
    Clock::time_point start_ = Clock::now();
};

struct DemoOptions {
    std::string dir = "xbdb-demo";
    int32_t records = 100000;
};

struct Files {
    std::string table, memo, names, since;
};

template <class T, std::size_t N>
const T& pick(std::mt19937& random, const T (&items)[N]) {
    return items[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

void put(int32_t table, const char* name, void* value, const std::string& path) {
    check(DBPutNamedData(table, name, value), path, fmt::format("cannot set field {}", name));
}

// One customer into the record buffer (and its note into the memo file).
void make_customer(int32_t table, int32_t memo, int32_t id, std::mt19937& random, const Files& f) {
    check(DBClearBuffer(table), f.table, "cannot clear the record buffer");
    double number = id;
    put(table, "ID", &number, f.table);
    std::string name = fmt::format("{}, {}", pick(random, kLastNames), pick(random, kFirstNames));
    put(table, "NAME", name.data(), f.table);
    std::string city = pick(random, kCities);
    put(table, "CITY", city.data(), f.table);
    std::string since = fmt::format("{:04}{:02}{:02}", std::uniform_int_distribution(1990, 2024)(random),
                                    std::uniform_int_distribution(1, 12)(random),
                                    std::uniform_int_distribution(1, 28)(random));
    put(table, "SINCE", since.data(), f.table);
    double balance = std::uniform_int_distribution(-50000, 500000)(random) / 100.0;
    put(table, "BALANCE", &balance, f.table);
    char active = std::uniform_int_distribution(0, 9)(random) ? 'T' : 'F';
    put(table, "ACTIVE", &active, f.table);
    if (std::uniform_int_distribution(0, 2)(random) == 0) {
        int32_t block = 0;
        const std::string note = fmt::format("Customer {} ({}).\n{}", id, city, pick(random, kNotes));
        check(DBxbPutMemoRecord(memo, &block, note.c_str(), 0), f.memo, "cannot write a note");
        uint32_t b = static_cast<uint32_t>(block);
        put(table, "NOTES", &b, f.table);
    }
}

void step(const char* what, double seconds, const std::string& detail) {
    fmt::print("  {:<38} {:>7.3f} s  {}\n", what, seconds, detail);
}

void write_table(const Files& f, int32_t records) {
    create_table(f.table, {parse_field_spec("ID:N:7"), parse_field_spec("NAME:C:30"), parse_field_spec("CITY:C:20"),
                           parse_field_spec("SINCE:D"), parse_field_spec("BALANCE:N:12:2"),
                           parse_field_spec("ACTIVE:L"), parse_field_spec("NOTES:M")},
                 1);
    Stopwatch watch;
    Table table(f.table, false, 1);
    MemoFile memo(f.memo, MemoKind::dbt, 1, false);
    std::mt19937 random(20240315);
    for (int32_t id = 1; id <= records; ++id) {
        make_customer(table.handle(), memo.handle(), id, random, f);
        int32_t number = 0;
        check(DBPutRecord(table.handle(), &number, DB_PUT_APPEND), f.table, "cannot append");
    }
    step("write customers and notes", watch.seconds(), fmt::format("{} records", records));
}

void build_indexes(const Files& f, const char* when) {
    Table table(f.table, true, 1);
    Stopwatch watch;
    std::string upper_name = "UPPER(NAME)", since = "SINCE";
    check(DBclBuildIndex(table.handle(), f.names.c_str(), 'C', upper_name.data(), 30, 0), f.names, "cannot build");
    step(fmt::format("build index UPPER(NAME){}", when).c_str(), watch.seconds(), f.names);
    Stopwatch watch2;
    check(DBclBuildIndex(table.handle(), f.since.c_str(), 'D', since.data(), 8, 0), f.since, "cannot build");
    step(fmt::format("build index SINCE{}", when).c_str(), watch2.seconds(), f.since);
}

void seek_names(const Files& f) {
    NtxIndex names(f.names, true);
    std::mt19937 random(7);
    Stopwatch watch;
    int hits = 0;
    constexpr int kSeeks = 10000;
    for (int i = 0; i < kSeeks; ++i) {
        std::string key = fmt::format("{}, {}", pick(random, kLastNames), pick(random, kFirstNames));
        for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        key.resize(31, '\0');
        uint32_t recno = 0;
        if (check(DBclKeySearch(names.handle(), key.data(), &recno, DB_SEARCH_KEY), f.names, "cannot seek") == 0)
            ++hits;
    }
    step("seek names", watch.seconds(), fmt::format("{} seeks, {} found", kSeeks, hits));
}

void walk_by_date(const Files& f) {
    Table table(f.table, true, 1);
    NtxIndex since(f.since, true);
    Stopwatch watch;
    char key[16] = {};
    uint32_t recno = 0;
    int64_t walked = 0, in_2020 = 0;
    double sum = 0;
    for (int32_t code = DBclGoFirstKey(since.handle(), key, &recno); code == 0;
         code = DBclGoNextKey(since.handle(), key, &recno)) {
        ++walked;
        if (std::strncmp(key, "2020", 4) != 0) continue;
        table.read(static_cast<int32_t>(recno));
        double balance = 0;
        check(DBGetNamedData(table.handle(), "BALANCE", &balance), f.table, "cannot read BALANCE");
        sum += balance;
        ++in_2020;
    }
    step("walk by date, sum 2020 customers", watch.seconds(),
         fmt::format("{} keys walked, {} customers since 2020 hold {:.2f}", walked, in_2020, sum));
}

// Renames 1000 customers, keeping NAMES.NTX in step: old key out, record written,
// new key in.
void update_names(const Files& f, int32_t records) {
    Table table(f.table, false, 1);
    NtxIndex names(f.names, false);
    std::mt19937 random(11);
    Stopwatch watch;
    constexpr int kUpdates = 1000;
    for (int i = 0; i < kUpdates; ++i) {
        int32_t n = std::uniform_int_distribution(1, records)(random);
        table.read(n);
        char* made = nullptr;
        check(DBclMakeKey(table.handle(), names.handle(), &made), f.names, "cannot make a key");
        const LibraryBuffer old_key(made);
        check(DBclDeleteKey(names.handle(), old_key.get(), static_cast<uint32_t>(n)), f.names, "cannot delete a key");
        std::string name = fmt::format("{}-{}, {}", pick(random, kLastNames), pick(random, kLastNames),
                                       pick(random, kFirstNames));
        put(table.handle(), "NAME", name.data(), f.table);
        check(DBPutRecord(table.handle(), &n, DB_PUT_UPDATE), f.table, "cannot update");
        made = nullptr;
        check(DBclMakeKey(table.handle(), names.handle(), &made), f.names, "cannot make a key");
        const LibraryBuffer new_key(made);
        check(DBclAddKey(names.handle(), new_key.get(), static_cast<uint32_t>(n)), f.names, "cannot add a key");
    }
    step("rename customers, index kept in step", watch.seconds(), fmt::format("{} updates", kUpdates));
}

void delete_and_pack(const Files& f, int32_t records) {
    {
        Table table(f.table, false, 1);
        Stopwatch watch;
        int32_t marked = 0;
        for (int32_t n = 1; n <= records; n += 20, ++marked)
            check(DBMarkRecordInActive(table.handle(), n), f.table, "cannot mark deleted");
        step("mark every 20th customer deleted", watch.seconds(), fmt::format("{} records", marked));
    }
    Table table(f.table, false, 1);
    MemoFile memo(f.memo, MemoKind::dbt, 1, false);
    Stopwatch watch;
    if (table_pack_available()) {
        pack_table(table);
        step("pack table", watch.seconds(), fmt::format("{} records left", table.record_count()));
    } else {
        step("pack table", 0, "skipped: DBPackFile is not in this build of the library yet");
    }
    Stopwatch memo_watch;
    pack_memo(table, memo);
    step("pack memo file", memo_watch.seconds(),
         fmt::format("{} bytes", std::filesystem::file_size(f.memo)));
}

bool check_all(const Files& f) {
    Table table(f.table, true, 1);
    bool sound = true;
    for (const std::string& path : {f.names, f.since}) {
        Stopwatch watch;
        NtxIndex index(path, true);
        ntx::CheckOptions options;
        options.strict_fill = false;
        options.orphans = true;
        options.table = table.handle();
        const auto problems = ntx::check_index(index.handle(), options);
        for (const auto& p : problems) fmt::print("    problem: {}\n", p.text);
        sound = sound && problems.empty();
        step(fmt::format("check {}", std::filesystem::path(path).filename().string()).c_str(), watch.seconds(),
             problems.empty() ? "tree sound, every record's key once" : fmt::format("{} problems", problems.size()));
    }
    return sound;
}

int run_demo(const DemoOptions& o) {
    LibrarySession session;
    std::filesystem::create_directories(o.dir);
    const std::filesystem::path dir(o.dir);
    const Files f{(dir / "CUSTOMERS.DBF").string(), (dir / "CUSTOMERS.DBT").string(), (dir / "NAMES.NTX").string(),
                  (dir / "SINCE.NTX").string()};
    for (const auto& path : {f.table, f.memo, f.names, f.since}) std::filesystem::remove(path);
    fmt::print("xbdb demo: {} customers in {}\n", o.records, o.dir);
    Stopwatch total;
    write_table(f, o.records);
    build_indexes(f, "");
    seek_names(f);
    walk_by_date(f);
    update_names(f, o.records);
    delete_and_pack(f, o.records);
    if (table_pack_available()) build_indexes(f, " again");
    const bool sound = check_all(f);
    fmt::print("  {:<38} {:>7.3f} s\n\nfiles:\n", "total", total.seconds());
    for (const auto& path : {f.table, f.memo, f.names, f.since})
        fmt::print("  {:<40} {:>10} bytes\n", path, std::filesystem::file_size(path));
    fmt::print("\ntry:\n  xbdb info {}\n  xbdb dump {} --limit 5\n  xbdb index seek {} SMITH --next 3\n"
               "  xbdb check {} {} {}\n",
               f.table, f.table, f.names, f.table, f.names, f.since);
    return sound ? kSuccess : kProblemFound;
}

}  // namespace

void add_demo_command(CLI::App& app, Commands& out) {
    auto o = std::make_shared<DemoOptions>();
    CLI::App* sub = app.add_subcommand("demo", "Write a sample customer table and time typical work on it");
    sub->footer(kFooter);
    sub->add_option("DIR", o->dir, "Directory for the files (created; default ./xbdb-demo)");
    sub->add_option("--records", o->records, "Number of customers (default 100000)")->check(CLI::Range(1, 2000000));
    out.push_back({sub, [o] { return run_demo(*o); }});
}

}  // namespace xbdb::cli
