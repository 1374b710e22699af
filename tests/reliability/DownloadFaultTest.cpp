// Faults of the installer's server, one download at a time through the
// download worker into a Downloads folder in a temp home. Each case judges
// the transfer state the manager would act on, the product status the next
// start would compute from the disk, and every file left behind.
#include "FaultVerdict.h"

#include "UpdateStatus.h"
#include "basictools/logger/CLog.h"
#include "resources/Downloader.h"
#include "support/CapturedStdout.h"
#include "support/LoopbackHttpServer.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <functional>
#include <optional>

namespace fs = boost::filesystem;
using namespace Korvane::Testing;
using Korvane::UpdateManager::DownloaderBackgrounder;
using Data = DownloaderBackgrounder::Data;
using Cut = ScriptedResponse::Cut;

namespace
{
constexpr size_t kInstallerSize = 300000;

class DownloadFaultTest : public ::testing::Test
{
  protected:
    DownloadFaultTest()
    {
        mCapture.emplace();
        CSingleton<CLog>::getInstance()->SetChannelLevels({{"download", eLogDebug}});
        mDownloader.emplace("Faulty Product");
        mOutsideBefore = mScene.OutsideDownloads();
    }

    ~DownloadFaultTest() override
    {
        mDownloader.reset();
        mServer.reset();
        CSingleton<CLog>::destroyInstance();
    }

    // The first request is answered by `fault`, every later one correctly.
    void ServeFaultThenHealthy(
        std::function<ScriptedResponse(const std::string&, const RecordedRequest&)> fault)
    {
        mServer.emplace(
            [this, fault](const RecordedRequest& request)
            {
                if (mRequests.fetch_add(1) == 0)
                    return fault(mSource, request);
                return ScriptedResponse::Resource(mSource, request);
            });
    }

    Data Job(int64_t resumeFrom, const std::string& checksum) const
    {
        Data data;
        data.mUrl = mServer->Url("/files/Setup.dmg");
        data.mDestination = mScene.Installer();
        data.mExpectedChecksum = checksum;
        data.mExpectedSize = static_cast<int64_t>(mSource.size());
        data.mResumeFrom = resumeFrom;
        return data;
    }

    // One download as the manager runs it: from what the disk says, then a
    // confirm file when the worker reports it complete.
    int Download()
    {
        int64_t startingPosition = 0;
        mScene.StatusOnDisk(startingPosition);
        mDownloader->StartDownload(Job(startingPosition, mMd5));
        EXPECT_TRUE(WaitUntilEnded(*mDownloader)) << "the transfer hung";
        const int state = mDownloader->mTransferState.load();
        if (state == DownloaderBackgrounder::TransferComplete)
            mScene.Confirm(mDownloader->mComputedChecksum);
        ExpectPromisesKept(mScene, state, mSource, mOutsideBefore);
        return state;
    }

    int64_t OnDisk() const
    {
        return fs::exists(mScene.Installer())
                   ? static_cast<int64_t>(fs::file_size(mScene.Installer()))
                   : -1;
    }

    bool PrefixOnDisk() const
    {
        const std::string text = ReadFile(mScene.Installer());
        return mSource.compare(0, text.size(), text) == 0;
    }

    std::optional<CapturedStdout> mCapture;
    FaultScene mScene;
    std::set<std::string> mOutsideBefore;
    const std::string mSource = InstallerBytes(kInstallerSize);
    const std::string mMd5 = Md5Of(mSource);
    std::atomic<int> mRequests{0};
    std::optional<LoopbackHttpServer> mServer;
    std::optional<DownloaderBackgrounder> mDownloader;
};

// --- connection cuts -------------------------------------------------------

struct CutCase
{
    const char* name;
    size_t cutAfter; // body bytes sent before the cut
    Cut cut;
    int firstState;
};

class ConnectionCut : public DownloadFaultTest, public ::testing::WithParamInterface<CutCase>
{
};

TEST_P(ConnectionCut, EndsResumableAndResumeCompletesTheSameFile)
{
    const CutCase& cutCase = GetParam();
    ServeFaultThenHealthy(
        [&cutCase](const std::string& source, const RecordedRequest& request)
        {
            auto response = ScriptedResponse::Resource(source, request);
            response.mCut = cutCase.cut;
            response.mCutAfter = cutCase.cutAfter;
            return response;
        });

    ASSERT_EQ(Download(), cutCase.firstState);
    EXPECT_EQ(OnDisk(), static_cast<int64_t>(cutCase.cutAfter)) << "bytes received are kept";
    EXPECT_TRUE(PrefixOnDisk());
    int64_t startingPosition = 0;
    if (cutCase.firstState == DownloaderBackgrounder::TransferComplete)
    {
        EXPECT_EQ(mScene.StatusOnDisk(startingPosition),
                  Korvane::UpdateManager::InstallerAvailable);
        return;
    }
    EXPECT_EQ(mScene.StatusOnDisk(startingPosition), Korvane::UpdateManager::DownloadPaused);
    EXPECT_EQ(startingPosition, static_cast<int64_t>(cutCase.cutAfter));

    ASSERT_EQ(Download(), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
    EXPECT_EQ(mScene.StatusOnDisk(startingPosition), Korvane::UpdateManager::InstallerAvailable);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ConnectionCut,
    ::testing::Values(
        CutCase{"ResetAtFirstByte", 0, Cut::Reset, DownloaderBackgrounder::TransferStopped},
        CutCase{"CloseAtFirstByte", 0, Cut::Close, DownloaderBackgrounder::TransferStopped},
        CutCase{"ResetInTheMiddle", kInstallerSize / 2, Cut::Reset,
                DownloaderBackgrounder::TransferStopped},
        CutCase{"CloseInTheMiddle", kInstallerSize / 2, Cut::Close,
                DownloaderBackgrounder::TransferStopped},
        CutCase{"ResetOneByteBeforeTheEnd", kInstallerSize - 1, Cut::Reset,
                DownloaderBackgrounder::TransferStopped},
        CutCase{"CloseOneByteBeforeTheEnd", kInstallerSize - 1, Cut::Close,
                DownloaderBackgrounder::TransferStopped},
        CutCase{"ResetExactlyAtTheEnd", kInstallerSize, Cut::Reset,
                DownloaderBackgrounder::TransferComplete},
        CutCase{"CloseExactlyAtTheEnd", kInstallerSize, Cut::Close,
                DownloaderBackgrounder::TransferComplete}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

// --- a server that stops sending --------------------------------------------

TEST_F(DownloadFaultTest, StalledServerTimesOutAndResumeCompletes)
{
    ServeFaultThenHealthy(
        [](const std::string& source, const RecordedRequest& request)
        {
            auto response = ScriptedResponse::Resource(source, request);
            response.mStallAfter = 100000;
            return response;
        });

    // The client's 10 s receive time-out ends the transfer; the bound is generous.
    ASSERT_EQ(Download(), DownloaderBackgrounder::TransferStopped);
    EXPECT_TRUE(PrefixOnDisk());
    EXPECT_EQ(OnDisk(), 100000);
    mServer->ReleaseStall();

    ASSERT_EQ(Download(), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
}

// --- answers that are not what was asked for ---------------------------------

struct AnswerCase
{
    const char* name;
    size_t onDisk; // bytes of the installer already downloaded (unconfirmed)
    std::function<ScriptedResponse(const std::string&, const RecordedRequest&)> answer;
    int firstState;
    // What lies in the installer file after the first transfer.
    enum Left
    {
        PrefixOfInstaller, // bytes of the real installer only: a later resume completes it
        WholeInstaller,
        SomethingElse, // not the installer; never confirmed
    } left;
};

class WrongAnswer : public DownloadFaultTest, public ::testing::WithParamInterface<AnswerCase>
{
};

TEST_P(WrongAnswer, IsNeverTakenForTheInstaller)
{
    const AnswerCase& answerCase = GetParam();
    WriteFile(mScene.Installer(), mSource.substr(0, answerCase.onDisk));
    ServeFaultThenHealthy(answerCase.answer);

    ASSERT_EQ(Download(), answerCase.firstState);
    int64_t startingPosition = 0;
    const int status = mScene.StatusOnDisk(startingPosition);
    switch (answerCase.left)
    {
    case AnswerCase::WholeInstaller:
        EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
        EXPECT_EQ(status, Korvane::UpdateManager::InstallerAvailable);
        return;
    case AnswerCase::PrefixOfInstaller:
        EXPECT_TRUE(PrefixOnDisk());
        break;
    case AnswerCase::SomethingElse:
        EXPECT_NE(ReadFile(mScene.Installer()), mSource);
        EXPECT_NE(status, Korvane::UpdateManager::InstallerAvailable);
        return;
    }
    // The next attempt, against a server that behaves, ends with the installer.
    EXPECT_EQ(status, Korvane::UpdateManager::DownloadPaused);
    ASSERT_EQ(Download(), DownloaderBackgrounder::TransferComplete);
    EXPECT_EQ(ReadFile(mScene.Installer()), mSource);
}

ScriptedResponse LongerLength(const std::string& source, const RecordedRequest& request)
{
    auto response = ScriptedResponse::Resource(source, request);
    response.mAnnouncedLength = static_cast<int64_t>(response.mBody.size()) + 1000;
    response.mCut = Cut::Close; // the body ends short of what was announced
    response.mCutAfter = response.mBody.size();
    return response;
}

ScriptedResponse ShorterLength(const std::string& source, const RecordedRequest& request)
{
    auto response = ScriptedResponse::Resource(source, request);
    response.mAnnouncedLength = static_cast<int64_t>(response.mBody.size()) - 1000;
    response.mCloseAfter = true;
    return response;
}

ScriptedResponse WholeForARange(const std::string& source, const RecordedRequest& request)
{
    return ScriptedResponse::Resource(source, request, /*honourRange=*/false);
}

ScriptedResponse RangeNotSatisfiableWithoutTotal(const std::string&, const RecordedRequest&)
{
    auto response = ScriptedResponse::Status(416);
    response.mHeaders.emplace_back("Content-Range", "bytes */many");
    return response;
}

ScriptedResponse ServerError(const std::string&, const RecordedRequest&)
{
    return ScriptedResponse::Status(500, "<html><body>Internal Server Error</body></html>");
}

ScriptedResponse Redirect(const std::string&, const RecordedRequest&)
{
    auto response = ScriptedResponse::Status(302, "moved");
    response.mHeaders.emplace_back("Location", "/elsewhere/Setup.dmg");
    return response;
}

ScriptedResponse HtmlPage(const std::string&, const RecordedRequest&)
{
    auto response = ScriptedResponse::Status(200, "<html><body>Please log in</body></html>");
    response.mHeaders.emplace_back("Content-Type", "text/html");
    return response;
}

ScriptedResponse NoLength(const std::string& source, const RecordedRequest& request)
{
    auto response = ScriptedResponse::Resource(source, request);
    response.mAnnounceLength = false;
    return response;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WrongAnswer,
    ::testing::Values(
        AnswerCase{"ContentLengthLargerThanBody", 0, LongerLength,
                   DownloaderBackgrounder::TransferStopped, AnswerCase::PrefixOfInstaller},
        AnswerCase{"ContentLengthSmallerThanBody", 0, ShorterLength,
                   DownloaderBackgrounder::TransferFailed, AnswerCase::PrefixOfInstaller},
        AnswerCase{"WholeResourceForARangedRequest", 1000, WholeForARange,
                   DownloaderBackgrounder::TransferComplete, AnswerCase::WholeInstaller},
        AnswerCase{"RangeNotSatisfiableWithATotalThatIsNoNumber", kInstallerSize,
                   RangeNotSatisfiableWithoutTotal, DownloaderBackgrounder::TransferFailed,
                   AnswerCase::PrefixOfInstaller},
        AnswerCase{"ServerError", 1000, ServerError, DownloaderBackgrounder::TransferFailed,
                   AnswerCase::PrefixOfInstaller},
        AnswerCase{"RedirectIsNotFollowed", 1000, Redirect, DownloaderBackgrounder::TransferFailed,
                   AnswerCase::PrefixOfInstaller},
        AnswerCase{"HtmlPageInsteadOfTheInstaller", 0, HtmlPage,
                   DownloaderBackgrounder::TransferFailed, AnswerCase::SomethingElse},
        AnswerCase{"BodyWithoutContentLength", 0, NoLength, DownloaderBackgrounder::TransferFailed,
                   AnswerCase::PrefixOfInstaller}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

} // namespace
