#include "resources/InstallThread.h"
#include "resources/Installer.h"

#include "CommandLineText.h"
#include "IPCClient.h"
#include "IPCCommon.h"
#include "basictools/logger/CLog.h"
#include "basictools/sharedobject.h"
#include "platform/PlatformRoot.h"
#include "platform/PrivilegeBroker.h"
#include "platform/ProcessRunner.h"

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <mutex>
#include <thread>

namespace fs = boost::filesystem;

namespace Korvane
{
namespace UpdateManager
{
namespace
{
constexpr char kBaseMountPoint[] = "/Volumes/updatemanager";
constexpr char kHelperName[] = "UpdaterHelper";
constexpr int kMaxSendAttempts = 5;
constexpr auto kPauseAfterAttempt = std::chrono::milliseconds(100);

template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog("install", level, parts...);
}

std::mutex sBrokerMutex;
std::shared_ptr<Platform::IPrivilegeBroker> sBroker;

// The directory of the running executable, where the helper tool lies.
std::string ExecutableDirectory()
{
    fs::path executable = GetDyLibFullPath();
    if (executable.empty() || executable.is_relative())
    {
        boost::system::error_code error;
        executable = fs::read_symlink("/proc/self/exe", error);
        if (error)
            return std::string();
    }
    return executable.parent_path().string();
}

std::shared_ptr<Platform::IPrivilegeBroker> Broker()
{
    std::lock_guard<std::mutex> lock(sBrokerMutex);
    if (!sBroker)
        sBroker = Platform::CreatePrivilegeBroker(ExecutableDirectory());
    return sBroker;
}
} // namespace

void Installer::SetPrivilegeBroker(std::shared_ptr<Platform::IPrivilegeBroker> broker)
{
    std::lock_guard<std::mutex> lock(sBrokerMutex);
    sBroker = std::move(broker);
}

void Installer::StartInstall()
{
    InstallThread::getInstance()->ScheduleInstall(this);
}

void Installer::ExitInstall()
{
    InstallThread::getInstance()->ExitAndJoin();
}

void Installer::Run()
{
    Log(eLogInfo, "Run ", mFile.string());
    mInstallProgress = -1.0;
    try
    {
        if (!fs::exists(mFile))
        {
            Log(eLogError, mFile, " does not exist");
            mStatus = UpdateNeeded;
            return;
        }
        std::string installer = mFile.string();
        fs::path mountPoint;
        bool mounted = false;
        if (mFile.extension().string() == ".dmg")
        {
            mountPoint = FindAvailableVolume(Platform::PlatformPath(kBaseMountPoint));
            mounted = MountVolume(mFile, mountPoint);
            if (mounted)
                installer = FindFileWithExtension(mountPoint, "pkg");
            else
                Log(eLogInfo, mountPoint,
                    " has not been mounted. Opening the dmg so that the user can install anyway.");
        }
        if (!installer.empty() && fs::exists(installer) && OpenInstaller(installer, mSilent))
        {
            mStatus = InstallComplete;
        }
        else
        {
            Log(eLogError, "Error during install of ", mFile.string());
            mStatus = Error;
        }
        if (mounted && fs::exists(mountPoint))
            UnmountVolume(mountPoint);
    }
    catch (const fs::filesystem_error& error)
    {
        Log(eLogError, "Failed to run installer: ", error.what());
    }
}

bool Installer::OpenInstaller(const std::string& path, bool silent)
{
    Log(eLogInfo, "Open", silent ? " silent" : "", " installer ", path);
    if (silent)
    {
        // The helper splits the line by the shared quoting rule, so a path
        // with spaces or shell characters stays one unchanged argument.
        return ExecuteWithPriviledges(
            IPC::JoinArguments({Platform::PlatformPath("/usr/sbin/installer"), "-verboseR",
                                "-target", "/", "-pkg", path}));
    }
    // The user's own actions in the opened application decide the outcome,
    // whatever the tool returns.
    (void)Platform::RunProcess({Platform::PlatformPath("/usr/bin/open"), "-W", path});
    return true;
}

bool Installer::ExecuteWithPriviledges(const std::string& command)
{
    const std::shared_ptr<Platform::IPrivilegeBroker> broker = Broker();
    if (!broker || !broker->Authorize())
        return false;
    if (!broker->BlessHelper(std::string(IPC::kMacDomainName) + kHelperName))
        return false;

    IPC::IPCClient client("updater", kHelperName, 0, true);
    std::string reply;
    IPC::IPCErrorCode code(IPC::eIPCUnknownError, std::string());
    for (int attempts = 0; code && attempts < kMaxSendAttempts; ++attempts)
    {
        code = client.SyncSendWithReply("run " + command, reply);
        std::this_thread::sleep_for(kPauseAfterAttempt);
    }
    return !code && reply == "ok";
}

} // namespace UpdateManager
} // namespace Korvane
