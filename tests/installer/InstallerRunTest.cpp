#include "InstallerTestSupport.h"

#include "IPCCommon.h"
#include "platform/MessageChannel.h"
#include "platform/linux/LinuxPrivilegeBroker.h"
#include "resources/Installer.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <atomic>
#include <thread>

using namespace Korvane;
using namespace Korvane::Testing;
using Korvane::UpdateManager::Installer;
using Korvane::UpdateManager::UpdateStatus;
namespace fs = boost::filesystem;

namespace
{
fs::path Root()
{
    return PlatformRootEnvironment::Root();
}

// The real broker, starting the built helper; stops it afterwards.
class RealBroker
{
  public:
    RealBroker()
        : mBroker(std::make_shared<Platform::LinuxPrivilegeBroker>(std::string(UPDATER_BINARY_DIR) +
                                                                   "/bin"))
    {
        Installer::SetPrivilegeBroker(mBroker);
    }
    ~RealBroker()
    {
        Installer::SetPrivilegeBroker(nullptr);
        StopProcess(mBroker->StartedHelperPid());
    }

  private:
    std::shared_ptr<Platform::LinuxPrivilegeBroker> mBroker;
};

// A broker that answers as told and counts its calls.
class ScriptedBroker : public Platform::IPrivilegeBroker
{
  public:
    explicit ScriptedBroker(bool grant) : mGrant(grant) {}
    bool Authorize() override
    {
        ++mAuthorizations;
        return mGrant;
    }
    bool BlessHelper(const std::string&) override
    {
        ++mBlessings;
        return true;
    }
    std::atomic<int> mAuthorizations{0};
    std::atomic<int> mBlessings{0};

  private:
    const bool mGrant;
};

// Listens on the helper's socket in place of the helper, counts requests
// and drops each connection without answering.
class DroppingHelper
{
  public:
    DroppingHelper()
    {
        std::string error;
        EXPECT_TRUE(mServer.Listen(HelperSocketPath(), 0600, error)) << error;
        mThread = std::thread(
            [this]
            {
                mServer.Serve(
                    [this](const Platform::PeerCredentials&,
                           const Platform::MessageDictionary* request, bool)
                    {
                        if (request != nullptr)
                            ++mRequests;
                        Platform::MessageServer::Response response;
                        response.action = Platform::MessageServer::Response::Action::Close;
                        return response;
                    });
            });
    }
    ~DroppingHelper()
    {
        mServer.Stop();
        mThread.join();
    }
    std::atomic<int> mRequests{0};

  private:
    Platform::MessageServer mServer;
    std::thread mThread;
};

Installer MakeInstaller(const fs::path& file, bool silent)
{
    Installer installer("http://localhost/x", file, UpdateManager::InstallInProgress);
    installer.SetStatus(UpdateManager::InstallInProgress);
    installer.SetSilent(silent);
    return installer;
}

std::string OpenLog()
{
    const fs::path log = Root() / "open.log";
    return fs::exists(log) ? ReadFile(log) : std::string();
}

bool VolumesEmpty()
{
    return fs::is_empty(Volumes());
}
} // namespace

TEST(InstallerRunTest, SilentInstallOfAnImageInstallsItsPackageThroughTheHelper)
{
    RealBroker broker;
    const fs::path package = Root() / "stage" / "Product 2.pkg";
    ASSERT_TRUE(MakeArchive(package, {{"Product.app/version", "2.0"}}));
    const fs::path image = Root() / "Down loads" / "Setup.dmg";
    ASSERT_TRUE(MakeArchive(image, {{"Readme.txt", "r"}, {"Product 2.pkg", ReadFile(package)}}));

    Installer installer = MakeInstaller(image, true);
    installer.Run();
    EXPECT_EQ(installer.GetStatus(), UpdateManager::InstallComplete);
    EXPECT_EQ(installer.GetProgress(), -1.0);
    EXPECT_EQ(ReadFile(Root() / "Applications/Product.app/version"), "2.0");
    EXPECT_TRUE(fs::exists(Root() / "var/db/receipts/Product 2.pkg.receipt"));
    EXPECT_TRUE(VolumesEmpty());
}

TEST(InstallerRunTest, ImageWithoutPackageEndsInErrorAndIsUnmounted)
{
    const fs::path image = Root() / "Empty.dmg";
    ASSERT_TRUE(MakeArchive(image, {{"Readme.txt", "r"}, {"Product.PKG", "p"}}));
    Installer installer = MakeInstaller(image, true);
    const std::string log = CaptureLog([&] { installer.Run(); });
    EXPECT_EQ(installer.GetStatus(), UpdateManager::Error);
    EXPECT_NE(log.find("Error during install of " + image.string()), std::string::npos) << log;
    EXPECT_NE(log.find(" unmounted succesfully"), std::string::npos) << log;
    EXPECT_TRUE(VolumesEmpty());
}

TEST(InstallerRunTest, MissingFileMeansTheUpdateIsNeededAgain)
{
    const fs::path file = Root() / "gone.dmg";
    Installer installer = MakeInstaller(file, true);
    const std::string log = CaptureLog([&] { installer.Run(); });
    EXPECT_EQ(installer.GetStatus(), UpdateManager::UpdateNeeded);
    EXPECT_NE(log.find("\"" + file.string() + "\" does not exist"), std::string::npos) << log;
    EXPECT_EQ(log.find("Mounting installer."), std::string::npos) << log;
}

TEST(InstallerRunTest, NotSilentOpensThePackageInsideTheImageAndWaits)
{
    const fs::path image = Root() / "Open.dmg";
    ASSERT_TRUE(MakeArchive(image, {{"Product.pkg", "p"}}));
    Installer installer = MakeInstaller(image, false);
    const std::string log = CaptureLog([&] { installer.Run(); });
    EXPECT_EQ(installer.GetStatus(), UpdateManager::InstallComplete);
    const std::string mounted = Volumes() + "/updatemanager/Product.pkg";
    EXPECT_EQ(OpenLog(), mounted + "\n");
    EXPECT_NE(log.find("Open installer " + mounted), std::string::npos) << log;
    EXPECT_TRUE(VolumesEmpty());
}

TEST(InstallerRunTest, UpperCaseDmgAndPlainPackagesArePassedOnUnchanged)
{
    for (const char* name : {"Setup.DMG", "Direct.pkg"})
    {
        const fs::path file = Root() / name;
        WriteFile(file, "not mounted");
        Installer installer = MakeInstaller(file, false);
        fs::remove(Root() / "open.log");
        installer.Run();
        EXPECT_EQ(installer.GetStatus(), UpdateManager::InstallComplete);
        EXPECT_EQ(OpenLog(), file.string() + "\n");
    }
}

TEST(InstallerRunTest, UnmountableImageIsOpenedForTheUser)
{
    const fs::path image = Root() / "Broken.dmg";
    WriteFile(image, "no archive");
    Installer installer = MakeInstaller(image, false);
    const std::string log = CaptureLog([&] { installer.Run(); });
    EXPECT_EQ(installer.GetStatus(), UpdateManager::InstallComplete);
    EXPECT_EQ(OpenLog(), image.string() + "\n");
    EXPECT_NE(log.find("\"" + Volumes() +
                       "/updatemanager\" has not been mounted. Opening the dmg so that the user "
                       "can install anyway."),
              std::string::npos)
        << log;
}

TEST(InstallerRunTest, RefusedAdministratorRightsEndInErrorAndSendNothing)
{
    auto broker = std::make_shared<ScriptedBroker>(false);
    Installer::SetPrivilegeBroker(broker);
    DroppingHelper helper;
    const fs::path package = Root() / "Refused.pkg";
    ASSERT_TRUE(MakeArchive(package, {{"Refused.app/", ""}}));
    Installer installer = MakeInstaller(package, true);
    installer.Run();
    EXPECT_EQ(installer.GetStatus(), UpdateManager::Error);
    EXPECT_EQ(broker->mAuthorizations, 1);
    EXPECT_EQ(broker->mBlessings, 0);
    EXPECT_EQ(helper.mRequests, 0);
    Installer::SetPrivilegeBroker(nullptr);
}

TEST(InstallerRunTest, FailingChannelIsTriedFiveTimes)
{
    auto broker = std::make_shared<ScriptedBroker>(true);
    Installer::SetPrivilegeBroker(broker);
    DroppingHelper helper;
    Installer installer;
    EXPECT_FALSE(installer.ExecuteWithPriviledges("/usr/sbin/installer -pkg /x.pkg"));
    EXPECT_EQ(helper.mRequests, 5);
    EXPECT_EQ(broker->mBlessings, 1);
    Installer::SetPrivilegeBroker(nullptr);
}

TEST(InstallerRunTest, ReplyOtherThanOkIsAFailure)
{
    RealBroker broker;
    Installer installer;
    // The real helper refuses anything but its package installer.
    EXPECT_FALSE(installer.ExecuteWithPriviledges("/bin/true"));
    EXPECT_FALSE(installer.OpenInstaller((Root() / "no such.pkg").string(), true));
}
