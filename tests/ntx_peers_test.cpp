// NTX files written here are read by another xBase implementation, Perl's
// XBase::Index (Debian libdbd-xbase-perl): its walk of the tree must give the same
// keys and record numbers, in the same order, as DBclGoFirstKey/DBclGoNextKey.
// The peer prints the file in one normalised form (tests/peers/xbase_index_dump.pl);
// a machine without the peer skips these tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/api.hpp"
#include "support/peers.hpp"
#include "support/scratch_dir.hpp"

namespace {

using namespace xbdb::test;

using xbdb::test::ScratchDir;


std::string peer_dump(const std::string& index, bool numeric) {
    return run("perl " + kPeers + "/xbase_index_dump.pl '" + index + "'" + (numeric ? " N" : ""));
}

// The key as the peer script shows it.
std::string shown(const char* key, bool numeric) {
    if (numeric) {
        double value = 0;
        DBclKeyToDouble(&value, key);
        char text[64];
        std::snprintf(text, sizeof text, "%.6f", value);
        return text;
    }
    std::string out;
    for (const char* p = key; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c <= 0x7E) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// "" when both texts are equal, else their first differing lines.
std::string first_difference(const std::string& theirs, const std::string& ours) {
    std::size_t at = 0;
    for (int line = 1;; ++line) {
        const std::size_t a = theirs.find('\n', at);
        const std::size_t b = ours.find('\n', at);
        const std::string x = theirs.substr(at, a == std::string::npos ? a : a - at);
        const std::string y = ours.substr(at, b == std::string::npos ? b : b - at);
        if (x != y)
            return "line " + std::to_string(line) + ": peer \"" + x + "\", ours \"" + y + "\"";
        if (a == std::string::npos || b == std::string::npos) return "";
        at = a + 1;
    }
}

// Our walk of the index in the peer's form.
std::string our_dump(const std::string& index, bool numeric) {
    int32_t h = -1;
    if (DBclOpenIndex(&h, index.c_str(), DB_OPEN_READONLY) < 0) return "open failed";
    std::string out;
    char key[256];
    uint32_t recno = 0;
    for (int32_t code = DBclGoFirstKey(h, key, &recno); code == 0; code = DBclGoNextKey(h, key, &recno))
        out += shown(key, numeric) + "\t" + std::to_string(recno) + "\n";
    DBclCloseIndex(h);
    return out;
}

class NtxPeers : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_perl_xbase_index()) GTEST_SKIP() << "Perl XBase::Index (libdbd-xbase-perl) is not installed";
        ASSERT_EQ(DBInitialize(20, 1), 0);
        started_ = true;
    }
    void TearDown() override {
        if (started_) DBTerminate();
    }

    // A table of NAME C(12), QTY N(9,2), BORN D with count records made by fill.
    int32_t table(int32_t count, void (*fill)(int32_t n, char* record)) {
        const std::string path = dir_.file("T.DBF");
        DBFieldSpec f[3] = {{"NAME", 'C', 12, 0}, {"QTY", 'N', 9, 2}, {"BORN", 'D', 8, 0}};
        EXPECT_EQ(DBCreateFile(path.c_str(), 3, f, 1), 0);
        int32_t h = -1;
        EXPECT_GE(DBOpenFile(&h, path.c_str(), 1), 0);
        int32_t cache = 1024;
        DBGetSetCacheSize(h, &cache, DB_CACHE_SET);
        // The table keeps using this buffer as its record buffer until it closes.
        char* record = buffers_.emplace_back(31, ' ').data();
        DBSetBufferAddress(h, record);
        for (int32_t n = 1; n <= count; ++n) {
            std::memset(record, ' ', 30);
            fill(n, record);
            int32_t number = 0;
            EXPECT_EQ(DBPutRecord(h, &number, DB_PUT_APPEND), 0);
        }
        EXPECT_EQ(DBFlushFile(h), 0);
        return h;
    }
    std::string built(int32_t table, const char* name, int32_t type, const char* expression,
                      int32_t length, int32_t decimals = 0) {
        const std::string path = dir_.file(name);
        std::string text = expression;
        EXPECT_EQ(DBclBuildIndex(table, path.c_str(), type, text.data(), length, decimals), 0);
        return path;
    }
    // keys: how many the index holds, 0 when the test does not know (unique builds).
    void expect_same(const std::string& index, bool numeric, std::size_t keys = 0) {
        const std::string ours = our_dump(index, numeric);
        const auto lines = static_cast<std::size_t>(std::count(ours.begin(), ours.end(), '\n'));
        EXPECT_GT(lines, 0u);
        if (keys) {
            EXPECT_EQ(lines, keys);
        }
        EXPECT_EQ(first_difference(peer_dump(index, numeric), ours), "") << index;
    }

    ScratchDir dir_;
    std::vector<std::vector<char>> buffers_;
    bool started_ = false;
};

void put(char* record, int at, const char* text) { std::memcpy(record + at, text, std::strlen(text)); }

void people(int32_t n, char* r) {
    static const char* const names[] = {"SMITH", "jones", "Brown", "O'HARA", "ADAMS", "zed", "Ng"};
    char text[32];
    std::snprintf(text, sizeof text, "%s%d", names[n % 7], n % 97);
    put(r, 1, text);
    if (n % 10 != 0) {  // every tenth quantity blank
        std::snprintf(text, sizeof text, "%9.2f", ((n * 7919) % 20001 - 10000) / 4.0);
        put(r, 13, text);
    }
    if (n % 9 != 0) {  // every ninth date blank
        std::snprintf(text, sizeof text, "%04d%02d%02d", 1950 + n % 80, 1 + n % 12, 1 + n % 28);
        put(r, 22, text);
    }
}

TEST_F(NtxPeers, BuiltCharacterIndexesReadTheSame) {
    const int32_t t = table(3000, people);
    expect_same(built(t, "C.NTX", 'C', "NAME", 12), false, 3000);
    expect_same(built(t, "U.NTX", 'C' | DB_KEY_UNIQUE, "NAME", 12), false);
    expect_same(built(t, "E.NTX", 'C', "UPPER(NAME)", 12), false, 3000);
}

TEST_F(NtxPeers, BuiltNumericAndDateIndexesReadTheSame) {
    const int32_t t = table(3000, people);
    const std::string numbers = built(t, "N.NTX", 'N', "QTY", 9, 2);
    expect_same(numbers, false, 3000);
    expect_same(numbers, true, 3000);  // negative keys decode to the same values
    expect_same(built(t, "V.NTX", 'N' | DB_KEY_UNIQUE, "QTY", 9, 2), true);
    expect_same(built(t, "D.NTX", 'D', "BORN", 8), false, 3000);
}

TEST_F(NtxPeers, DeepTreesOfWideKeysReadTheSame) {
    // 200-byte keys: two keys a page, a tree of about eleven levels, the last
    // pages of its levels settled at the end of the build.
    const int32_t t = table(2000, people);
    std::string names = "NAME";
    for (int i = 0; i < 16; ++i) names += "+NAME";
    expect_same(built(t, "W.NTX", 'C', names.c_str(), 200), false, 2000);
    for (int32_t count : {9, 27, 28}) {
        const int32_t small = table(count, people);
        expect_same(built(small, "S.NTX", 'C', "NAME", 200), false, static_cast<std::size_t>(count));
        DBCloseFile(small);
    }
}

TEST_F(NtxPeers, IndexesAfterManyAddsAndDeletesReadTheSame) {
    const int32_t t = table(1500, people);
    std::mt19937 random(20240501);
    for (const char* name : {"A.NTX", "B.NTX"}) {
        // A: grown key by key from nothing; B: built, then changed key by key.
        std::string path = dir_.file(name);
        if (name[0] == 'A') {
            std::string text = "NAME";
            ASSERT_EQ(DBclCreateIndex(path.c_str(), 'C', text.data(), 12, 0), 0);
        } else {
            path = built(t, name, 'C', "NAME", 12);
        }
        int32_t h = -1;
        ASSERT_EQ(DBclOpenIndex(&h, path.c_str(), 0), 0);
        std::vector<uint32_t> present;
        char key[32];
        for (uint32_t n = 1; n <= 1500; ++n) {
            std::snprintf(key, sizeof key, "K%08u", static_cast<unsigned>(random() % 5000));
            ASSERT_EQ(DBclAddKey(h, key, n + 2000), 0);
            present.push_back(n + 2000);
        }
        ASSERT_EQ(DBclCloseIndex(h), 0);
        ASSERT_EQ(DBclOpenIndex(&h, path.c_str(), 0), 0);
        // Delete about half of all keys, found through a walk in random order.
        std::vector<std::pair<std::string, uint32_t>> all;
        uint32_t recno = 0;
        char walked[256];
        for (int32_t code = DBclGoFirstKey(h, walked, &recno); code == 0;
             code = DBclGoNextKey(h, walked, &recno))
            all.emplace_back(walked, recno);
        std::shuffle(all.begin(), all.end(), random);
        const std::size_t keep = all.size() / 2;
        for (std::size_t i = keep; i < all.size(); ++i)
            ASSERT_EQ(DBclDeleteKey(h, all[i].first.c_str(), all[i].second), 0);
        ASSERT_EQ(DBclCloseIndex(h), 0);
        expect_same(path, false, keep);
    }
}

}  // namespace
