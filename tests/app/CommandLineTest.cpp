#include "updater/CommandLine.h"

#include <gtest/gtest.h>

using namespace Korvane::Updater;
using Arguments = std::vector<std::string>;

TEST(CommandLineTest, Parsing)
{
    struct Case
    {
        Arguments arguments;
        bool valid;
        std::string sku;
        Arguments relaunch;
    };
    const Case cases[] = {
        {{"--product-sku", "X"}, true, "X", {}},
        {{"--product-sku", "A", "--product-sku", "B"}, true, "B", {}},
        {{"--product-sku", "--", "x"}, true, "--", {}},
        {{"foo", "--product-sku", "X", "bar"}, true, "X", {}},
        {{"--product-sku", "X", "--", "/p/app", "a"}, true, "X", {"\"/p/app\"", "\"a\""}},
        {{"--product-sku", "X", "--", "\"/p/app\"", ""}, true, "X", {"\"/p/app\"", "\"\""}},
        {{"--product-sku", "X", "--", "a\"", "\"b"}, true, "X", {"\"a\"", "\"b\""}},
        {{}, false, "", {}},
        {{"--product-sku"}, false, "", {}},
        {{"--product-sku", ""}, false, "", {}},
        {{"--", "/p/app", "--product-sku", "X"},
         false,
         "",
         {"\"/p/app\"", "\"--product-sku\"", "\"X\""}},
        {{"--PRODUCT-SKU", "X"}, false, "", {}},
    };
    for (const Case& c : cases)
    {
        const CommandLine parsed = ParseCommandLine(c.arguments);
        const std::string label = testing::PrintToString(c.arguments);
        EXPECT_EQ(parsed.valid, c.valid) << label;
        EXPECT_EQ(parsed.sku, c.sku) << label;
        EXPECT_EQ(parsed.relaunchCommandLine, c.relaunch) << label;
    }
}

TEST(CommandLineTest, QuotingMatchesTheToolkitRule)
{
    EXPECT_EQ(QuoteRelaunchArgument(""), "\"\"");
    EXPECT_EQ(QuoteRelaunchArgument("\""), "\"");
    EXPECT_EQ(QuoteRelaunchArgument("a b"), "\"a b\"");
    EXPECT_EQ(QuoteRelaunchArgument("\"quoted\""), "\"quoted\"");
}

TEST(CommandLineTest, RelaunchUnquotesOnlyThePath)
{
    Arguments stored{"\"/p/app\"", "\"a\""};
    EXPECT_EQ(RelaunchProgramPath(stored), "/p/app");
    const std::vector<char*> array = RelaunchArgumentArray(stored);
    ASSERT_EQ(array.size(), 3u);
    EXPECT_STREQ(array[0], "\"/p/app\"");
    EXPECT_STREQ(array[1], "\"a\"");
    EXPECT_EQ(array[2], nullptr);

    EXPECT_EQ(RelaunchProgramPath({"\""}), "");
    EXPECT_EQ(RelaunchProgramPath({"\"\""}), "");
    EXPECT_EQ(RelaunchProgramPath({}), "");
}
