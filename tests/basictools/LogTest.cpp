#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <boost/filesystem/path.hpp>

#include <future>
#include <optional>
#include <regex>
#include <thread>

using Korvane::Testing::CapturedStdout;
using Korvane::Testing::ScopedEnvironment;

namespace
{
CLog* Log()
{
    return CSingleton<CLog>::getInstance();
}

size_t Count(const std::string& text, const std::string& pattern)
{
    size_t count = 0;
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
        ++count;
    return count;
}

// Length of a formatted line without its body and newline.
size_t HeaderLength(const char* channel, ELogLevel level)
{
    std::ostringstream empty;
    return Log()->getLogMsg(channel, level, empty).size() - 1;
}

// Each test starts without a log (and without UPDATER_LOG) and ends by
// destroying the one it created, so the final drain has run before the
// captured output is read.
class LogTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        CSingleton<CLog>::destroyInstance();
        mCapture.emplace();
    }

    std::string StopAndRead()
    {
        CSingleton<CLog>::destroyInstance();
        return mCapture->Release();
    }

    ScopedEnvironment mNoConfig{"UPDATER_LOG", std::nullopt};
    std::optional<CapturedStdout> mCapture;
};
} // namespace

TEST_F(LogTest, LineFormat)
{
    Log()->SetChannelLevels({{"update_manager", eLogInfo}, {"web", eLogDebug}});
    Log()->buildLog("update_manager", eLogInfo, " Initialize UpdateManager");
    Log()->buildLog("web", eLogWarning, "n=", 42, ' ', std::string("s"), " ", -7L, " ", 9UL, " ",
                    boost::filesystem::path("/a \"b\"&c"));
    Log()->buildLog("web", eLogDebug);
    const std::string output = StopAndRead();

    const std::string head = R"(\[LOG\] [0-9 ]{6} \| 0x[0-9a-f]+ *\| )";
    EXPECT_TRUE(std::regex_search(
        output, std::regex(head + R"(update_manager  \| info   \|  Initialize UpdateManager\n)")))
        << output;
    EXPECT_TRUE(std::regex_search(
        output, std::regex(head + R"(web             \| warning \| n=42 s -7 9 "/a &"b&"&&c"\n)")))
        << output;
    EXPECT_TRUE(std::regex_search(output, std::regex(head + R"(web             \| debug  \| \n)")))
        << output;
}

TEST_F(LogTest, ChannelFilter)
{
    Log()->SetChannelLevels({{"install", eLogWarning}});
    Log()->buildLog("install", eLogInfo, "below");
    Log()->buildLog("install", eLogWarning, "at");
    Log()->buildLog("install", eLogError, "above");
    Log()->buildLog("download", eLogAssert, "no entry");
    const std::string output = StopAndRead();
    EXPECT_EQ(Count(output, "below"), 0u);
    EXPECT_EQ(Count(output, "| at\n"), 1u);
    EXPECT_EQ(Count(output, "| above\n"), 1u);
    EXPECT_EQ(Count(output, "no entry"), 0u);
}

TEST_F(LogTest, EmptyTableShowsOnlyTheEngineLines)
{
    Log()->buildLog("update_manager", eLogAssert, "hidden");
    const std::string output = StopAndRead();
    EXPECT_EQ(Count(output, "[LOG]"), 0u);
    EXPECT_EQ(Count(output, "#### Log engine initialization.\n"), 1u);
    EXPECT_EQ(Count(output, "#### Log engine destruction.\n"), 1u);
}

TEST_F(LogTest, EnvironmentEnablesChannels)
{
    ScopedEnvironment config("UPDATER_LOG", std::string("*=error,web=debug"));
    Log()->buildLog("web", eLogDebug, "exact entry wins");
    Log()->buildLog("install", eLogError, "wildcard");
    Log()->buildLog("install", eLogWarning, "below wildcard");
    const std::string output = StopAndRead();
    EXPECT_EQ(Count(output, "exact entry wins"), 1u);
    EXPECT_EQ(Count(output, "| wildcard\n"), 1u);
    EXPECT_EQ(Count(output, "below wildcard"), 0u);
}

TEST_F(LogTest, TwentyFirstThreadWritesDirectlyAfterWarning)
{
    Log()->SetChannelLevels({{"download", eLogInfo}});
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::vector<std::thread> owners;
    std::atomic<int> logged{0};
    // The twenty owners stay alive so no thread id can be reused meanwhile.
    for (int index = 0; index < CLogBuffers::kSlotCount; ++index)
    {
        owners.emplace_back(
            [&, index]
            {
                Log()->buildLog("download", eLogInfo, "owner ", index);
                ++logged;
                released.wait();
            });
    }
    while (logged.load() < CLogBuffers::kSlotCount)
        std::this_thread::yield();
    std::thread extra([] { Log()->buildLog("download", eLogInfo, "the extra thread"); });
    extra.join();
    release.set_value();
    for (std::thread& owner : owners)
        owner.join();

    const std::string output = StopAndRead();
    const std::regex warned(
        "WARNING : TOO MANY THREADS ARE WORKING TOGETHER- LOG CAN BE CORRUPTED.\n"
        R"(\[LOG\][^\n]*\| the extra thread\n\n)");
    EXPECT_TRUE(std::regex_search(output, warned)) << output;
    EXPECT_EQ(Count(output, "| owner "), 20u);
}

TEST_F(LogTest, LongLinesAreCutAt9999Bytes)
{
    Log()->SetChannelLevels({{"web", eLogInfo}});
    const size_t header = HeaderLength("web", eLogInfo);
    const std::string fits(9999 - header - 1, 'a');
    const std::string tooLong(10000 - header - 1, 'b');
    Log()->buildLog("web", eLogInfo, fits);
    CSingleton<CLog>::getInstance()->StopWorkingThread();
    Log()->buildLog("web", eLogInfo, tooLong);
    const std::string output = StopAndRead();

    EXPECT_NE(output.find(fits + "\n"), std::string::npos);
    // The 10000-byte line lost its last byte, its newline.
    const size_t at = output.find(tooLong);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(output.substr(at + tooLong.size(), 1), "\n");
}

TEST_F(LogTest, WrappedRingDrainsInOrder)
{
    Log()->SetChannelLevels({{"web", eLogInfo}});
    const std::string first(6000, 'x');
    const std::string second(6000, 'y');
    Log()->buildLog("web", eLogInfo, first);
    // The stop drains the ring, so the second line wraps past its end without
    // overrunning text that is still pending.
    Log()->StopWorkingThread();
    Log()->buildLog("web", eLogInfo, second);
    const std::string output = StopAndRead();

    EXPECT_EQ(Count(output, "Writing too fast"), 0u);
    const size_t firstAt = output.find(first + "\n");
    const size_t secondAt = output.find(second + "\n");
    ASSERT_NE(firstAt, std::string::npos) << output.size();
    ASSERT_NE(secondAt, std::string::npos);
    EXPECT_LT(firstAt, secondAt);
}

TEST_F(LogTest, FullRingIsDrainedWhole)
{
    Log()->StopWorkingThread();
    const std::string block(9999, 'q');
    Log()->WriteDataInBuffer(block.data(), static_cast<int>(block.size()));
    Log()->WriteDataInBuffer("!", 1);
    const std::string output = StopAndRead();
    EXPECT_EQ(Count(output, "Writing too fast"), 0u);
    EXPECT_NE(output.find(block + "!"), std::string::npos);
}

TEST_F(LogTest, OverrunWarnsAndKeepsWriting)
{
    Log()->StopWorkingThread();
    const std::string block(6000, 'o');
    Log()->WriteDataInBuffer(block.data(), static_cast<int>(block.size()));
    Log()->WriteDataInBuffer(block.data(), static_cast<int>(block.size()));
    const std::string output = StopAndRead();
    EXPECT_EQ(Count(output, " [WRITE] Writing too fast, no time to read ! Msg: "), 1u);
}

TEST_F(LogTest, StopThenLogStartsTheWriterAgain)
{
    Log()->SetChannelLevels({{"web", eLogInfo}});
    Log()->StopWorkingThread();
    Log()->buildLog("web", eLogInfo, "after stop");
    const std::string output = StopAndRead();
    EXPECT_EQ(Count(output, "LOG - START THREAD "), 2u);
    EXPECT_EQ(Count(output, "LOG - STOP THREAD asked "), 2u);
    EXPECT_EQ(Count(output, "LOG FLUSH DONE "), 2u);
    EXPECT_EQ(Count(output, "| after stop\n"), 1u);
}

TEST_F(LogTest, DestroyWithoutInstancePrintsTheWholeLifecycle)
{
    const std::string output = StopAndRead();
    const std::regex lifecycle("#### Log engine initialization.\n"
                               "LOG - START THREAD [^\n]*basictools_tests\n"
                               "LOG - STOP THREAD asked [^\n]*\n"
                               "LOG FLUSH DONE [^\n]*\n"
                               "#### Log engine destruction.\n");
    EXPECT_TRUE(std::regex_search(output, lifecycle)) << output;
}

TEST_F(LogTest, LinesOfOneThreadKeepTheirOrder)
{
    Log()->SetChannelLevels({{"download", eLogDebug}});
    for (int index = 0; index < 60; ++index)
        Log()->buildLog("download", eLogDebug, "line ", index);
    const std::string output = StopAndRead();
    size_t previous = 0;
    for (int index = 0; index < 60; ++index)
    {
        const size_t at = output.find("| line " + std::to_string(index) + "\n");
        ASSERT_NE(at, std::string::npos) << index;
        EXPECT_GT(at, previous);
        previous = at;
    }
}
