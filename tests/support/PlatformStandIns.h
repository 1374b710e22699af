#pragma once

#include "support/TempDirectory.h"

#include <boost/filesystem/path.hpp>

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

namespace Korvane
{
namespace Testing
{

// Installs the stand-in platform tools (hdiutil, umount, installer, open)
// into `root` with platform/linux/standins/install-standins.
bool InstallStandIns(const boost::filesystem::path& root);

// Writes a tar archive (the stand-ins' disk image or package) holding
// `files`: relative path to contents; a name ending in "/" makes a directory.
bool MakeArchive(const boost::filesystem::path& archive,
                 const std::map<std::string, std::string>& files);

// A temp platform root with the stand-ins installed, exported as
// UPDATER_PLATFORM_ROOT for the whole process. The platform layer reads the
// variable once, so register it as a gtest environment (one per process)
// before anything uses a platform path.
class PlatformRootEnvironment
{
  public:
    static const boost::filesystem::path& Root();
    // Call from main or a gtest Environment's SetUp; idempotent.
    static void SetUp();
    static void TearDown();
};

// Starts the built UpdaterHelper (it inherits the environment) and waits
// until it serves its socket. Stops it (SIGTERM, then reaps it) on destruction.
class HelperProcess
{
  public:
    explicit HelperProcess(const std::string& extraArgument = std::string(),
                           const std::string& extraValue = std::string());
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    bool IsServing() const { return mServing; }
    pid_t Pid() const { return mPid; }
    // Stops the helper now; returns its exit status.
    int Stop();

  private:
    pid_t mPid = -1;
    bool mServing = false;
};

// The helper's socket under the current platform root.
std::string HelperSocketPath();

// Stops a helper started elsewhere (for instance by the privilege broker).
void StopProcess(pid_t process);

} // namespace Testing
} // namespace Korvane
