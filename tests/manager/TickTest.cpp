#include "ManagerFixture.h"

#include "resources/Installer.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

using namespace Korvane::Testing;
using namespace Korvane::UpdateManager;
namespace fs = boost::filesystem;

namespace
{
size_t Count(const std::string& text, const std::string& pattern)
{
    size_t count = 0;
    for (size_t at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
        ++count;
    return count;
}

class TickTest : public ManagerFixture
{
  protected:
    // One wanted product served with an installer of `size` bytes.
    void MakeProduct(const std::string& sku, const std::string& file, size_t size,
                     std::optional<size_t> stallAfter = {})
    {
        mContents[sku] = Payload(size, sku[0]);
        ServeProductWithFile(sku, file, mContents[sku], stallAfter);
    }

    void Start(const std::set<std::string>& skus)
    {
        MakeManager();
        Manager().SetAdditionalProducts(skus);
        Manager().Update();
        mEvents.Clear();
    }

    std::map<std::string, std::string> mContents;
};

TEST_F(TickTest, IdleWorkerFiresNothing)
{
    // An "ftp" job is queued and leaves the worker idle for good.
    ServedProduct product;
    product.mName = "Alpha";
    product.mPermalink = "ftp://127.0.0.1/dl/Alpha.dmg";
    Serve("alpha", product);
    Start({"alpha"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));

    for (int tick = 0; tick < 5; ++tick)
        Manager().ProcessState();

    EXPECT_EQ(Status("alpha"), DownloadInProgress);
    EXPECT_FALSE(Manager().IsDownloading("alpha"));
    EXPECT_TRUE(mEvents.mChanged.empty());
    EXPECT_TRUE(mEvents.mProgress.empty());
}

TEST_F(TickTest, EachRunningTickFiresOneProgressEvent)
{
    MakeProduct("alpha", "Alpha.dmg", 200000, 50000);
    Start({"alpha"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(mServer.WaitForStall(kTickBound));
    ASSERT_TRUE(TickUntil([&] { return Manager().IsDownloading("alpha"); }));
    mEvents.Clear();

    for (int tick = 0; tick < 3; ++tick)
        Manager().ProcessState();

    ASSERT_EQ(mEvents.mProgress.size(), 3u);
    for (const DownloadProgressEvent& event : mEvents.mProgress)
    {
        EXPECT_EQ(event.sku, "alpha");
        EXPECT_FALSE(event.completed);
        EXPECT_GE(event.progress, 0.0);
        EXPECT_LT(event.progress, 1.0);
    }
    EXPECT_TRUE(mEvents.mChanged.empty());
    EXPECT_EQ(Status("alpha"), DownloadInProgress);
    mServer.ReleaseStall();
}

TEST_F(TickTest, CompleteDownloadBecomesAvailableWithItsConfirmFile)
{
    MakeProduct("alpha", "Alpha.dmg", 100000);
    Start({"alpha"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));

    ASSERT_TRUE(TickUntil([&] { return Status("alpha") != DownloadInProgress; }));

    EXPECT_EQ(Status("alpha"), InstallerAvailable);
    const fs::path file = Downloads() / "Alpha.dmg";
    EXPECT_EQ(ReadFile(file), mContents["alpha"]);
    boost::property_tree::ptree confirm;
    boost::property_tree::read_json((Downloads() / "Alpha.dmg.confirm").string(), confirm);
    EXPECT_EQ(confirm.get<std::string>("size"), "100000");
    EXPECT_EQ(confirm.get<std::string>("checksum"), Md5Hex(mContents["alpha"]));
    ASSERT_FALSE(mEvents.mProgress.empty());
    EXPECT_TRUE(mEvents.mProgress.back().completed);
    EXPECT_EQ(mEvents.mProgress.back().progress, 100.0);
    EXPECT_EQ(mEvents.mChanged, std::vector<std::string>{"alpha"});

    // Available stays available while its files are intact.
    mEvents.Clear();
    Manager().ProcessState();
    EXPECT_EQ(Status("alpha"), InstallerAvailable);
    EXPECT_TRUE(mEvents.mChanged.empty());

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, " Launch download for Product alpha (alpha)"), 1u) << log;
    EXPECT_EQ(Count(log, "State for product Product alphaalpha switch from download in progress to "
                         "installer available"),
              1u)
        << log;
}

TEST_F(TickTest, UrlChangedDuringTheTransferTriggersTheProductUpdate)
{
    MakeProduct("alpha", "Alpha.dmg", 100000, 20000);
    ServeFile("Alpha2.dmg", ServedFile{Payload(500), {}});
    Start({"alpha"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(mServer.WaitForStall(kTickBound));

    ServedProduct moved;
    moved.mName = "Product alpha";
    moved.mPermalink = FileUrl("Alpha2.dmg");
    moved.mSize = 500;
    Serve("alpha", moved);
    Manager().Update("alpha");
    EXPECT_EQ(Manager().GetProduct("alpha").mInstaller.GetDownloadURL(), FileUrl("Alpha.dmg"));
    const size_t queries = Hits(ResourcePath("alpha"));

    mServer.ReleaseStall();
    ASSERT_TRUE(TickUntil([&] { return Status("alpha") != DownloadInProgress; }));

    // The finished download was confirmed, then the product was asked for
    // again and now points at the new installer, which is not on disk yet.
    EXPECT_EQ(Hits(ResourcePath("alpha")), queries + 1);
    EXPECT_TRUE(fs::exists(Downloads() / "Alpha.dmg.confirm"));
    const ProductModel& model = Manager().GetProduct("alpha");
    EXPECT_EQ(model.mInstaller.GetDownloadURL(), FileUrl("Alpha2.dmg"));
    EXPECT_EQ(model.mInstaller.GetFile(), Downloads() / "Alpha2.dmg");
    EXPECT_EQ(model.mInstaller.GetStatus(), UpdateNeeded);
    ASSERT_FALSE(mEvents.mProgress.empty());
    EXPECT_TRUE(mEvents.mProgress.back().completed);
}

TEST_F(TickTest, NonForcedLaunchWhileDownloadingIsRefused)
{
    MakeProduct("alpha", "Alpha.dmg", 100000, 10000);
    Start({"alpha"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(mServer.WaitForStall(kTickBound));

    EXPECT_FALSE(Manager().LaunchDownload("alpha", false));
    EXPECT_EQ(Status("alpha"), DownloadInProgress);
    EXPECT_FALSE(Manager().LaunchDownload("nothing", false));
    EXPECT_FALSE(Manager().StopDownload("nothing", false));
    EXPECT_FALSE(Manager().CancelDownload("nothing"));
    EXPECT_FALSE(Manager().IsDownloading("nothing"));
    EXPECT_FALSE(Manager().LaunchInstall("nothing", true));
    mServer.ReleaseStall();

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, "| warning |  Attempt to launch download for Product alpha (alpha) but "
                         "status is download in progress"),
              1u)
        << log;
    EXPECT_EQ(Count(log, "| error  | Could not find product info for nothing while launching "
                         "download"),
              1u)
        << log;
    EXPECT_EQ(Count(log, "| error  | Could not find product info for nothing while stopping "
                         "download"),
              2u)
        << log;
    EXPECT_EQ(Count(log, "| warning | Could not find product info for nothing while launching "
                         "install"),
              1u)
        << log;
}

TEST_F(TickTest, ListenerResumesAPausedDownloadFromInsideNotify)
{
    MakeProduct("alpha", "Alpha.dmg", 100000, 30000);
    Start({"alpha"});
    std::vector<UpdateStatus> seen;
    int resumed = 0;
    mEvents.mOnChanged = [&](const std::string& sku)
    {
        seen.push_back(Status(sku));
        if (Status(sku) == DownloadPaused && Manager().LaunchDownload(sku, false))
            ++resumed;
    };
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(mServer.WaitForStall(kTickBound));
    ASSERT_TRUE(TickUntil([&] { return Manager().IsDownloading("alpha"); }));
    // The stop is seen at the next chunk, once the server goes on.
    Manager().StopDownload("alpha", false);
    mServer.ReleaseStall();

    ASSERT_TRUE(TickUntilStatus("alpha", InstallerAvailable));

    EXPECT_EQ(resumed, 1);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.front(), DownloadPaused);
    EXPECT_EQ(seen.back(), InstallerAvailable);
    EXPECT_EQ(ReadFile(Downloads() / "Alpha.dmg"), mContents["alpha"]);
    const std::vector<RecordedRequest> requests = mServer.Requests();
    ASSERT_FALSE(requests.empty());
    const std::optional<std::string> range = requests.back().Header("Range");
    ASSERT_TRUE(range.has_value());
    EXPECT_NE(*range, "bytes=0-");
}

TEST_F(TickTest, StopThenCancelDeletesTheFiles)
{
    MakeProduct("alpha", "Alpha.dmg", 100000, 20000);
    Start({"alpha"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(mServer.WaitForStall(kTickBound));
    ASSERT_TRUE(TickUntil([&] { return Manager().IsDownloading("alpha"); }));

    // The stop is seen at the next chunk, once the server goes on.
    EXPECT_TRUE(Manager().StopDownload("alpha", false));
    mServer.ReleaseStall();
    ASSERT_TRUE(TickUntilStatus("alpha", DownloadPaused));
    // The next tick measures the partial file.
    Manager().ProcessState();
    EXPECT_EQ(Status("alpha"), DownloadPaused);
    const int64_t partial = Manager().GetProduct("alpha").mInstaller.GetStartingPosition();
    EXPECT_GT(partial, 0);
    EXPECT_LT(partial, 100000);

    EXPECT_TRUE(Manager().CancelDownload("alpha"));
    EXPECT_FALSE(fs::exists(Downloads() / "Alpha.dmg"));
    EXPECT_EQ(Status("alpha"), UpdateNeeded);
    EXPECT_EQ(Manager().GetProduct("alpha").mInstaller.GetStartingPosition(), 0);
}

TEST_F(TickTest, FailedCheckBecomesDownloadFailed)
{
    MakeProduct("alpha", "Alpha.dmg", 5000);
    ServedProduct product;
    product.mName = "Product alpha";
    product.mPermalink = FileUrl("Alpha.dmg");
    product.mSize = 5000;
    product.mChecksum = std::string(32, '0');
    Serve("alpha", product);
    Start({"alpha"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));

    ASSERT_TRUE(TickUntil([&] { return Status("alpha") != DownloadInProgress; }));
    EXPECT_EQ(Status("alpha"), DownloadFailed);
    EXPECT_FALSE(fs::exists(Downloads() / "Alpha.dmg.confirm"));
    EXPECT_EQ(mEvents.mChanged, std::vector<std::string>{"alpha"});
}

TEST_F(TickTest, UnwritableConfirmFileLeavesAPartialDownload)
{
    MakeProduct("alpha", "Alpha.dmg", 20000);
    Start({"alpha"});
    // A directory where the confirm file goes makes writing it fail.
    fs::create_directories(Downloads() / "Alpha.dmg.confirm");
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));

    ASSERT_TRUE(TickUntil([&] { return Status("alpha") != DownloadInProgress; }));

    EXPECT_EQ(Status("alpha"), DownloadPaused);
    for (const DownloadProgressEvent& event : mEvents.mProgress)
        EXPECT_FALSE(event.completed);
    Manager().ProcessState();
    EXPECT_EQ(Status("alpha"), DownloadPaused);
    EXPECT_EQ(Manager().GetProduct("alpha").mInstaller.GetStartingPosition(), 20000);

    // Resuming the full file finds nothing left to fetch and confirms it.
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(TickUntil([&] { return Status("alpha") != DownloadInProgress; }));
    EXPECT_EQ(Status("alpha"), InstallerAvailable);
    EXPECT_TRUE(fs::is_regular_file(Downloads() / "Alpha.dmg.confirm"));

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, "| error  |  Could not confirm download for Product alpha (alpha): "), 1u)
        << log;
}

TEST_F(TickTest, ForcedLaunchRestartsFromTheBeginning)
{
    MakeProduct("alpha", "Alpha.dmg", 30000);
    Start({"alpha"});
    WriteFile(Downloads() / "Alpha.dmg", "stale partial content");
    Manager().ProcessState();
    ASSERT_TRUE(Manager().LaunchDownload("alpha", true));
    ASSERT_TRUE(TickUntil([&] { return Status("alpha") != DownloadInProgress; }));

    EXPECT_EQ(Status("alpha"), InstallerAvailable);
    EXPECT_EQ(ReadFile(Downloads() / "Alpha.dmg"), mContents["alpha"]);
    EXPECT_FALSE(mServer.Requests().back().Header("Range").has_value());
}

TEST_F(TickTest, SecondLaunchInstallIsRefused)
{
    MakeProduct("alpha", "Alpha.dmg", 1000);
    Start({"alpha"});
    EXPECT_FALSE(Manager().LaunchInstall("alpha", false));
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(TickUntilStatus("alpha", InstallerAvailable));

    EXPECT_TRUE(Manager().LaunchInstall("alpha", true));
    EXPECT_EQ(Status("alpha"), InstallerStart);
    EXPECT_FALSE(Manager().LaunchInstall("alpha", true));
    EXPECT_EQ(Status("alpha"), InstallerStart);

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, "| info   | Launch download for Product alpha (alpha)"), 1u) << log;
    EXPECT_EQ(Count(log, "| warning | Attempt to launch installer for Product alpha (alpha) but "
                         "installer is not available."),
              2u)
        << log;
}

TEST_F(TickTest, LaunchAllStartsDownloadsAndRequestsInstalls)
{
    MakeProduct("alpha", "Alpha.dmg", 1000);
    MakeProduct("beta", "Beta.dmg", 1000);
    Start({"alpha", "beta"});
    ASSERT_TRUE(Manager().LaunchDownload("alpha", false));
    ASSERT_TRUE(TickUntilStatus("alpha", InstallerAvailable));

    Manager().LaunchDownload();

    EXPECT_EQ(Status("alpha"), InstallerStart);
    EXPECT_EQ(Status("beta"), DownloadInProgress);
    ASSERT_TRUE(TickUntil([&] { return Status("beta") == InstallerAvailable; }));
}
} // namespace
