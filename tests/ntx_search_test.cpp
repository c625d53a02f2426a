// Searching and walking an NTX index: the search modes, the moves and their ends,
// equal keys told apart by record number, and positions as percentages.
#include <cstdio>

#include "ntx_fixture.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

class NtxSearch : public NtxTest {
protected:
    // An index of key size 3 holding keys with record numbers 1, 2, ...
    int32_t index_of(const std::vector<std::string>& keys, int32_t mode = 0) {
        h_ = open(create("S.NTX", 3), mode);
        uint32_t recno = 0;
        for (const auto& k : keys) EXPECT_EQ(DBclAddKey(h_, k.c_str(), ++recno), 0);
        return h_;
    }
    // Searches and returns the code, the key reached and its record number.
    struct Reached {
        int32_t code;
        std::string key;
        uint32_t recno;
    };
    Reached search(const char* text, int32_t mode, uint32_t recno = 0) {
        char key[256];
        std::snprintf(key, sizeof key, "%s", text);
        const int32_t code = DBclKeySearch(h_, key, &recno, mode);
        return {code, key, recno};
    }
    int32_t h_ = -1;
};

}  // namespace

TEST_F(NtxSearch, EmptyIndexIsEmptyInEveryMode) {
    index_of({});
    for (int32_t mode : {1, 2, 11, 12, 13, 14, 15, 99}) EXPECT_EQ(search("A", mode).code, 202);
    char key[256];
    uint32_t recno = 0;
    EXPECT_EQ(DBclGoLastKey(h_, key, &recno), 202);
    EXPECT_EQ(DBclGoNextKey(h_, key, &recno), 202);
    EXPECT_EQ(DBclGetKeyAtPercent(h_, 50, key, &recno), 202);
}

TEST_F(NtxSearch, EachModeAdjustsAHitAMissAndAKeyBelowEveryKey) {
    index_of({"ABC", "ABD", "ABF"});
    const struct {
        const char* text;
        int32_t mode, code;
        const char* key;
    } cases[] = {
        // a partial key finds its first match; mode 15 the key past the matches
        {"AB", 1, 0, "ABC"},    {"", 1, 0, "ABC"},      {"AB", 15, 0, "ABD"},  {"ABF", 15, 204, "ABF"},
        // a miss stops on the key before, and each mode moves from there
        {"ABE", 1, 204, "ABD"}, {"ABE", 13, 204, "ABD"}, {"ABE", 14, 0, "ABF"}, {"ABE", 11, 0, "ABD"},
        {"ABE", 12, 0, "ABD"},  {"ABE", 15, 0, "ABF"},   {"ABD", 11, 0, "ABC"}, {"ABC", 11, 204, "ABC"},
        {"ABD", 12, 0, "ABD"},  {"ABG", 14, 204, "ABF"},
        // below every key
        {"AAA", 1, 203, "ABC"}, {"AAA", 13, 204, "ABC"}, {"AAA", 14, 0, "ABC"}, {"AAA", 15, 0, "ABC"},
        {"AAA", 11, 204, "ABC"}, {"AAA", 12, 204, "ABC"},
    };
    for (const auto& c : cases) {
        const Reached r = search(c.text, c.mode);
        EXPECT_EQ(r.code, c.code) << c.text << " mode " << c.mode;
        EXPECT_EQ(r.key, c.key) << c.text << " mode " << c.mode;
    }
}

TEST_F(NtxSearch, MovesRunOffBothEndsAndStartFromNoPosition) {
    index_of({"BBB", "AAA", "CCC"});
    char key[256];
    uint32_t recno = 0;
    EXPECT_EQ(DBclGetCurrentKey(h_, key, &recno), 204);  // no position yet
    EXPECT_EQ(DBclGoNextKey(h_, key, &recno), 0);
    EXPECT_STREQ(key, "AAA");
    EXPECT_EQ(DBclGoPreviousKey(h_, key, &recno), 203);
    EXPECT_STREQ(key, "AAA");
    ASSERT_EQ(DBclAddKey(h_, "DDD", 4), 0);  // updates leave no position
    EXPECT_EQ(DBclGoPreviousKey(h_, key, &recno), 0);
    EXPECT_STREQ(key, "DDD");
    EXPECT_EQ(DBclGoNextKey(h_, key, &recno), 203);
    EXPECT_STREQ(key, "DDD");
    EXPECT_EQ(DBclGetCurrentKey(h_, key, &recno), 0);
    EXPECT_STREQ(key, "DDD");
    EXPECT_EQ(recno, 4u);
}

TEST_F(NtxSearch, EqualKeysAreFoundByRecordNumberInStoredOrder) {
    index_of({"KEY", "KEY", "KEY"});
    DBclDeleteKey(h_, "KEY", 1);
    DBclDeleteKey(h_, "KEY", 2);
    DBclDeleteKey(h_, "KEY", 3);
    for (uint32_t r : {5u, 9u, 2u}) ASSERT_EQ(DBclAddKey(h_, "KEY", r), 0);
    Reached found = search("KEY", 2, 9);
    EXPECT_EQ(found.code, 0);
    EXPECT_EQ(found.recno, 9u);
    char key[256];
    uint32_t recno = 0;
    EXPECT_EQ(DBclGoPreviousKey(h_, key, &recno), 0);
    EXPECT_EQ(recno, 5u);
    found = search("KEY", 2, 7);
    EXPECT_EQ(found.code, 204);
    EXPECT_EQ(found.recno, 2u);  // the last entry of the key value
    EXPECT_EQ(search("KE", 2, 5).code, 203);  // by record number the whole key counts
}

TEST_F(NtxSearch, PercentagesFromFirstToLast) {
    std::vector<std::string> keys;
    for (int i = 0; i < 500; ++i) keys.push_back(key_of(i, 3));
    index_of(keys);
    char key[256];
    uint32_t recno = 0;
    for (auto [at, first] : {std::pair{0, "000"}, {100, "499"}, {250, "499"}, {-5, "000"}}) {  // clamped
        EXPECT_EQ(DBclGetKeyAtPercent(h_, at, key, &recno), 0);
        EXPECT_STREQ(key, first);
    }
    EXPECT_EQ(DBclGetKeyAtPercent(h_, 50, key, &recno), 0);
    EXPECT_NEAR(std::stoi(key), 250, 30);
    EXPECT_EQ(DBclGoNextKey(h_, key, &recno), 0);  // the position is the key returned
    EXPECT_EQ(std::stoi(key), static_cast<int>(recno) - 1);
    int32_t percent = -1;
    EXPECT_EQ(DBclGetKeyPercent(h_, &percent, "000", 0), 0);
    EXPECT_EQ(percent, 0);
    EXPECT_EQ(DBclGetKeyPercent(h_, &percent, "250", 0), 0);
    EXPECT_NEAR(percent, 50, 10);
    std::string long_key(300, '9');  // longer than any key buffer: cut to the key size
    EXPECT_EQ(DBclGetKeyPercent(h_, &percent, long_key.c_str(), 0), 204);
    EXPECT_GE(percent, 95);
}

TEST_F(NtxSearch, SharedUnbufferedModeCarriesThePositionBetweenCalls) {
    std::vector<std::string> keys;
    for (int i = 0; i < 300; ++i) keys.push_back(key_of(i, 3));
    index_of(keys, DB_OPEN_SHARED | DB_OPEN_UNBUFFERED);
    Reached r = search("100", 1);
    ASSERT_EQ(r.code, 0);
    char key[256];
    uint32_t recno = 0;
    EXPECT_EQ(DBclGoNextKey(h_, key, &recno), 0);
    EXPECT_STREQ(key, "101");
    EXPECT_EQ(DBclGoPreviousKey(h_, key, &recno), 0);
    EXPECT_STREQ(key, "100");
    EXPECT_EQ(walk_forward(h_).size(), 300u);
    EXPECT_EQ(walk_backward(h_).size(), 300u);
}
