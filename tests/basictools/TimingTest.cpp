#include "basictools/CTiming.h"
#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

using Korvane::CTiming;

TEST(TimingTest, UnitsAndShortDurations)
{
    CTiming millis("m", true);
    CTiming micros("u", false);
    EXPECT_EQ(millis.GetUnit(), "ms");
    EXPECT_EQ(micros.GetUnit(), "micros");
    // Well under a millisecond has passed: truncated to 0 ms.
    EXPECT_EQ(millis.GetDuration(), 0);
    EXPECT_GE(micros.GetDuration(), 0);
}

TEST(TimingTest, DestructorLogsNameValueAndUnit)
{
    Korvane::Testing::CapturedStdout capture;
    CSingleton<CLog>::getInstance()->SetChannelLevels({{"timing", eLogNotice}});
    {
        CTiming timing("Complete Scan", true);
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    CSingleton<CLog>::destroyInstance();
    const std::string output = capture.Release();
    EXPECT_TRUE(std::regex_search(
        output, std::regex(R"(\| timing +\| notice \| Complete Scan : [0-9]+ ms\n)")))
        << output;
}
