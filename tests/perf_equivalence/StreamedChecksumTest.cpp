// The download worker on every path a file can take to completion: the file,
// the states, the checksum it reports and its log lines must be what a plain
// pass over the finished file gives.
#include "resources/Check.h"
#include "resources/Downloader.h"

#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempDirectory.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <optional>
#include <sstream>
#include <thread>

namespace fs = boost::filesystem;
using namespace Korvane::Testing;
using Korvane::UpdateManager::Check;
using Korvane::UpdateManager::DownloaderBackgrounder;
using Data = DownloaderBackgrounder::Data;

namespace
{
// Several of the sink's blocks, and not a whole number of them.
constexpr size_t kSourceSize = 3 * 1024 * 1024 + 12345;

std::string Md5Of(const std::string& text)
{
    Poco::MD5Engine md5;
    md5.update(text);
    return Poco::DigestEngine::digestToHex(md5.digest());
}

std::string Pattern(size_t size)
{
    std::string text(size, '\0');
    uint32_t state = 0x12345678;
    for (auto& c : text)
    {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    return text;
}

bool WaitUntilEnded(const DownloaderBackgrounder& downloader)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!downloader.HasStopped())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Level and text of the worker's log lines (the job thread's own start and
// exit lines left out).
std::vector<std::string> Messages(const std::string& log)
{
    std::vector<std::string> messages;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line))
    {
        if (line.rfind("[LOG] ", 0) != 0)
            continue;
        size_t at = 0;
        for (int bar = 0; bar < 3 && at != std::string::npos; ++bar)
            at = line.find(" | ", at + 1);
        if (at != std::string::npos && line.find("ActiveDownloader", at) == std::string::npos)
            messages.push_back(line.substr(at + 3));
    }
    return messages;
}

class StreamedChecksumTest : public ::testing::Test
{
  protected:
    StreamedChecksumTest()
    {
        mCapture.emplace();
        CSingleton<CLog>::getInstance()->SetChannelLevels({{"download", eLogDebug}});
        mDownloader.emplace("Test Product");
    }

    Data Job(int64_t resumeFrom) const
    {
        Data data;
        data.mUrl = mServer->Url("/files/Setup.dmg");
        data.mDestination = mFile;
        data.mExpectedChecksum = mMd5;
        data.mExpectedSize = static_cast<int64_t>(mSource.size());
        data.mResumeFrom = resumeFrom;
        return data;
    }

    int Run(int64_t resumeFrom)
    {
        mDownloader->StartDownload(Job(resumeFrom));
        EXPECT_TRUE(WaitUntilEnded(*mDownloader));
        return mDownloader->mTransferState.load();
    }

    // What the worker published as present must be on disk by the time it
    // says the transfer ended: the next resume starts from the file's size.
    void ExpectPublishedBytesOnDisk() const
    {
        const double published =
            mDownloader->mTransferProgress.load() * static_cast<double>(mSource.size());
        EXPECT_EQ(OnDisk(), std::llround(published));
    }

    int64_t OnDisk() const
    {
        return fs::exists(mFile) ? static_cast<int64_t>(fs::file_size(mFile)) : 0;
    }

    // The finished file against the source, and the reported checksum
    // against a fresh pass over the file.
    void ExpectVerifiedFile()
    {
        EXPECT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferComplete);
        EXPECT_TRUE(ReadFile(mFile) == mSource);
        EXPECT_EQ(mDownloader->mComputedChecksum, Check::ComputeChecksum(mFile));
        EXPECT_EQ(mDownloader->mComputedChecksum, mMd5);
        EXPECT_EQ(mDownloader->mTransferProgress.load(), 1.0);
    }

    std::vector<std::string> FinishLog()
    {
        mDownloader.reset();
        CSingleton<CLog>::destroyInstance();
        return Messages(mCapture->Release());
    }

    std::string StartLine() const
    {
        return "info   | HttpDownload Start " + mServer->Url("/files/Setup.dmg") + " -> \"" +
               mFile.string() + "\" (expected size: " + std::to_string(mSource.size()) +
               ", checksum: " + mMd5;
    }
    std::string CompleteLine() const
    {
        return "info   | Download complete (\"" + mFile.string() + "\")";
    }
    std::string ChecksumLine() const
    {
        return "debug  | Checksum : '" + mMd5 + "'. Expected: '" + mMd5 + "'";
    }

    std::optional<CapturedStdout> mCapture;
    TempDirectory mDirectory;
    const fs::path mFile = mDirectory / "Setup.dmg";
    const std::string mSource = Pattern(kSourceSize);
    const std::string mMd5 = Md5Of(mSource);
    std::optional<LoopbackHttpServer> mServer;
    std::optional<DownloaderBackgrounder> mDownloader;
};

TEST_F(StreamedChecksumTest, FullDownload)
{
    mServer.emplace([this](const RecordedRequest& r)
                    { return ScriptedResponse::Resource(mSource, r); });
    Run(0);
    ExpectVerifiedFile();
    EXPECT_EQ(FinishLog(), (std::vector<std::string>{StartLine(), CompleteLine(), ChecksumLine()}));
}

TEST_F(StreamedChecksumTest, ResumedFromAPartOnDisk)
{
    mServer.emplace([this](const RecordedRequest& r)
                    { return ScriptedResponse::Resource(mSource, r); });
    const size_t onDisk = 1024 * 1024 + 777;
    WriteFile(mFile, mSource.substr(0, onDisk));
    Run(static_cast<int64_t>(onDisk));
    ExpectVerifiedFile();
    EXPECT_EQ(mServer->Requests().at(0).Header("Range"), "bytes=" + std::to_string(onDisk) + "-");
    EXPECT_EQ(FinishLog(), (std::vector<std::string>{StartLine(), CompleteLine(), ChecksumLine()}));
}

TEST_F(StreamedChecksumTest, RestartedFromZeroWhenTheServerIgnoresTheRange)
{
    mServer.emplace([this](const RecordedRequest& r)
                    { return ScriptedResponse::Resource(mSource, r, /*honourRange=*/false); });
    WriteFile(mFile, std::string(5000, 'g'));
    Run(5000);
    ExpectVerifiedFile();
    EXPECT_EQ(FinishLog(), (std::vector<std::string>{StartLine(),
                                                     "info   | Server ignored the range for \"" +
                                                         mFile.string() + "\", downloading from 0",
                                                     CompleteLine(), ChecksumLine()}));
}

TEST_F(StreamedChecksumTest, CutSeveralTimesAndResumedEachTime)
{
    // Every answer breaks 1 MiB + 3 bytes after where it started, until the end.
    mServer.emplace(
        [this](const RecordedRequest& r)
        {
            auto response = ScriptedResponse::Resource(mSource, r);
            response.mCut = ScriptedResponse::Cut::Reset;
            response.mCutAfter = 1024 * 1024 + 3;
            if (response.mBody.size() <= response.mCutAfter)
                response.mCut = ScriptedResponse::Cut::None;
            return response;
        });
    int rounds = 0;
    while (Run(OnDisk()) == DownloaderBackgrounder::TransferStopped && rounds < 20)
    {
        ++rounds;
        ExpectPublishedBytesOnDisk();
        EXPECT_TRUE(ReadFile(mFile) == mSource.substr(0, static_cast<size_t>(OnDisk())));
    }
    EXPECT_GE(rounds, 3);
    ExpectVerifiedFile();
    const auto messages = FinishLog();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), ChecksumLine());
}

TEST_F(StreamedChecksumTest, StoppedByTheUserSeveralTimesAndResumed)
{
    // Each answer but the last halts half a MiB in, until the test lets it go.
    const auto stallingServer = [this]
    {
        mServer.emplace(
            [this](const RecordedRequest& r)
            {
                auto response = ScriptedResponse::Resource(mSource, r);
                response.mStallAfter = 512 * 1024;
                return response;
            });
    };
    for (int stop = 0; stop < 3; ++stop)
    {
        stallingServer();
        mDownloader->StartDownload(Job(OnDisk()));
        ASSERT_TRUE(mServer->WaitForStall(std::chrono::seconds(60)));
        // Seen after the next chunk, once the server goes on.
        mDownloader->StopDownload(false);
        mServer->ReleaseStall();
        ASSERT_TRUE(WaitUntilEnded(*mDownloader));
        ASSERT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferStopped);
        ExpectPublishedBytesOnDisk();
        EXPECT_TRUE(ReadFile(mFile) == mSource.substr(0, static_cast<size_t>(OnDisk())));
    }
    ASSERT_LT(OnDisk(), static_cast<int64_t>(kSourceSize));
    mServer.emplace([this](const RecordedRequest& r)
                    { return ScriptedResponse::Resource(mSource, r); });
    Run(OnDisk());
    ExpectVerifiedFile();
}

TEST_F(StreamedChecksumTest, FileChangedBehindTheWorkersBackIsStillJudgedByItsContent)
{
    // A file of the right size whose earlier part differs from the source: the
    // resumed transfer completes it, and the check must see the bad part.
    mServer.emplace([this](const RecordedRequest& r)
                    { return ScriptedResponse::Resource(mSource, r); });
    std::string wrongStart = mSource.substr(0, 4096);
    wrongStart[100] = static_cast<char>(wrongStart[100] ^ 1);
    WriteFile(mFile, wrongStart);
    EXPECT_EQ(Run(4096), DownloaderBackgrounder::TransferFailed);
    EXPECT_EQ(mDownloader->mComputedChecksum, Check::ComputeChecksum(mFile));
    EXPECT_NE(mDownloader->mComputedChecksum, mMd5);
    const auto messages = FinishLog();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "error  | Bad checksum for " + mFile.string());
}

TEST_F(StreamedChecksumTest, NoExpectedChecksumLeavesItEmpty)
{
    mServer.emplace([this](const RecordedRequest& r)
                    { return ScriptedResponse::Resource(mSource, r); });
    Data data = Job(0);
    data.mExpectedChecksum.clear();
    mDownloader->StartDownload(data);
    ASSERT_TRUE(WaitUntilEnded(*mDownloader));
    EXPECT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(mDownloader->mComputedChecksum, "");
    EXPECT_TRUE(ReadFile(mFile) == mSource);
}
} // namespace
