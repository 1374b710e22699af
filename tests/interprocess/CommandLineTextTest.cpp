#include "CommandLineText.h"

#include <gtest/gtest.h>

using namespace Korvane::IPC;

TEST(CommandLineTextTest, QuotesOnlyWhatNeedsIt)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/usr/sbin/installer", "/usr/sbin/installer"},
        {"-verboseR", "-verboseR"},
        {"", "''"},
        {"/Volumes/my disk/P.pkg", "'/Volumes/my disk/P.pkg'"},
        {"it's", "'it'\\''s'"},
        {"$(rm -rf ~);`x`\"", "'$(rm -rf ~);`x`\"'"},
    };
    for (const auto& [argument, quoted] : cases)
        EXPECT_EQ(QuoteArgument(argument), quoted);
}

TEST(CommandLineTextTest, SplitIsTheInverseOfJoin)
{
    const std::vector<std::vector<std::string>> cases = {
        {"/usr/sbin/installer", "-verboseR", "-target", "/", "-pkg", "/Volumes/a b/P.pkg"},
        {"a", "", "b"},
        {"'", "''", "\\", "a'b'c", "$HOME", "x;y|z&w", "tab\there", "new\nline", "`id`"},
        {"\xc3\xa9t\xc3\xa9 / caf\xc3\xa9"},
    };
    for (const std::vector<std::string>& arguments : cases)
    {
        std::vector<std::string> split;
        ASSERT_TRUE(SplitArguments(JoinArguments(arguments), split)) << JoinArguments(arguments);
        EXPECT_EQ(split, arguments);
    }
}

TEST(CommandLineTextTest, SplitAcceptsExtraSpacesAndEscapes)
{
    std::vector<std::string> split;
    ASSERT_TRUE(SplitArguments("  a\t b\\ c  'd e'f ", split));
    EXPECT_EQ(split, (std::vector<std::string>{"a", "b c", "d ef"}));
}

TEST(CommandLineTextTest, SplitRejectsMalformedLines)
{
    const std::string cases[] = {
        "", "   ", "'open", "a 'b", "trailing\\", std::string("a\0b", 3), "a\nb"};
    for (const std::string& line : cases)
    {
        std::vector<std::string> split{"stale"};
        EXPECT_FALSE(SplitArguments(line, split)) << line;
        EXPECT_TRUE(split.empty());
    }
}
