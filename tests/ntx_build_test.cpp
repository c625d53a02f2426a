// Building NTX files from whole tables: the built tree holds exactly the keys that
// adding DBclMakeKey of every record would give, in the same order; its pages are
// full except the last of each level, which holds at least one key; the sort scales
// to many runs; the table comes back as it was; and every failure cleans up.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "core/bytes.hpp"
#include "index/bulk_build.hpp"
#include "ntx/ntx_format.hpp"
#include "ntx_fixture.hpp"
#include "support/host_faults.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

struct PageView {
    std::string bytes;
    ntx::Geometry g;
    int count() const { return static_cast<uint8_t>(bytes[0]); }
    uint32_t child(int i) const { return le32(bytes.data() + le16(bytes.data() + 2 + 2 * i)); }
    uint32_t recno(int i) const { return le32(bytes.data() + le16(bytes.data() + 2 + 2 * i) + 4); }
    std::string key(int i) const {
        return bytes.substr(le16(bytes.data() + 2 + 2 * i) + 8u, static_cast<std::size_t>(g.key_size));
    }
};

PageView page_at(const std::string& file, uint32_t offset) {
    ntx::Header h;
    std::memcpy(h.bytes, file.data(), sizeof h.bytes);
    return {file.substr(offset, 1024), ntx::Geometry::of(h)};
}

// A walk of the whole file as bytes, independent of the library's reading code:
// every page but the root holds a key, all leaves at one depth, entries in (key,
// record number) order, and every record 1..records exactly once.
class RawWalk {
public:
    explicit RawWalk(const std::string& path) : file_(read_file(path)) {}

    std::vector<std::string> check(int32_t records) {
        seen_.assign(static_cast<std::size_t>(records) + 1, 0);
        page(le32(file_.data() + 4), 0);
        for (std::size_t r = 1; r < seen_.size(); ++r)
            if (seen_[r] != 1) problem("record " + std::to_string(r) + " seen " + std::to_string(seen_[r]));
        return problems_;
    }

private:
    void problem(const std::string& text) {
        if (problems_.size() < 10) problems_.push_back(text);
    }
    void page(uint32_t offset, int depth) {
        if (offset < 1024 || offset % 1024 || offset + 1024 > file_.size() || depth > 40)
            return problem("bad page " + std::to_string(offset));
        const PageView p = page_at(file_, offset);
        if (depth > 0 && p.count() == 0) problem("empty page " + std::to_string(offset));
        const bool inner = p.child(0) != 0;
        // The slot after the last key holds only the last child: readers that walk
        // count + 1 slots would take a record number there for one more key.
        if (p.recno(p.count()) != 0) problem("last child slot of " + std::to_string(offset) + " holds a record");
        for (int i = 0; i <= p.count(); ++i) {
            if (inner) page(p.child(i), depth + 1);
            if (i < p.count()) entry(p.key(i), p.recno(i));
        }
        if (!inner && leaf_depth_ < 0) leaf_depth_ = depth;
        if (!inner && depth != leaf_depth_) problem("leaf at depth " + std::to_string(depth));
    }
    void entry(const std::string& key, uint32_t recno) {
        if (have_last_ && (key < last_ || (key == last_ && recno <= last_recno_))) problem("order at " + key);
        last_ = key;
        last_recno_ = recno;
        have_last_ = true;
        if (recno < seen_.size()) ++seen_[recno];
        else problem("record number " + std::to_string(recno));
    }

    std::string file_;
    std::vector<int> seen_;
    std::vector<std::string> problems_;
    std::string last_;
    uint32_t last_recno_ = 0;
    bool have_last_ = false;
    int leaf_depth_ = -1;
};

// Fills the field texts of record n (1-based); the buffer is blank on entry.
using RowFiller = std::function<void(int32_t n, char* record)>;

// The builds here sort in runs of at most 65000 bytes, so that small tables already
// go through many runs and the merge of the temporary file.
struct SmallSortMemory {
    SmallSortMemory() { index::bulk::set_sort_memory_limit(65000); }
    ~SmallSortMemory() { index::bulk::set_sort_memory_limit(0); }
};

class NtxBuildTest : public NtxTest {
protected:
    SmallSortMemory small_sort_memory_;
    // Creates a table and appends count records through one buffered handle.
    std::string make_table(const std::string& name, std::vector<DBFieldSpec> fields, int32_t count,
                           const RowFiller& fill) {
        const std::string path = dir_.file(name);
        EXPECT_EQ(DBCreateFile(path.c_str(), static_cast<int32_t>(fields.size()), fields.data(), 1), 0);
        append(path, count, fill);
        return path;
    }
    // Appends count more records, numbered on from the table's count.
    void append(const std::string& path, int32_t count, const RowFiller& fill) {
        int32_t h = -1;
        ASSERT_GE(DBOpenFile(&h, path.c_str(), 1), 0);
        int32_t cache = 4096;
        DBGetSetCacheSize(h, &cache, DB_CACHE_SET);
        DBRecordInfo info{};
        DBGetRecordInfo(h, &info);
        std::vector<char> record(static_cast<std::size_t>(info.record_length) + 1);
        DBSetBufferAddress(h, record.data());
        int32_t have = 0;
        DBGetRecordCount(h, &have);
        for (int32_t n = have + 1; n <= have + count; ++n) {
            std::memset(record.data(), ' ', record.size() - 1);
            fill(n, record.data());
            int32_t number = 0;
            ASSERT_EQ(DBPutRecord(h, &number, DB_PUT_APPEND), 0);
        }
        ASSERT_EQ(DBCloseFile(h), 0);
    }
    int32_t open_table(const std::string& path, int32_t mode = 1) {
        int32_t h = -1;
        EXPECT_GE(DBOpenFile(&h, path.c_str(), mode), 0);
        return h;
    }
    int32_t build(int32_t table, const std::string& index, int32_t type, const char* expression,
                  int32_t length, int32_t decimals = 0) {
        std::string text = expression;
        return DBclBuildIndex(table, index.c_str(), type, text.data(), length, decimals);
    }
    // The same index made key by key: DBclAddKey of every record's DBclMakeKey.
    KeyList incremental(int32_t table, const std::string& index, int32_t type,
                        const char* expression, int32_t length, int32_t decimals = 0) {
        std::string text = expression;
        EXPECT_EQ(DBclCreateIndex(index.c_str(), type, text.data(), length, decimals), 0);
        const int32_t h = open(index);
        int32_t count = 0;
        DBGetRecordCount(table, &count);
        for (int32_t n = 1; n <= count; ++n) {
            EXPECT_GE(DBGetRecord(table, n), 0);
            char* key = nullptr;
            EXPECT_EQ(DBclMakeKey(table, h, &key), 0) << n;
            EXPECT_GE(DBclAddKey(h, key, static_cast<uint32_t>(n)), 0);
            DBFreeMemory(key, "test", 0);
        }
        KeyList keys = walk_forward(h);
        DBclCloseIndex(h);
        return keys;
    }
    // Opens a built index and checks it: sound pages (the last page of a level may
    // be less than half full), every record's key present once, and the walks.
    KeyList verify(const std::string& index, int32_t table, int32_t records, bool every_key = true) {
        const int32_t h = open(index);
        ntx::CheckOptions o;
        o.strict_fill = false;
        o.orphans = true;
        o.table = every_key ? table : -1;
        EXPECT_EQ(problems(h, o), std::vector<std::string>{}) << index;
        KeyList forward = walk_forward(h);
        EXPECT_EQ(static_cast<int32_t>(forward.size()), records);
        KeyList backward = walk_backward(h);
        std::reverse(backward.begin(), backward.end());
        EXPECT_TRUE(forward == backward);
        EXPECT_TRUE(std::is_sorted(forward.begin(), forward.end()));  // equal keys by record
        DBclCloseIndex(h);
        return forward;
    }
    // Grows the table at path to each count in turn and builds a 200-byte key over
    // it: the bytes must walk as a sound tree; at the counts check picks, the
    // library's checker and walks must agree too.
    void build_at_counts(const std::string& path, std::initializer_list<int32_t> counts, const RowFiller& fill,
                         const std::function<bool(int32_t)>& check) {
        int32_t total = *counts.begin();
        append(path, total, fill);
        for (int32_t count : counts) {
            append(path, count - total, fill);
            total = count;
            const int32_t t = open_table(path);
            ASSERT_EQ(build(t, dir_.file("T.NTX"), 'C', "K", 200), 0) << count;
            EXPECT_EQ(RawWalk(dir_.file("T.NTX")).check(count), std::vector<std::string>{}) << count;
            if (check(count)) verify(dir_.file("T.NTX"), t, count, count < 1000);
            EXPECT_FALSE(temporary_left());
            DBCloseFile(t);
        }
    }
    bool temporary_left() const {
        for (const auto& e : std::filesystem::directory_iterator(dir_.path()))
            if (e.path().filename().string().starts_with("STKS")) return true;
        return false;
    }
};

void put(char* record, int at, const std::string& text) { std::memcpy(record + at, text.data(), text.size()); }

// ---- the keys: equal to incremental maintenance --------------------------------------

// NAME C(10) at 1, QTY N(8,2) at 11, BORN D at 19, CITY C(6) at 27, OK L at 33.
const std::vector<DBFieldSpec> kPeople = {
    {"NAME", 'C', 10, 0}, {"QTY", 'N', 8, 2}, {"BORN", 'D', 8, 0}, {"CITY", 'C', 6, 0}, {"OK", 'L', 1, 0}};

const char* const kNames[] = {"SMITH", "jones", "Brown", "SMITH  X", "ADAMS", "zed", "", "O'HARA"};
const char* const kCities[] = {"PARIS", "ROME", "OSLO", "", "LIMA"};

void person(int32_t n, char* r) {
    put(r, 1, kNames[(n * 7) % 8]);
    if (n % 13 != 0) {  // every 13th quantity blank
        char q[16];
        const double value = ((n * 7919) % 4001 - 2000) / 8.0 + (n % 3) * 0.005;
        std::snprintf(q, sizeof q, "%8.2f", value);
        put(r, 11, q);
    }
    if (n % 11 != 0)
        put(r, 19, std::to_string((1900 + n % 150) * 10000 + (1 + n % 12) * 100 + 1 + n * 37 % 28));
    put(r, 27, kCities[n % 5]);
    put(r, 33, n % 2 ? "T" : "F");
}

struct KeyCase {
    const char* label;
    const char* expression;
    int32_t type;
    int32_t length;
    int32_t decimals;
};

const KeyCase kKeyCases[] = {
    {"CharField", "NAME", 'C', 10, 0},
    {"CharKeyLongerThanField", "NAME", 'C', 20, 0},
    {"Number", "QTY", 'N', 8, 2},
    {"NumberKeyWithFewerDecimals", "QTY", 'N', 6, 1},
    {"NumberKeyWithMoreDecimals", "QTY", 'N', 12, 4},
    {"Date", "BORN", 'D', 8, 0},
    {"DateAsCharKey", "born", 'C', 10, 0},
    {"Expression", "UPPER(NAME)+CITY", 'C', 16, 0},
};

class NtxBuildKeys : public NtxBuildTest,
                     public ::testing::WithParamInterface<std::tuple<KeyCase, bool>> {};

TEST_P(NtxBuildKeys, BuiltIndexEqualsKeyByKeyMaintenance) {
    const auto& [c, unique] = GetParam();
    const int32_t type = c.type | (unique ? DB_KEY_UNIQUE : 0);
    const std::string table_path = make_table("P.DBF", kPeople, 1500, person);
    const int32_t t = open_table(table_path);
    for (int32_t n = 5; n <= 1500; n += 17) DBMarkRecordInActive(t, n);  // deleted records count too
    const KeyList wanted = incremental(t, dir_.file("I.NTX"), type, c.expression, c.length, c.decimals);
    ASSERT_EQ(build(t, dir_.file("B.NTX"), type, c.expression, c.length, c.decimals), 0);
    const KeyList built = verify(dir_.file("B.NTX"), t, static_cast<int32_t>(wanted.size()), !unique);
    EXPECT_TRUE(built == wanted);
    if (!unique) {
        EXPECT_EQ(built.size(), 1500u);
    }
    EXPECT_FALSE(temporary_left());
}

INSTANTIATE_TEST_SUITE_P(
    NtxBuild, NtxBuildKeys, ::testing::Combine(::testing::ValuesIn(kKeyCases), ::testing::Bool()),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).label) + (std::get<1>(info.param) ? "Unique" : "");
    });

TEST_F(NtxBuildTest, NumbersBeyondDoublePrecisionAndForeignWidthsKeyAsMakeKeyDoes) {
    // N(19,0) with 18 and 19 digits: the key must be the one DBclMakeKey prints.
    const std::string big = make_table("W.DBF", {{"BIG", 'N', 19, 0}}, 6, [](int32_t n, char* r) {
        const char* values[] = {"1234567890123456789", "-123456789012345678", " 999999999999999999",
                                "                  1", "               -0.", "   00000000000012.5"};
        put(r, 1, values[n - 1]);
    });
    // Another program's N(30,2), wider than any key text: made here as C(30), its
    // type and decimals bytes then patched.
    const std::string wide = make_table("F.DBF", {{"WIDE", 'C', 30, 0}}, 3, [](int32_t n, char* r) {
        const char* values[] = {"    -123456789012345678901.25", "                         12.5",
                                "1234567890123456789012345.75"};
        put(r, 1, values[n - 1]);
    });
    std::string bytes = read_file(wide);
    bytes[32 + 11] = 'N';
    bytes[32 + 17] = 2;
    write_file(wide, bytes);
    for (auto [path, field, decimals, count] : {std::tuple{big, "BIG", 0, 6}, std::tuple{wide, "WIDE", 2, 3}}) {
        SCOPED_TRACE(field);
        const int32_t t = open_table(path);
        const KeyList wanted = incremental(t, dir_.file("I.NTX"), 'N', field, 19, decimals);
        ASSERT_EQ(build(t, dir_.file("B.NTX"), 'N', field, 19, decimals), 0);
        EXPECT_TRUE(verify(dir_.file("B.NTX"), t, count) == wanted);
        DBCloseFile(t);
        std::remove(dir_.file("I.NTX").c_str());
    }
}

TEST_F(NtxBuildTest, NegativeFieldKeyIsComplementedAndBlankFieldIsZero) {
    const std::string path = make_table("N.DBF", {{"QTY", 'N', 8, 2}}, 2, [](int32_t n, char* r) {
        if (n == 1) put(r, 1, "  -12.50");
    });
    const int32_t t = open_table(path);
    ASSERT_EQ(build(t, dir_.file("B.NTX"), 'N', "QTY", 8, 2), 0);
    // 00012.50 with every character but the point replaced by 0x5C - c.
    EXPECT_TRUE(verify(dir_.file("B.NTX"), t, 2) == (KeyList{{",,,+*.',", 1}, {"00000.00", 2}}));
}

TEST_F(NtxBuildTest, UniqueBuildKeepsLowestRecordOfEachKeyAndOthersKeepRecordOrder) {
    const std::string path = make_table("U.DBF", {{"K", 'C', 1, 0}}, 5, [](int32_t n, char* r) {
        put(r, 1, std::string(1, "BABAB"[n - 1]));
    });
    const int32_t t = open_table(path);
    ASSERT_EQ(build(t, dir_.file("U.NTX"), 'C' | DB_KEY_UNIQUE, "K", 1), 0);
    EXPECT_TRUE(verify(dir_.file("U.NTX"), t, 2, false) == (KeyList{{"A", 2}, {"B", 1}}));
    ASSERT_EQ(build(t, dir_.file("D.NTX"), 'C', "K", 1), 0);
    EXPECT_TRUE(verify(dir_.file("D.NTX"), t, 5) ==
                (KeyList{{"A", 2}, {"A", 4}, {"B", 1}, {"B", 3}, {"B", 5}}));
}

TEST_F(NtxBuildTest, ExpressionThatCannotBeEvaluatedFailsAndLeavesNoFiles) {
    const std::string path = make_table("P.DBF", kPeople, 20, person);
    const int32_t t = open_table(path);
    // A logical field gives no NTX key.
    EXPECT_EQ(build(t, dir_.file("L.NTX"), 'C', "OK", 1), DB_ERR_KEY_EXPR);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("L.NTX")));
    EXPECT_FALSE(temporary_left());
    EXPECT_EQ(build(t, dir_.file("L.NTX"), 'X', "NAME", 10), DB_ERR_KEY_TYPE);
    EXPECT_EQ(build(t, dir_.file("L.NTX"), 'C', "NAME", 0), DB_ERR_KEY_LENGTH);
    EXPECT_EQ(DBclBuildIndex(t, nullptr, 'C', nullptr, 10, 0), DB_ERR_NULL);
    EXPECT_EQ(DBclBuildIndex(99, "X.NTX", 'C', nullptr, 10, 0), DB_ERR_HANDLE);
}

// ---- the shape of the tree -------------------------------------------------------------

TEST_F(NtxBuildTest, EmptyTableLeavesTheRootAloneAndOneMoreRecordThanAPageMakesTwoLeaves) {
    const std::string path = make_table("S.DBF", {{"K", 'C', 10, 0}}, 0, nullptr);
    int32_t t = open_table(path);
    ASSERT_EQ(build(t, dir_.file("E.NTX"), 'C', "K", 10), 0);
    std::string file = read_file(dir_.file("E.NTX"));
    ASSERT_EQ(file.size(), 2048u);
    EXPECT_EQ(le16(file.data() + 2), 1);      // version: never written back
    EXPECT_EQ(le32(file.data() + 4), 1024u);  // root
    EXPECT_EQ(page_at(file, 1024).count(), 0);
    DBCloseFile(t);

    // Key size 10: 50 keys a page. 51 records: leaves of 49 and 1 under a root of 1.
    append(path, 51, [](int32_t n, char* r) { put(r, 1, key_of(n, 10)); });
    t = open_table(path);
    ASSERT_EQ(build(t, dir_.file("S.NTX"), 'C', "K", 10), 0);
    file = read_file(dir_.file("S.NTX"));
    EXPECT_EQ(file.size(), 3u * 1024 + 1024);
    EXPECT_EQ(le16(file.data() + 2), 2);  // version: one header write at the close
    const PageView root = page_at(file, le32(file.data() + 4));
    ASSERT_EQ(root.count(), 1);
    EXPECT_EQ(root.recno(0), 50u);
    const PageView left = page_at(file, root.child(0)), right = page_at(file, root.child(1));
    EXPECT_EQ(root.child(0), 1024u);  // the first leaf took the old root's place
    EXPECT_TRUE(left.count() == 49 && right.count() == 1 && right.recno(0) == 51u);
    EXPECT_EQ(left.child(49), 0u);  // leaves have no children
    verify(dir_.file("S.NTX"), t, 51);
}

// Counts whose last push leaves the last pages of two neighbouring levels empty.
TEST_F(NtxBuildTest, LastPagesOfEveryLevelHoldAKeyForTroublesomeCounts) {
    const std::string path = make_table("T.DBF", {{"K", 'C', 200, 0}}, 0, nullptr);
    build_at_counts(path, {9, 18, 27, 28, 29, 36, 100},
                    [](int32_t n, char* r) { put(r, 1, key_of((n * 7919L) % 100003, 200)); },
                    [](int32_t) { return true; });
    const std::string narrow = make_table("N.DBF", {{"K", 'C', 10, 0}}, 2601,
                                          [](int32_t n, char* r) { put(r, 1, key_of(2601 - n, 10)); });
    const int32_t t = open_table(narrow);
    ASSERT_EQ(build(t, dir_.file("N.NTX"), 'C', "K", 10), 0);
    EXPECT_EQ(RawWalk(dir_.file("N.NTX")).check(2601), std::vector<std::string>{});
    verify(dir_.file("N.NTX"), t, 2601);
}

// 200-byte keys over more than 100,000 records: at the starting budget a run holds
// 318 items and there would be 378 runs; the budget grows so that runs never
// outnumber the items of one run. These counts also end with empty last pages.
// One of them is checked through the library as well (its checker and walks).
TEST_F(NtxBuildTest, ManyRunsOfWideKeysMergeIntoOneSoundTree) {
    const std::string path = make_table("L.DBF", {{"K", 'C', 200, 0}}, 0, nullptr);
    build_at_counts(path, {119990, 120000, 120001, 120150, 120300},
                    [](int32_t n, char* r) { put(r, 1, key_of((n * 48271L) % 150001, 200)); },
                    [](int32_t count) { return count == 120000; });
}

TEST(NtxBuildPlan, RunsNeverOutnumberTheItemsOfARun) {
    using index::bulk::plan_sort;
    SmallSortMemory small;
    for (int64_t records : {1LL, 318LL, 101000LL, 120300LL, 10000000LL, 2147483647LL})
        for (int32_t item : {5, 14, 204}) {
            const auto plan = plan_sort(records, item, 201);
            EXPECT_GE(plan.per_run, plan.runs) << records << " " << item;
            EXPECT_GE(int64_t{plan.per_run} * plan.runs, records);
            EXPECT_LE(plan.budget, std::max<int64_t>(65000, 2 * 46341LL * item));
        }
    index::bulk::set_sort_memory_limit(0);
    const auto whole = plan_sort(1000000, 24, 100);  // 24 MB of keys: one run
    EXPECT_EQ(whole.runs, 1);
}

// ---- the temporary file ------------------------------------------------------------------

// A host that records how the files whose names contain a text are created and opened.
class WatchingHost : public FaultHost {
public:
    std::string watched;
    std::vector<std::string> created;
    std::vector<int> open_flags;

    int creat(const char* path, mode_t mode) override {
        if (std::strstr(path, watched.c_str())) created.emplace_back(path);
        return FaultHost::creat(path, mode);
    }
    int open(const char* path, int flags) override {
        if (std::strstr(path, watched.c_str())) open_flags.push_back(flags);
        return FaultHost::open(path, flags);
    }
};

const auto kWideRows = [](int32_t n, char* r) { put(r, 1, key_of((n * 7919L) % 1009, 200)); };

TEST_F(NtxBuildTest, TemporaryFileTakesTheFirstFreeNameBesideTheIndexAndIsReadBack) {
    // 1000 keys of 200 bytes: four runs that the merge reads back from the file.
    const std::string path = make_table("R.DBF", {{"K", 'C', 200, 0}}, 1000, kWideRows);
    write_file(dir_.file("STKS0.TMP"), "not ours");
    WatchingHost host;
    host.watched = "STKS";
    ScopedHost guard(host);
    const int32_t t = open_table(path);
    ASSERT_EQ(build(t, dir_.file("R.NTX"), 'C', "K", 200), 0);
    EXPECT_EQ(host.created, std::vector<std::string>{dir_.file("STKS1.TMP")});
    ASSERT_EQ(host.open_flags.size(), 1u);  // created, then opened again for reading too
    EXPECT_EQ(host.open_flags[0] & O_ACCMODE, O_RDWR);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("STKS1.TMP")));
    EXPECT_EQ(read_file(dir_.file("STKS0.TMP")), "not ours");
    verify(dir_.file("R.NTX"), t, 1000);
}

TEST_F(NtxBuildTest, TemporaryNameKeepsTheDirectoryOfTheIndexName) {
    HostBlock name;
    ASSERT_EQ(index::bulk::temporary_name("C:NAME.NTX", name), 0);
    EXPECT_STREQ(name.get(), "C:STKS0.TMP");
    ASSERT_EQ(index::bulk::temporary_name("NAME.NTX", name), 0);
    EXPECT_STREQ(name.get(), "STKS0.TMP");
    const std::string deep = dir_.path() + "/" + std::string(200, 'd') + "/x.ntx";
    ASSERT_EQ(index::bulk::temporary_name(deep.c_str(), name), 0);
    EXPECT_EQ(std::string(name.get()), dir_.path() + "/" + std::string(200, 'd') + "/STKS0.TMP");
}

// ---- failures ---------------------------------------------------------------------------

// The build with the nth call of a kind failing, for n = 1, 2, ... until a build
// succeeds: the reads and writes of the table, the temporary file and the index, and
// every allocation. Each failure returns its code and leaves no index, no temporary
// file, no memory and no descriptor behind.
TEST_F(NtxBuildTest, AFailureAtAnyStepReturnsItsCodeAndLeavesNothingBehind) {
    const std::string path = make_table("F.DBF", {{"K", 'C', 200, 0}}, 1000, kWideRows);
    const std::tuple<Call, int, int32_t> kinds[] = {
        {Call::write, ENOSPC, DB_ERR_WRITE}, {Call::read, EIO, DB_ERR_READ}, {Call::allocate, ENOMEM, 0}};
    for (auto [kind, err, expected] : kinds) {
        int failures = 0;
        for (int n = 1; n < 5000; ++n) {
            SCOPED_TRACE(testing::Message() << "call " << static_cast<int>(kind) << " failure " << n);
            FaultHost host;
            ScopedHost guard(host);
            const int32_t t = open_table(path);
            host.fail_nth(kind, n, err);
            const int32_t code = build(t, dir_.file("F.NTX"), 'C', "K", 200);
            EXPECT_EQ(DBCloseFile(t), 0);
            EXPECT_EQ(host.live_blocks(), 0u);
            EXPECT_EQ(host.open_descriptors(), 0u);
            EXPECT_FALSE(temporary_left());
            if (code == 0) break;
            ++failures;
            EXPECT_TRUE(expected == 0 ? code < 0 : code == expected) << code;
            EXPECT_FALSE(std::filesystem::exists(dir_.file("F.NTX")));
        }
        EXPECT_GT(failures, 1);
        const int32_t t = open_table(path);
        verify(dir_.file("F.NTX"), t, 1000);
        DBCloseFile(t);
        std::remove(dir_.file("F.NTX").c_str());
    }
}

// ---- the table around the build --------------------------------------------------------

TEST_F(NtxBuildTest, TableKeepsItsPositionBufferAndCache) {
    const std::string path = make_table("P.DBF", kPeople, 300, person);
    const int32_t t = open_table(path);
    // Just opened: no current record; the build must not try to read record 0.
    ASSERT_EQ(build(t, dir_.file("A.NTX"), 'C', "UPPER(NAME)", 10), 0);
    int32_t current = -1;
    DBGetRecordNumber(t, &current);
    EXPECT_EQ(current, 0);
    ASSERT_GE(DBGetRecord(t, 7), 0);
    char edited[] = "EDITED";
    ASSERT_EQ(DBPutFieldData(t, 0, edited), 0);  // not written yet
    int32_t cache = 21;
    DBGetSetCacheSize(t, &cache, DB_CACHE_SET);
    ASSERT_EQ(build(t, dir_.file("B.NTX"), 'C', "CITY", 6), 0);
    DBGetRecordNumber(t, &current);
    EXPECT_EQ(current, 7);
    char name[11] = {};
    DBGetFieldData(t, 0, name);
    EXPECT_STREQ(name, "EDITED    ");
    DBGetSetCacheSize(t, &cache, DB_CACHE_GET);
    EXPECT_EQ(cache, 21);
    verify(dir_.file("A.NTX"), t, 300);
}

TEST_F(NtxBuildTest, UnbufferedTableIsReadThroughACacheAndStaysUnbuffered) {
    const int32_t t = open_table(make_table("P.DBF", kPeople, 300, person), 1 | DB_OPEN_UNBUFFERED);
    ASSERT_EQ(build(t, dir_.file("U.NTX"), 'C', "NAME", 10), 0);
    int32_t cache = -1;
    DBGetSetCacheSize(t, &cache, DB_CACHE_GET);
    EXPECT_EQ(cache, 0);  // unbuffered tables have no cache
    verify(dir_.file("U.NTX"), t, 300);
}

// Runs body in a child process and returns its exit status.
int in_child(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// 0 when another process sees no lock at all on the file.
int locks_seen_elsewhere(const std::string& path) {
    return in_child([&] {
        const int fd = ::open(path.c_str(), O_RDWR);
        struct flock q = {};
        q.l_type = F_WRLCK;
        q.l_whence = SEEK_SET;
        q.l_start = 0;
        q.l_len = 0;  // everything, however far
        if (fd < 0 || fcntl(fd, F_GETLK, &q) != 0) return 2;
        return q.l_type == F_UNLCK ? 0 : 1;
    });
}

TEST_F(NtxBuildTest, SharedTableIsCountedUnderItsLockAndLosesEveryLockAfterwards) {
    const std::string path = make_table("S.DBF", kPeople, 0, person);
    const int32_t t = open_table(path, 1 | DB_OPEN_SHARED);
    // Another handle appends after t last read the count (0).
    const int32_t other = open_table(path, 1 | DB_OPEN_SHARED | DB_OPEN_AUTOLOCK);
    std::vector<char> record(40, ' ');
    DBSetBufferAddress(other, record.data());
    for (int32_t n = 1; n <= 30; ++n) {
        person(n, record.data());
        int32_t number = 0;
        ASSERT_EQ(DBPutRecord(other, &number, DB_PUT_APPEND), 0);
    }
    ASSERT_EQ(DBCloseFile(other), 0);  // before its record buffer goes
    ASSERT_EQ(build(t, dir_.file("S.NTX"), 'C', "NAME", 10), 0);
    verify(dir_.file("S.NTX"), t, 30);
    EXPECT_EQ(locks_seen_elsewhere(path), 0);
    ASSERT_EQ(DBLockRecord(t, 3), 0);  // the host's own lock goes too
    EXPECT_EQ(locks_seen_elsewhere(path), 1);
    ASSERT_EQ(build(t, dir_.file("S.NTX"), 'C', "NAME", 10), 0);
    EXPECT_EQ(locks_seen_elsewhere(path), 0);
}

}  // namespace
