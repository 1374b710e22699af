#include "scanner/JsonCommentStripper.h"

#include <gtest/gtest.h>

using Korvane::UpdateManager::FindExcessiveNesting;
using Korvane::UpdateManager::StripJsonComments;

TEST(JsonCommentStripperTest, BlanksCommentsOutsideStrings)
{
    struct Case
    {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"{} // tail", "{}        "},
        {"{/* a */\"k\": 1}", "{       \"k\": 1}"},
        {"[1, /* two\nlines */ 2]", "[1,       \n         2]"},
        {"// a\r\n{}", "    \r\n{}"},
        {"{\"u\": \"http://x\"}", "{\"u\": \"http://x\"}"},
        {"{\"c\": \"/* not */ // no\"}", "{\"c\": \"/* not */ // no\"}"},
        {"[\"say \\\"hi\\\" // x\"] // y", "[\"say \\\"hi\\\" // x\"]     "},
        {"[\"ends with backslash \\\\\" /* c */]", "[\"ends with backslash \\\\\"        ]"},
        {"[1] /* unterminated", "[1] /* unterminated"},
        {"/**/[1]/***/", "    [1]     "},
        {"1 / 2", "1 / 2"},
        {"\"open string // x", "\"open string // x"},
        {"/", "/"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StripJsonComments(c.text), c.expected) << c.text;
}

TEST(JsonCommentStripperTest, FindsExcessiveNestingOutsideStrings)
{
    EXPECT_EQ(FindExcessiveNesting("[[[]]]", 3), 0u);
    EXPECT_EQ(FindExcessiveNesting("[\n[\n{\"a\": []}]]", 3), 3u);
    EXPECT_EQ(FindExcessiveNesting("[\"[[[[\\\"[[[[\", [], []]", 2), 0u);
    EXPECT_EQ(FindExcessiveNesting("[\"a\nb\",\n[[]]]", 2), 3u);
    EXPECT_EQ(FindExcessiveNesting(std::string(100000, '['), 256), 1u);
    EXPECT_EQ(FindExcessiveNesting("]]]][", 1), 0u);
}
