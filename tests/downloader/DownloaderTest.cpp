#include "resources/Downloader.h"

#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempDirectory.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <gtest/gtest.h>

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <optional>
#include <thread>

namespace fs = boost::filesystem;
using namespace Korvane::Testing;
using Korvane::UpdateManager::DownloaderBackgrounder;
using Data = DownloaderBackgrounder::Data;

namespace
{
constexpr size_t kSourceSize = 300000;

std::string Md5Of(const std::string& text)
{
    Poco::MD5Engine md5;
    md5.update(text);
    return Poco::DigestEngine::digestToHex(md5.digest());
}

std::string Pattern(size_t size, unsigned seed = 1)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 131 + i / 251 + seed * 7) & 0xff);
    return text;
}

// A transfer has ended when the worker publishes a final state.
bool WaitUntilEnded(const DownloaderBackgrounder& downloader)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!downloader.HasStopped())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class DownloaderTest : public ::testing::Test
{
  protected:
    DownloaderTest()
    {
        mCapture.emplace();
        // Before the worker thread exists: the channel table has no lock.
        CSingleton<CLog>::getInstance()->SetChannelLevels({{"download", eLogDebug}});
        mDownloader.emplace("Test Product");
    }

    // Serves mSource at every path; `honourRange` false answers 200 to ranged requests.
    void ServeSource(bool honourRange = true)
    {
        mServer.emplace([this, honourRange](const RecordedRequest& request)
                        { return ScriptedResponse::Resource(mSource, request, honourRange); });
    }

    void Serve(LoopbackHttpServer::Handler handler) { mServer.emplace(std::move(handler)); }

    Data Job(int64_t resumeFrom = 0) const
    {
        Data data;
        data.mUrl = mServer->Url("/files/Setup.dmg");
        data.mDestination = mFile;
        data.mExpectedChecksum = mMd5;
        data.mExpectedSize = static_cast<int64_t>(mSource.size());
        data.mResumeFrom = resumeFrom;
        return data;
    }

    int Run(const Data& data)
    {
        mDownloader->StartDownload(data);
        EXPECT_TRUE(WaitUntilEnded(*mDownloader));
        return mDownloader->mTransferState.load();
    }

    // Ends the worker and the log, and returns what was logged.
    std::string Finish()
    {
        mDownloader.reset();
        CSingleton<CLog>::destroyInstance();
        return mCapture->Release();
    }

    std::optional<std::string> RangeOf(size_t request) const
    {
        return mServer->Requests().at(request).Header("Range");
    }

    std::optional<CapturedStdout> mCapture;
    TempDirectory mDirectory;
    const fs::path mFile = mDirectory / "Setup.dmg";
    const std::string mSource = Pattern(kSourceSize);
    const std::string mMd5 = Md5Of(mSource);
    std::optional<LoopbackHttpServer> mServer;
    std::optional<DownloaderBackgrounder> mDownloader;
};

TEST_F(DownloaderTest, FullDownloadIsCompleteAndVerified)
{
    ServeSource();
    ASSERT_EQ(Run(Job()), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(mDownloader->mComputedChecksum, mMd5);
    EXPECT_EQ(mDownloader->mTransferProgress.load(), 1.0);
    EXPECT_EQ(ReadFile(mFile), mSource);
    EXPECT_EQ(RangeOf(0), std::nullopt);

    const std::string url = mServer->Url("/files/Setup.dmg");
    const std::string log = Finish();
    EXPECT_NE(log.find("HttpDownload Start " + url + " -> \"" + mFile.string() +
                       "\" (expected size: 300000, checksum: " + mMd5),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Download complete (\"" + mFile.string() + "\")"), std::string::npos);
    EXPECT_NE(log.find("Checksum : '" + mMd5 + "'. Expected: '" + mMd5 + "'"), std::string::npos);
    EXPECT_EQ(log.find("| error"), std::string::npos) << log;
}

TEST_F(DownloaderTest, BareHostAndPathGetsTheHttpScheme)
{
    ServeSource();
    Data data = Job();
    data.mUrl = mServer->HostAndPort() + "/files/Setup.dmg";
    ASSERT_EQ(Run(data), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(mServer->Requests().at(0).mTarget, "/files/Setup.dmg");
}

TEST_F(DownloaderTest, MissingDownloadsDirectoryIsCreated)
{
    ServeSource();
    Data data = Job();
    data.mDestination = mDirectory / "home" / "Downloads" / "Setup.dmg";
    ASSERT_EQ(Run(data), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(data.mDestination), mSource);
}

// How a finished body is judged: the expected checksum and the server's length.
struct CheckCase
{
    const char* name;
    enum Checksum
    {
        Right,
        Wrong,
        UpperCase,
        Empty
    } checksum;
    bool announceLength;
    int64_t resumeFrom; // bytes of the source already on disk
    int expectedState;
    bool checksumComputed;
    std::vector<std::string> expectedLines; // "%F" stands for the file path
};

void PrintTo(const CheckCase& c, std::ostream* out)
{
    *out << c.name;
}

class DownloadCheckTest : public DownloaderTest, public ::testing::WithParamInterface<CheckCase>
{
};

TEST_P(DownloadCheckTest, OutcomeAndLogLines)
{
    const CheckCase& c = GetParam();
    Serve(
        [this, &c](const RecordedRequest& request)
        {
            auto response = ScriptedResponse::Resource(mSource, request);
            response.mAnnounceLength = c.announceLength;
            return response;
        });
    WriteFile(mFile, mSource.substr(0, static_cast<size_t>(c.resumeFrom)));

    Data data = Job(c.resumeFrom);
    if (c.checksum == CheckCase::Wrong)
        data.mExpectedChecksum = Md5Of("something else");
    if (c.checksum == CheckCase::UpperCase)
        data.mExpectedChecksum = boost::algorithm::to_upper_copy(mMd5);
    if (c.checksum == CheckCase::Empty)
        data.mExpectedChecksum.clear();

    EXPECT_EQ(Run(data), c.expectedState);
    EXPECT_EQ(mDownloader->mComputedChecksum, c.checksumComputed ? Md5Of(ReadFile(mFile)) : "");

    const std::string log = Finish();
    for (std::string line : c.expectedLines)
    {
        const auto at = line.find("%F");
        if (at != std::string::npos)
            line.replace(at, 2, mFile.string());
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadCheckTest,
    ::testing::Values(CheckCase{"WrongChecksum",
                                CheckCase::Wrong,
                                true,
                                0,
                                DownloaderBackgrounder::TransferFailed,
                                true,
                                {"| error  | Bad checksum for %F\n"}},
                      CheckCase{"UpperCaseChecksumNeverMatches",
                                CheckCase::UpperCase,
                                true,
                                0,
                                DownloaderBackgrounder::TransferFailed,
                                true,
                                {"| error  | Bad checksum for %F\n"}},
                      CheckCase{
                          "NoExpectedChecksum",
                          CheckCase::Empty,
                          true,
                          0,
                          DownloaderBackgrounder::TransferComplete,
                          false,
                          {"| warning | No expected checksum for %F. Can't verify download.\n"}},
                      // Without a length the client reads nothing and reports the offset
                      // minus one as the total: the 1000 bytes on disk are then one too many.
                      CheckCase{"SizeDiffersFromTotal",
                                CheckCase::Right,
                                false,
                                1000,
                                DownloaderBackgrounder::TransferFailed,
                                true,
                                {"| error  | The size of %F is 1000 while 999 is expected\n",
                                 "| error  | Bad checksum for %F\n"}},
                      CheckCase{"NoUsableTotal",
                                CheckCase::Right,
                                false,
                                0,
                                DownloaderBackgrounder::TransferFailed,
                                true,
                                {"| error  | Invalid expected size for %F (-1)\n",
                                 "| error  | Bad checksum for %F\n"}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST_F(DownloaderTest, CutConnectionStopsAndResumesToTheSameFile)
{
    Serve(
        [this](const RecordedRequest& request)
        {
            auto response = ScriptedResponse::Resource(mSource, request);
            if (!request.Header("Range"))
            {
                response.mCut = ScriptedResponse::Cut::Reset;
                response.mCutAfter = 100000;
            }
            return response;
        });
    ASSERT_EQ(Run(Job()), DownloaderBackgrounder::TransferStopped);
    const int64_t partial = static_cast<int64_t>(fs::file_size(mFile));
    ASSERT_GT(partial, 0);
    ASSERT_LT(partial, static_cast<int64_t>(kSourceSize));
    EXPECT_EQ(ReadFile(mFile), mSource.substr(0, static_cast<size_t>(partial)));

    ASSERT_EQ(Run(Job(partial)), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(RangeOf(1), "bytes=" + std::to_string(partial) + "-");
    EXPECT_EQ(ReadFile(mFile), mSource);
    EXPECT_EQ(mDownloader->mComputedChecksum, mMd5);
}

TEST_F(DownloaderTest, FileOfTheRecordedSizeIsResumed)
{
    ServeSource();
    WriteFile(mFile, mSource.substr(0, 1000));
    ASSERT_EQ(Run(Job(1000)), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(RangeOf(0), "bytes=1000-");
    EXPECT_EQ(ReadFile(mFile), mSource);
}

TEST_F(DownloaderTest, FileOfAnotherSizeIsDeletedAndFetchedFromZero)
{
    ServeSource();
    WriteFile(mFile, std::string(1200, 'g'));
    ASSERT_EQ(Run(Job(1000)), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(RangeOf(0), std::nullopt);
    EXPECT_EQ(ReadFile(mFile), mSource);
}

TEST_F(DownloaderTest, CompleteFileOnDiskNeedsNoBody)
{
    ServeSource();
    WriteFile(mFile, mSource);
    ASSERT_EQ(Run(Job(kSourceSize)), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(RangeOf(0), "bytes=300000-");
    EXPECT_EQ(ReadFile(mFile), mSource);
}

TEST_F(DownloaderTest, ServerIgnoringTheRangeStillYieldsTheRightFile)
{
    ServeSource(/*honourRange=*/false);
    // What is on disk does not match the source: appending the whole body to
    // it would make a file of the wrong size and content.
    WriteFile(mFile, std::string(1000, 'g'));
    ASSERT_EQ(Run(Job(1000)), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(RangeOf(0), "bytes=1000-");
    EXPECT_EQ(ReadFile(mFile), mSource);
    EXPECT_EQ(mDownloader->mComputedChecksum, mMd5);
}

TEST_F(DownloaderTest, FtpAddressTransfersNothingAndStaysIdle)
{
    ServeSource();
    for (const char* url : {"ftp://127.0.0.1/Setup.dmg", "FTP://127.0.0.1/Setup.dmg", "ftp"})
    {
        Data data = Job();
        data.mUrl = url;
        mDownloader->StartDownload(data);
        EXPECT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferIdle);
    }
    mDownloader->FtpDownload(std::make_shared<Data>(Job()));
    EXPECT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferIdle);
    mDownloader.reset(); // runs the queued jobs
    EXPECT_TRUE(mServer->Requests().empty());
    EXPECT_FALSE(fs::exists(mFile));
}

TEST_F(DownloaderTest, WaitingStopReturnsAfterTheJobEnded)
{
    const std::string big = Pattern(8 * 1024 * 1024, 2);
    Serve(
        [&big](const RecordedRequest& request)
        {
            auto response = ScriptedResponse::Resource(big, request);
            response.mStallAfter = 65536;
            return response;
        });
    mDownloader->StartDownload(Job());
    ASSERT_TRUE(mServer->WaitForStall(std::chrono::seconds(60)));
    ASSERT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferRunning);

    mDownloader->StopDownload(false); // returns at once: the transfer is blocked
    mServer->ReleaseStall();
    mDownloader->StopDownload(true);
    // No waiting here: the job must already have ended.
    EXPECT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferStopped);
    const auto partial = fs::file_size(mFile);
    EXPECT_LT(partial, big.size());
    EXPECT_EQ(ReadFile(mFile), big.substr(0, partial));

    CSingleton<CLog>::destroyInstance(); // drains what was logged so far
    const std::string log = mCapture->Release();
    EXPECT_NE(log.find("Download complete (\"" + mFile.string() + "\")"), std::string::npos) << log;
}

TEST_F(DownloaderTest, StopRequestLeftAfterAJobDoesNotStopTheNextOne)
{
    Serve(
        [this](const RecordedRequest& request)
        {
            auto response = ScriptedResponse::Resource(mSource, request);
            if (!request.Header("Range"))
                response.mStallAfter = 1000;
            return response;
        });
    mDownloader->StartDownload(Job());
    ASSERT_TRUE(mServer->WaitForStall(std::chrono::seconds(60)));
    // Two requests while running: the first ends the loop, the second is left.
    mDownloader->StopDownload(false);
    mDownloader->StopDownload(false);
    mServer->ReleaseStall();
    ASSERT_TRUE(WaitUntilEnded(*mDownloader));
    ASSERT_EQ(mDownloader->mTransferState.load(), DownloaderBackgrounder::TransferStopped);

    const auto partial = static_cast<int64_t>(fs::file_size(mFile));
    ASSERT_EQ(Run(Job(partial)), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mFile), mSource);
}

TEST_F(DownloaderTest, StopWhileIdleDoesNothing)
{
    ServeSource();
    mDownloader->StopDownload(true);
    ASSERT_EQ(Run(Job()), DownloaderBackgrounder::TransferComplete);
}

TEST_F(DownloaderTest, UnreachableServerStopsForALaterResume)
{
    uint16_t closedPort = 0;
    {
        LoopbackHttpServer gone([](const RecordedRequest&)
                                { return ScriptedResponse::Status(200); });
        closedPort = gone.Port();
    }
    ServeSource();
    Data data = Job();
    data.mUrl = "http://127.0.0.1:" + std::to_string(closedPort) + "/Setup.dmg";
    EXPECT_EQ(Run(data), DownloaderBackgrounder::TransferStopped);
}

TEST_F(DownloaderTest, ErrorStatusFails)
{
    Serve([](const RecordedRequest&) { return ScriptedResponse::Status(404, "not here"); });
    EXPECT_EQ(Run(Job()), DownloaderBackgrounder::TransferFailed);
    const std::string log = Finish();
    EXPECT_NE(log.find("Download complete ("), std::string::npos) << log;
}

TEST_F(DownloaderTest, UnparsableUrlFailsWithItsLine)
{
    ServeSource();
    Data data = Job();
    data.mUrl = "http://127.0.0.1:port/Setup.dmg";
    EXPECT_EQ(Run(data), DownloaderBackgrounder::TransferFailed);
    EXPECT_TRUE(mServer->Requests().empty());
    const std::string log = Finish();
    EXPECT_NE(log.find("| error  | Error while downloading http://127.0.0.1:port/Setup.dmg to " +
                       mFile.string() + " : "),
              std::string::npos)
        << log;
}

TEST_F(DownloaderTest, DestinationThatIsADirectoryFailsWithItsLine)
{
    ServeSource();
    fs::create_directories(mFile / "inside");
    EXPECT_EQ(Run(Job(0)), DownloaderBackgrounder::TransferFailed);
    const std::string log = Finish();
    EXPECT_NE(log.find("Error while downloading "), std::string::npos) << log;
}

TEST_F(DownloaderTest, WorkerServesLaterDownloadsOfTheProduct)
{
    ServeSource();
    ASSERT_EQ(Run(Job()), DownloaderBackgrounder::TransferComplete);
    fs::remove(mFile);
    ASSERT_EQ(Run(Job()), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mFile), mSource);
    EXPECT_EQ(mServer->Requests().size(), 2u);
}

TEST(DownloaderCreatePathTest, SchemeIsKeptOrDefaulted)
{
    DownloaderBackgrounder downloader("paths");
    auto data = std::make_shared<Data>();
    data->mUrl = "http://host:81/a/b.dmg?x=1";
    EXPECT_EQ(downloader.CreatePath(data), "http://host:81/a/b.dmg?x=1");
    data->mUrl = "//host/a.dmg";
    EXPECT_EQ(downloader.CreatePath(data), "http://host/a.dmg");
}
} // namespace
