// NTX files as bytes: a new file laid out exactly, the header checks of open, damaged
// pages met during use, and what an open file reports about itself.
#include <cstring>
#include <functional>
#include <utility>

#include "core/bytes.hpp"
#include "ntx_fixture.hpp"
#include "support/host_faults.hpp"

using namespace xbdb;
using namespace xbdb::test;

namespace {

class NtxFormat : public NtxTest {
protected:
    // A file of key size 10 with its header changed at byte `at`.
    std::string patched(int at, const std::string& bytes) {
        const std::string path = create("P.NTX", 10);
        std::string file = read_file(path);
        file.replace(static_cast<std::size_t>(at), bytes.size(), bytes);
        write_file(path, file);
        return path;
    }
    int32_t open_code(const std::string& path, int32_t mode = 0) {
        int32_t handle = 5;
        const int32_t code = DBclOpenIndex(&handle, path.c_str(), mode);
        if (code < 0) EXPECT_EQ(handle, -1);
        else DBclCloseIndex(handle);
        return code;
    }
    static std::string le16s(uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
    static std::string le32s(uint32_t v) { return le16s(uint16_t(v)) + le16s(uint16_t(v >> 16)); }
};

}  // namespace

TEST_F(NtxFormat, NewFileIsAHeaderAndAnEmptyRootPageByteForByte) {
    std::string expression = "last + first";
    const std::string path = dir_.file("NEW.NTX");
    ASSERT_EQ(DBclCreateIndex(path.c_str(), 'c' | DB_KEY_UNIQUE, expression.data(), 10, 3), 0);
    EXPECT_STREQ(expression.c_str(), "last+first");  // spaces gone from the caller's text

    std::string want(2048, '\0');
    want.replace(0, 2, le16s(6));          // signature
    want.replace(2, 2, le16s(1));          // version
    want.replace(4, 4, le32s(1024));       // root
    want.replace(8, 4, le32s(0));          // free page
    want.replace(12, 2, le16s(18));        // item size = key size + 8
    want.replace(14, 2, le16s(10));        // key size
    want.replace(16, 2, le16s(0));         // decimals: none for a character key
    want.replace(18, 2, le16s(50));        // max items: (1020 / 20 - 1) to even
    want.replace(20, 2, le16s(25));        // half page
    want.replace(22, 10, "LAST+FIRST");    // expression, upper case
    want.replace(278, 2, le16s(1));        // unique
    for (int i = 0; i <= 50; ++i)          // root page: count 0, fresh offset table
        want.replace(1024 + 2 + 2 * i, 2, le16s(uint16_t(104 + i * 18)));
    EXPECT_EQ(read_file(path), want);
}

TEST_F(NtxFormat, CreateChecksTypeLengthDecimalsAndExpression) {
    const std::string path = dir_.file("BAD.NTX");
    std::string e = "X";
    EXPECT_EQ(DBclCreateIndex(path.c_str(), 'N', e.data(), 10, 9), DB_ERR_DECIMALS);
    EXPECT_EQ(DBclCreateIndex(path.c_str(), 'N', e.data(), 20, 0), DB_ERR_KEY_LENGTH);
    EXPECT_EQ(DBclCreateIndex(path.c_str(), 'C', e.data(), 201, 0), DB_ERR_KEY_LENGTH);
    EXPECT_EQ(DBclCreateIndex(path.c_str(), 'X', e.data(), 8, 0), DB_ERR_KEY_TYPE);
    std::string long_expression(256, 'A');
    EXPECT_EQ(DBclCreateIndex(path.c_str(), 'C', long_expression.data(), 8, 0), DB_ERR_KEY_EXPR);
    EXPECT_EQ(read_file(path), "");
    ASSERT_EQ(DBclCreateIndex(path.c_str(), 'd', e.data(), 99, 5), 0);  // dates: 8, 0
    EXPECT_EQ(read_file(path).substr(14, 4), le16s(8) + le16s(0));
}

TEST_F(NtxFormat, EachBadHeaderFieldHasItsOwnCode) {
    EXPECT_EQ(open_code(patched(14, le16s(0))), DB_ERR_KEY_LENGTH);
    EXPECT_EQ(open_code(patched(14, le16s(201))), DB_ERR_KEY_LENGTH);
    EXPECT_EQ(open_code(patched(12, le16s(19))), DB_ERR_ITEM_LENGTH);
    EXPECT_EQ(open_code(patched(4, le32s(0))), DB_ERR_ROOT_PAGE);
    EXPECT_EQ(open_code(patched(4, le32s(1500))), DB_ERR_ROOT_PAGE);
    EXPECT_EQ(open_code(patched(4, le32s(2048))), DB_ERR_ROOT_PAGE);
    EXPECT_EQ(open_code(patched(18, le16s(52))), DB_ERR_MAX_KEYS);
    EXPECT_EQ(open_code(patched(20, le16s(24))), DB_ERR_MIN_KEYS);
    EXPECT_EQ(open_code(patched(22, std::string(256, 'A'))), DB_ERR_KEY_EXPR);
    EXPECT_EQ(open_code(create("M.NTX", 10), 1), DB_ERR_VERSION);
    EXPECT_EQ(open_code(patched(0, le16s(99))), 0);  // the signature is not checked
}

TEST_F(NtxFormat, OddFileLengthOpensWithAWarningAndNewPagesStayWhole) {
    const std::string path = create("ODD.NTX", 10);
    write_file(path, read_file(path) + "x");
    int32_t h = -1;
    ASSERT_EQ(DBclOpenIndex(&h, path.c_str(), 0), DB_WARN_FILE_LENGTH);
    for (int i = 0; i < 60; ++i) ASSERT_EQ(DBclAddKey(h, key_of(i, 10).c_str(), i + 1), 0);
    EXPECT_EQ(DBclCloseIndex(h), 0);
    EXPECT_EQ(read_file(path).size() % 1024, 0u);
    h = open(path);
    EXPECT_EQ(walk_forward(h).size(), 60u);
    EXPECT_TRUE(problems(h).empty());
}

TEST_F(NtxFormat, FailedOpensLeaveNoHandleMemoryOrDescriptor) {
    const std::string bad = patched(14, le16s(0));
    const std::string good = create("G.NTX", 10);
    FaultHost host;
    ScopedHost guard(host);
    const std::size_t blocks = host.live_blocks();
    EXPECT_LT(open_code(bad), 0);
    EXPECT_EQ(open_code(dir_.file("MISSING.NTX")), DB_ERR_FILE_NOT_FOUND);
    host.fail_nth(Call::allocate, 3, ENOMEM);  // packet, path, then the first buffer...
    int32_t h = -1;
    const int32_t code = DBclOpenIndex(&h, good.c_str(), 0);
    if (code >= 0) DBclCloseIndex(h);
    host.fail_nth(Call::allocate, 1, ENOMEM);
    EXPECT_EQ(DBclOpenIndex(&h, good.c_str(), 0), DB_ERR_MEMORY);
    EXPECT_EQ(h, -1);
    EXPECT_EQ(host.live_blocks(), blocks);
    EXPECT_EQ(host.open_descriptors(), 0u);
}

// Damaged pages and looping trees give -206 at the first use, never a crash or hang.
class NtxDamage : public NtxFormat {
protected:
    // A two-level tree of 60 keys, closed; the root is a page with one key.
    std::string two_levels() {
        const std::string path = create("D.NTX", 10);
        const int32_t h = open(path);
        for (int i = 0; i < 60; ++i) EXPECT_EQ(DBclAddKey(h, key_of(i, 10).c_str(), i + 1), 0);
        EXPECT_EQ(DBclCloseIndex(h), 0);
        return path;
    }
    int32_t search_code(const std::string& path) {
        const int32_t h = open(path);
        char key[256] = "0000000003";
        uint32_t recno = 0;
        const int32_t code = DBclKeySearch(h, key, &recno, DB_SEARCH_KEY);
        char k2[256];
        EXPECT_EQ(DBclGoFirstKey(h, k2, &recno), code < 0 ? code : 0);
        DBclCloseIndex(h);
        return code;
    }
    void poke(const std::string& path, int64_t at, const std::string& bytes) {
        std::string file = read_file(path);
        file.replace(static_cast<std::size_t>(at), bytes.size(), bytes);
        write_file(path, file);
    }
    uint32_t root_of(const std::string& path) { return le32(read_file(path).data() + 4); }
};

TEST_F(NtxDamage, BadCountsSlotsAndChildrenGiveCorruptAtTheFirstUse) {
    // Each damage to a fresh two-level tree: the byte offset (from the root page,
    // or in the first child page) and what is written there.
    const auto slot0 = [](const std::string& page) { return le16(page.data() + 2); };
    const struct {
        const char* what;
        bool in_child;
        std::function<std::pair<uint32_t, std::string>(const std::string& page, uint32_t root)> damage;
    } cases[] = {
        {"count above max items", false, [](const std::string&, uint32_t) { return std::pair{0u, le16s(51)}; }},
        {"slot outside the page", false, [](const std::string&, uint32_t) { return std::pair{2u, le16s(1020)}; }},
        {"slot named twice", false, [](const std::string& p, uint32_t) { return std::pair{4u, p.substr(2, 2)}; }},
        {"child is its own page", false, [&](const std::string& p, uint32_t root) { return std::pair{uint32_t(slot0(p)), le32s(root)}; }},
        {"child beyond the file", false, [&](const std::string& p, uint32_t) { return std::pair{uint32_t(slot0(p)), le32s(1024 * 1000)}; }},
        {"child off a page boundary", false, [&](const std::string& p, uint32_t) { return std::pair{uint32_t(slot0(p)), le32s(1500)}; }},
        {"empty page below the root", true, [](const std::string&, uint32_t) { return std::pair{0u, le16s(0)}; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = two_levels();
        const uint32_t root = root_of(path);
        const std::string page = read_file(path).substr(root, 1024);
        const uint32_t base = c.in_child ? le32(page.data() + slot0(page)) : root;
        const auto [at, bytes] = c.damage(page, root);
        poke(path, base + at, bytes);
        EXPECT_EQ(search_code(path), DB_ERR_CORRUPT);
        const int32_t h = open(path);
        char key[256];
        uint32_t recno = 0;
        EXPECT_LT(DBclGetKeyAtPercent(h, 0, key, &recno), 0);
        EXPECT_FALSE(problems(h).empty());  // the checker names it too
        DBclCloseIndex(h);
    }
}

TEST_F(NtxDamage, FreeChainLeavingTheFileStopsTheSplitThatNeedsIt) {
    const std::string path = two_levels();
    poke(path, 8, le32s(1024 * 500));
    const int32_t h = open(path);
    int32_t code = 0;
    for (int i = 100; i < 200 && code == 0; ++i) code = DBclAddKey(h, key_of(i, 10).c_str(), 1);
    EXPECT_EQ(code, DB_ERR_CORRUPT);
}

TEST_F(NtxFormat, InformationAndExpression) {
    std::string e = "descend(name)";
    const std::string path = dir_.file("I.NTX");
    ASSERT_EQ(DBclCreateIndex(path.c_str(), 'N' | DB_KEY_UNIQUE, e.data(), 12, 3), 0);
    const int32_t h = open(path, DB_OPEN_READONLY | DB_OPEN_SHARED);
    DBclIndexInfo info;
    std::memset(&info, 0, sizeof info);
    info.state = 0x80;
    ASSERT_EQ(DBclGetIndexInfo(h, &info), 0);
    EXPECT_STREQ(info.name, path.c_str());
    EXPECT_EQ(info.state, 0x80 | DB_INFO_READONLY | DB_INFO_SHARED);
    EXPECT_TRUE(info.key_length == 12 && info.key_type == '?' && info.decimals == 3 && info.expr_length == 13);
    EXPECT_EQ(info.key_flags, DB_KEYFLAG_UNIQUE | DB_KEYFLAG_DESCENDING);
    char text[256];
    EXPECT_EQ(DBclGetIndexKeyExpr(h, text), 0);
    EXPECT_STREQ(text, "DESCEND(NAME)");
    EXPECT_EQ(DBclAddKey(h, "1", 1), DB_ERR_READ_ONLY);
    EXPECT_EQ(DBclGetIndexInfo(h + 1, &info), DB_ERR_HANDLE);
}
