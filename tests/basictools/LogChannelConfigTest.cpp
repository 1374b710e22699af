#include "basictools/logger/LogChannelConfig.h"

#include <gtest/gtest.h>

#include <sstream>

using Korvane::ParseLogChannels;

TEST(LogChannelConfigTest, ParsesEntries)
{
    struct Case
    {
        const char* text;
        std::map<std::string, ELogLevel> expected;
        int warnings;
    };
    const Case cases[] = {
        {"", {}, 0},
        {"update_manager=info,download=debug",
         {{"update_manager", eLogInfo}, {"download", eLogDebug}},
         0},
        {"*=debug", {{"*", eLogDebug}}, 0},
        {" web = warning , timing=notice,", {{"web", eLogWarning}, {"timing", eLogNotice}}, 0},
        {"web=loud,install=error", {{"install", eLogError}}, 1},
        {"web,=info,install=assert", {{"install", eLogAssert}}, 2},
        {"web=info,web=except", {{"web", eLogExcept}}, 0},
    };
    for (const Case& c : cases)
    {
        std::ostringstream warnings;
        EXPECT_EQ(ParseLogChannels(c.text, warnings), c.expected) << c.text;
        const std::string text = warnings.str();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), c.warnings) << c.text;
    }
}
