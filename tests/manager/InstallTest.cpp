#include "ManagerFixture.h"

#include "resources/InstallThread.h"
#include "support/PlatformStandIns.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <thread>

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

std::string InfoPlist(const std::string& version)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleVersion</key><string>" +
           version + "</string></dict></plist>\n";
}

// Waits, bounded, until `done` holds, without ticking anything.
bool WaitUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + kTickBound;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

class InstallTest : public ManagerFixture
{
  protected:
    fs::path Root() const { return mPlatformRoot.Path(); }

    // A product whose installer is available on disk (downloaded through the
    // manager), with an installer that is not a disk image the stand-ins can
    // attach, so that a non-silent install opens it directly.
    void MakeAvailable(const std::set<std::string>& skus,
                       const std::map<std::string, std::string>& contents = {})
    {
        for (const std::string& sku : skus)
        {
            const auto given = contents.find(sku);
            ServeProductWithFile(sku, sku + ".dmg",
                                 given != contents.end() ? given->second : Payload(3000, sku[0]));
        }
        MakeManager();
        Manager().SetAdditionalProducts(skus);
        Manager().Update();
        for (const std::string& sku : skus)
        {
            ASSERT_TRUE(Manager().LaunchDownload(sku, false));
            ASSERT_TRUE(TickUntilStatus(sku, InstallerAvailable)) << sku;
        }
        mEvents.Clear();
    }

    // Calls ProcessCompletedInstallers until `count` finished installers have
    // been handled, checking that no call handles more than one.
    void HandleFinishedInstallers(size_t count)
    {
        size_t handled = 0;
        ASSERT_TRUE(WaitUntil(
            [&]
            {
                const size_t before = mEvents.mChanged.size();
                Manager().ProcessCompletedInstallers();
                const size_t now = mEvents.mChanged.size();
                EXPECT_LE(now - before, 1u);
                handled += now - before;
                return handled >= count;
            }));
    }
};

TEST_F(InstallTest, WholeRunFromUpdateNeededToInstallComplete)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.IsServing());

    // Version 1.0.0 is installed; the server offers 2.0.0 as a disk image
    // holding a package that installs the new bundle.
    const fs::path bundle = Root() / "Applications" / "Alpha.app";
    WriteFile(bundle / "Contents" / "Info.plist", InfoPlist("1.0.0"));
    const fs::path definition = mHome.Path() / "scanner.json";
    WriteFile(definition, R"({"scanner": [{"name": "Alpha", "sku": "alpha", "rules": [{"file": ")" +
                              bundle.string() + R"("}]}]})");
    TempDirectory staging;
    ASSERT_TRUE(MakeArchive(staging / "Alpha.pkg",
                            {{"Alpha.app/Contents/Info.plist", InfoPlist("2.0.0")}}));
    ASSERT_TRUE(
        MakeArchive(staging / "Alpha.dmg", {{"Alpha.pkg", ReadFile(staging / "Alpha.pkg")}}));
    ServeProductWithFile("alpha", "Alpha.dmg", ReadFile(staging / "Alpha.dmg"));

    MakeManager(definition.string());
    Manager().Update();
    ASSERT_EQ(Status("alpha"), UpdateNeeded);
    EXPECT_EQ(Manager().GetProduct("alpha").mDescription.mLocalVersion, "1.0.0");

    ASSERT_TRUE(Manager().LaunchDownload("alpha", true));
    ASSERT_TRUE(TickUntilStatus("alpha", InstallerAvailable));
    std::vector<UpdateStatus> announced;
    mEvents.mOnChanged = [&](const std::string& sku) { announced.push_back(Status(sku)); };
    ASSERT_TRUE(Manager().LaunchInstall("alpha", true));
    ASSERT_TRUE(
        TickUntil([&] { return !announced.empty() && announced.back() == InstallComplete; }));
    EXPECT_EQ(announced, (std::vector<UpdateStatus>{InstallInProgress, InstallComplete}));

    EXPECT_EQ(ReadFile(bundle / "Contents" / "Info.plist"), InfoPlist("2.0.0"));
    EXPECT_TRUE(fs::exists(Root() / "var" / "db" / "receipts" / "Alpha.pkg.receipt"));

    // The finished installer comes back; the product is read again and is
    // now up to date.
    HandleFinishedInstallers(1);
    EXPECT_EQ(Status("alpha"), UpToDate);
    EXPECT_EQ(Manager().GetProduct("alpha").mDescription.mLocalVersion, "2.0.0");
    EXPECT_FALSE(fs::exists(Root() / "Volumes" / "updatemanager"));

    // As the window does once the install is complete: delete the downloads.
    const fs::path installer = Downloads() / "Alpha.dmg";
    ASSERT_TRUE(fs::exists(installer));
    ASSERT_TRUE(fs::exists(Downloads() / "Alpha.dmg.confirm"));
    EXPECT_TRUE(Manager().CancelDownload("alpha"));
    EXPECT_FALSE(fs::exists(installer));
    EXPECT_FALSE(fs::exists(Downloads() / "Alpha.dmg.confirm"));
    EXPECT_EQ(Status("alpha"), UpToDate);

    const std::string log = FinishAndReadLog();
    const std::string state = "State for product Product alphaalpha switch from ";
    EXPECT_EQ(Count(log, state + "download in progress to installer available"), 1u) << log;
    EXPECT_EQ(Count(log, state + "installer start to install in progress"), 1u) << log;
    EXPECT_EQ(Count(log, "| info   | Installation of Product alpha\"" + installer.string() +
                             "\" complete with status install complete"),
              1u)
        << log;
}

TEST_F(InstallTest, CompleteProductsAreAnnouncedEveryTickAndCollectedOneATick)
{
    MakeAvailable({"alpha", "beta"});
    ASSERT_TRUE(Manager().LaunchInstall("alpha", false));
    ASSERT_TRUE(Manager().LaunchInstall("beta", false));

    ASSERT_TRUE(TickUntil(
        [&] { return Status("alpha") == InstallComplete && Status("beta") == InstallComplete; }));

    mEvents.Clear();
    for (int tick = 0; tick < 3; ++tick)
        Manager().ProcessState();
    EXPECT_EQ(mEvents.mChanged,
              (std::vector<std::string>{"alpha", "beta", "alpha", "beta", "alpha", "beta"}));

    // Each finished installer is handled on its own call, and its product's
    // status is then computed again from the files on disk.
    mEvents.Clear();
    HandleFinishedInstallers(2);
    EXPECT_EQ(mEvents.mChanged.size(), 2u);
    EXPECT_EQ(Status("alpha"), InstallerAvailable);
    EXPECT_EQ(Status("beta"), InstallerAvailable);
    const std::string opened = ReadFile(Root() / "open.log");
    EXPECT_NE(opened.find((Downloads() / "alpha.dmg").string()), std::string::npos) << opened;
    EXPECT_NE(opened.find((Downloads() / "beta.dmg").string()), std::string::npos) << opened;

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, "Installation of Product alpha\""), 1u) << log;
    EXPECT_EQ(Count(log, "Installation of Product beta\""), 1u) << log;
}

TEST_F(InstallTest, FullUpdateKeepsAProductUntilItsInstallerIsBack)
{
    MakeAvailable({"alpha"});
    ASSERT_TRUE(Manager().LaunchInstall("alpha", false));
    ASSERT_TRUE(TickUntilStatus("alpha", InstallComplete));
    ASSERT_TRUE(
        WaitUntil([] { return CSingleton<InstallThread>::getInstance()->HasOutputCommand(); }));

    // No longer wanted, but the install thread still holds its installer.
    Manager().SetAdditionalProducts({});
    Manager().Update();
    ASSERT_EQ(Manager().Count(), 1u);

    mEvents.Clear();
    Manager().ProcessCompletedInstallers();
    EXPECT_EQ(mEvents.mChanged, std::vector<std::string>{"alpha"});
    Manager().Update();
    EXPECT_EQ(Manager().Count(), 0u);

    const std::string log = FinishAndReadLog();
    EXPECT_EQ(Count(log, "| info   | Installation of Product alpha\"" +
                             (Downloads() / "alpha.dmg").string() +
                             "\" complete with status install complete"),
              1u)
        << log;
}

TEST_F(InstallTest, DestructorWaitsForTheInstallAndEndsTheWorkersAfterIt)
{
    // An "open" that blocks until the test lets it go.
    WriteFile(Root() / "usr" / "bin" / "open",
              "#!/bin/sh\n"
              "root=\"$(cd -- \"$(dirname -- \"$0\")/../..\" && pwd)\"\n"
              ": > \"$root/open.started\"\n"
              "i=0\n"
              "while [ ! -e \"$root/open.release\" ] && [ $i -lt 1200 ]; do\n"
              "  sleep 0.05; i=$((i+1))\n"
              "done\n"
              "printf '%s\\n' \"$2\" >> \"$root/open.log\"\n");
    fs::permissions(Root() / "usr" / "bin" / "open", fs::perms(0755));
    // A disk image the stand-ins attach, so that the install ends with a
    // logged detach after the open has returned.
    TempDirectory staging;
    ASSERT_TRUE(MakeArchive(staging / "alpha.dmg", {{"alpha.pkg", "package"}}));
    MakeAvailable({"alpha", "beta"}, {{"alpha", ReadFile(staging / "alpha.dmg")}});
    std::weak_ptr<DownloaderBackgrounder> alphaWorker = Manager().GetProduct("alpha").mDownloader;
    std::weak_ptr<DownloaderBackgrounder> betaWorker = Manager().GetProduct("beta").mDownloader;
    ASSERT_TRUE(Manager().LaunchInstall("alpha", false));
    ASSERT_TRUE(TickUntilStatus("alpha", InstallInProgress));
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(Root() / "open.started"); }));

    std::atomic<bool> destroying{false};
    std::atomic<bool> released{false};
    std::atomic<bool> workersAliveWhileInstalling{false};
    std::thread releaser(
        [&]
        {
            WaitUntil([&] { return destroying.load(); });
            workersAliveWhileInstalling = !alphaWorker.expired() && !betaWorker.expired();
            released = true;
            WriteFile(Root() / "open.release", "");
        });
    mEvents.Detach(*mManager);
    destroying = true;
    mManager.reset();
    const bool returnedAfterRelease = released.load();
    releaser.join();

    EXPECT_TRUE(returnedAfterRelease);
    EXPECT_TRUE(workersAliveWhileInstalling);
    EXPECT_TRUE(alphaWorker.expired());
    EXPECT_TRUE(betaWorker.expired());
    EXPECT_NE(ReadFile(Root() / "open.log").find("alpha.pkg"), std::string::npos);

    // The workers' threads ended after the install had detached its image.
    const std::string log = FinishAndReadLog();
    const size_t detached = log.find(" unmounted succesfully");
    const size_t alphaEnded = log.find("ActiveDownloader Exit ThreadProduct alpha");
    const size_t betaEnded = log.find("ActiveDownloader Exit ThreadProduct beta");
    ASSERT_NE(detached, std::string::npos) << log;
    ASSERT_NE(alphaEnded, std::string::npos) << log;
    ASSERT_NE(betaEnded, std::string::npos) << log;
    EXPECT_LT(detached, alphaEnded) << log;
    EXPECT_LT(detached, betaEnded) << log;
}
} // namespace
