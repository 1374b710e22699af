#include "basictools/stlutils.h"

#include <gtest/gtest.h>

using Korvane::stlutils::replace_all;
using Korvane::stlutils::tokenize;

TEST(StlUtilsTest, ReplaceAll)
{
    struct Case
    {
        const char* text;
        const char* from;
        const char* to;
        const char* expected;
    };
    const Case cases[] = {
        {"/a/./b/./c", "/./", "/", "/a/b/c"},
        {"/a/b", "/./", "/", "/a/b"},
        {"xay", "a", "aa", "xaay"},
        {"aaa", "a", "b", "bbb"},
        {"", "a", "b", ""},
        {"abc", "", "", "abc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(replace_all(c.text, c.from, c.to), c.expected) << c.text;
}

TEST(StlUtilsTest, TokenizeSkipsEmptyTokensAndAppends)
{
    std::vector<std::string> tokens{"kept"};
    tokenize("  1.22..3 . 4 ", tokens, " .");
    EXPECT_EQ(tokens, (std::vector<std::string>{"kept", "1", "22", "3", "4"}));

    std::vector<std::string> none;
    tokenize("", none, " .");
    tokenize(" .. ", none, " .");
    EXPECT_TRUE(none.empty());

    std::vector<std::string> whole;
    tokenize("abc", whole, ".");
    EXPECT_EQ(whole, (std::vector<std::string>{"abc"}));
}
