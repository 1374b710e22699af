#include "resources/Active.h"

#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

using Korvane::Testing::CapturedStdout;
using Korvane::UpdateManager::ActiveDownloader;

namespace
{
void EnableDownloadLog()
{
    CSingleton<CLog>::getInstance()->SetChannelLevels({{"download", eLogDebug}});
}

std::string DrainLog(CapturedStdout& capture)
{
    CSingleton<CLog>::destroyInstance();
    return capture.Release();
}
} // namespace

TEST(ActiveDownloaderTest, JobsFromSeveralThreadsRunOneAtATimeInSendOrder)
{
    constexpr int kProducers = 4;
    constexpr int kJobsEach = 250;

    std::vector<int> executed; // touched only by the worker until it is joined
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    {
        auto active = ActiveDownloader::createActive("order");
        // Numbers are handed out under the same lock as Send, so number order
        // is the order in which the sends reached the queue.
        std::mutex sendMutex;
        int next = 0;
        std::vector<std::thread> producers;
        for (int p = 0; p < kProducers; ++p)
            producers.emplace_back(
                [&]
                {
                    for (int i = 0; i < kJobsEach; ++i)
                    {
                        std::lock_guard<std::mutex> lock(sendMutex);
                        const int number = next++;
                        active->Send(
                            [&, number]
                            {
                                if (running.fetch_add(1) != 0)
                                    ++overlaps;
                                executed.push_back(number);
                                std::this_thread::yield();
                                running.fetch_sub(1);
                            });
                    }
                });
        for (auto& producer : producers)
            producer.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
    ASSERT_EQ(executed.size(), static_cast<size_t>(kProducers * kJobsEach));
    for (size_t i = 0; i < executed.size(); ++i)
        ASSERT_EQ(executed[i], static_cast<int>(i));
}

TEST(ActiveDownloaderTest, DestructionRunsQueuedJobsBeforeExiting)
{
    CapturedStdout capture;
    EnableDownloadLog();

    std::vector<int> executed;
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    auto active = ActiveDownloader::createActive("drain");
    active->Send([opened] { opened.wait(); });
    for (int i = 0; i < 20; ++i)
        active->Send(
            [&executed, i]
            {
                executed.push_back(i);
                CSingleton<CLog>::getInstance()->buildLog("download", eLogDebug, "job ", i);
            });

    // The jobs are still queued behind the gate when destruction begins.
    std::thread opener([&gate] { gate.set_value(); });
    active.reset();
    opener.join();

    ASSERT_EQ(executed.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(executed[i], i);

    const std::string log = DrainLog(capture);
    const auto start = log.find("ActiveDownloader Start Threaddrain");
    const auto lastJob = log.find("job 19");
    const auto exit = log.find("ActiveDownloader Exit Threaddrain");
    ASSERT_NE(start, std::string::npos) << log;
    ASSERT_NE(lastJob, std::string::npos) << log;
    ASSERT_NE(exit, std::string::npos) << log;
    EXPECT_LT(start, lastJob);
    EXPECT_LT(lastJob, exit);
}

TEST(ActiveDownloaderTest, IdleObjectIsDestroyedAndLogsItsExit)
{
    CapturedStdout capture;
    EnableDownloadLog();
    ActiveDownloader::createActive("idle").reset();
    const std::string log = DrainLog(capture);
    EXPECT_NE(log.find("ActiveDownloader Exit Threadidle"), std::string::npos) << log;
}

TEST(ActiveDownloaderTest, EmptyJobIsSkipped)
{
    std::promise<int> done;
    auto result = done.get_future();
    auto active = ActiveDownloader::createActive("empty");
    active->Send(ActiveDownloader::Job());
    active->Send([&done] { done.set_value(1); });
    ASSERT_EQ(result.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(result.get(), 1);
}

TEST(ActiveDownloaderTest, JobsRunOnTheWorkerThreadNotTheCaller)
{
    std::promise<std::thread::id> ranOn;
    auto id = ranOn.get_future();
    auto active = ActiveDownloader::createActive("thread");
    active->Send([&ranOn] { ranOn.set_value(std::this_thread::get_id()); });
    ASSERT_EQ(id.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_NE(id.get(), std::this_thread::get_id());
}
