// What the NTX tests share: a library started per test, files in a scratch
// directory, key texts, and whole-index walks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/api.hpp"
#include "ntx/checker.hpp"
#include "support/scratch_dir.hpp"

namespace xbdb::test {

using KeyList = std::vector<std::pair<std::string, uint32_t>>;

class NtxTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DBInitialize(20, 1), 0); }
    void TearDown() override { DBTerminate(); }

    // Creates an index of character keys and returns its path.
    std::string create(const std::string& name, int32_t key_length, int32_t type = 'C',
                       const char* expression = "NAME", int32_t decimals = 0) {
        std::string path = dir_.file(name);
        std::string text = expression;
        EXPECT_EQ(DBclCreateIndex(path.c_str(), type, text.data(), key_length, decimals), 0);
        return path;
    }
    int32_t open(const std::string& path, int32_t mode = 0) {
        int32_t handle = -1;
        const int32_t code = DBclOpenIndex(&handle, path.c_str(), mode);
        EXPECT_GE(code, 0) << path;
        return handle;
    }

    ScratchDir dir_;
};

// n (not negative) as a zero-padded key of width characters.
inline std::string key_of(long n, int width) {
    const std::string digits = std::to_string(n);
    return std::string(static_cast<std::size_t>(std::max<int>(width - int(digits.size()), 0)), '0') + digits;
}

// Every key and record number from first to last.
inline KeyList walk_forward(int32_t handle) {
    KeyList keys;
    char key[256];
    uint32_t recno = 0;
    for (int32_t code = DBclGoFirstKey(handle, key, &recno); code == 0;
         code = DBclGoNextKey(handle, key, &recno))
        keys.emplace_back(key, recno);
    return keys;
}

// Every key and record number from last to first.
inline KeyList walk_backward(int32_t handle) {
    KeyList keys;
    char key[256];
    uint32_t recno = 0;
    for (int32_t code = DBclGoLastKey(handle, key, &recno); code == 0;
         code = DBclGoPreviousKey(handle, key, &recno))
        keys.emplace_back(key, recno);
    return keys;
}

// The checker's findings as text, for assertions that print them.
inline std::vector<std::string> problems(int32_t handle, const ntx::CheckOptions& o = {}) {
    std::vector<std::string> out;
    for (const auto& p : ntx::check_index(handle, o))
        out.push_back(std::to_string(p.page) + ": " + p.text);
    return out;
}

}  // namespace xbdb::test
