#include "support/PlatformStandIns.h"

#include "platform/MessageChannel.h"
#include "platform/ProcessRunner.h"

#include <boost/filesystem/operations.hpp>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace fs = boost::filesystem;

namespace Korvane
{
namespace Testing
{
namespace
{
std::unique_ptr<TempDirectory>& RootHolder()
{
    static std::unique_ptr<TempDirectory> holder;
    return holder;
}
} // namespace

bool InstallStandIns(const fs::path& root)
{
    const std::string script =
        std::string(UPDATER_SOURCE_DIR) + "/platform/linux/standins/install-standins";
    return Platform::RunProcess({"/bin/sh", script, root.string()}) == 0;
}

bool MakeArchive(const fs::path& archive, const std::map<std::string, std::string>& files)
{
    TempDirectory staging;
    for (const auto& [name, contents] : files)
    {
        if (!name.empty() && name.back() == '/')
            fs::create_directories(staging / name);
        else
            WriteFile(staging / name, contents);
    }
    if (archive.has_parent_path())
        fs::create_directories(archive.parent_path());
    return Platform::RunProcess(
               {"/bin/tar", "-c", "-f", archive.string(), "-C", staging.Path().string(), "."}) == 0;
}

const fs::path& PlatformRootEnvironment::Root()
{
    SetUp();
    return RootHolder()->Path();
}

void PlatformRootEnvironment::SetUp()
{
    if (RootHolder())
        return;
    RootHolder() = std::make_unique<TempDirectory>();
    setenv("UPDATER_PLATFORM_ROOT", RootHolder()->Path().c_str(), 1);
    InstallStandIns(RootHolder()->Path());
}

void PlatformRootEnvironment::TearDown()
{
    RootHolder().reset();
}

std::string HelperSocketPath()
{
    return Platform::ServiceSocketPath("com.Korvane.UpdaterHelper", true);
}

HelperProcess::HelperProcess(const std::string& extraArgument, const std::string& extraValue)
{
    std::vector<std::string> arguments = {std::string(UPDATER_BINARY_DIR) + "/bin/UpdaterHelper"};
    if (!extraArgument.empty())
        arguments.insert(arguments.end(), {extraArgument, extraValue});
    mPid = Platform::StartProcess(arguments);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (mPid > 0 && std::chrono::steady_clock::now() < deadline)
    {
        if (Platform::IsServiceListening(HelperSocketPath()))
        {
            mServing = true;
            return;
        }
        if (Platform::WaitProcess(mPid, false) != -2)
        {
            mPid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

HelperProcess::~HelperProcess()
{
    Stop();
}

int HelperProcess::Stop()
{
    if (mPid <= 0)
        return -1;
    kill(mPid, SIGTERM);
    const int status = Platform::WaitProcess(mPid, true);
    mPid = -1;
    return status;
}

void StopProcess(pid_t process)
{
    if (process <= 0)
        return;
    kill(process, SIGTERM);
    Platform::WaitProcess(process, true);
}

} // namespace Testing
} // namespace Korvane
