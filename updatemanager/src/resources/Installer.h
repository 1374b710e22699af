#pragma once

#include "UpdateStatus.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace Korvane
{
namespace Platform
{
class IPrivilegeBroker;
} // namespace Platform
} // namespace Korvane

namespace Korvane
{
namespace UpdateManager
{

// One product's installer: where it comes from, where it lies on disk, how
// much of it is there, and the product's status. Used on the GUI thread,
// except while the install thread runs it; meanwhile the GUI thread only reads
// the status and the install progress, which are atomic for that reason.
class Installer
{
  public:
    // Appended to the installer's full file name to name its confirm file.
    static constexpr const char* kConfirmExtension = ".confirm";

    Installer();
    Installer(const std::string& url, const boost::filesystem::path& file, UpdateStatus status);
    // Also computes the status from the two versions and the files on disk.
    Installer(const std::string& url, const boost::filesystem::path& file, UpdateStatus status,
              const std::string& localVersion, const std::string& latestVersion);
    Installer(const Installer& other);
    Installer& operator=(const Installer& other);
    virtual ~Installer() = default;

    std::string GetDownloadURL() const { return mDownloadUrl; }
    boost::filesystem::path GetFile() const { return mFile; }
    int64_t GetStartingPosition() const { return mStartingPosition; }
    UpdateStatus GetStatus() const { return mStatus.load(); }
    double GetProgress() const { return mInstallProgress.load(); }
    boost::filesystem::path GetConfirmFile() const;

    void SetStatus(UpdateStatus status) { mStatus.store(status); }
    void SetSilent(bool silent) { mSilent = silent; }
    void SetURLAndFile(const std::string& url, const boost::filesystem::path& file);

    // Decides the status from the versions and from what lies on disk: an
    // installer file with a confirm file of the same size is available, one
    // without is a partial download to resume from its size. A running
    // download (DownloadInProgress) keeps its status. Logs file-system and
    // confirm-file errors on "update_manager" and never throws.
    void ComputeStatus(const std::string& localVersion, const std::string& latestVersion);

    // Marks the download as complete and verified by writing the confirm file
    // (size and checksum; the MD5 is computed when `checksum` is empty).
    // Throws boost::property_tree::json_parser_error when the file cannot be
    // written.
    void ConfirmDownload(const std::string& checksum);

    // Install sequence, on the install thread: mounts a ".dmg" at a free
    // mount point, finds the package inside and installs it (silently through
    // the helper tool, else by opening it for the user); unmounts afterwards.
    // Reports only through the status: InstallComplete, Error, UpdateNeeded
    // (file missing), or unchanged after a file-system error. Logs on "install".
    void Run();
    // Hands this installer to the install thread (created on first use); it
    // must stay alive, at this address, until the thread hands it back.
    void StartInstall();
    // Asks the install thread to end after the installers already handed to
    // it, and waits for it.
    void ExitInstall();
    // Installs `path` through the helper tool when `silent`, else opens it
    // with the open tool and waits until the user quits the application
    // (always true then).
    bool OpenInstaller(const std::string& path, bool silent);
    // Obtains administrator rights, makes sure the helper tool serves, and has
    // it run `command` (quoted by the helper's command-line rule). True only
    // for the reply "ok". Up to five attempts while the channel fails.
    bool ExecuteWithPriviledges(const std::string& command);

    // Disk images. Logged on "install" (the look-up's error on
    // "update_manager"); they never throw, except FindAvailableVolume, whose
    // file-system errors reach the caller.
    static bool MountVolume(const boost::filesystem::path& image,
                            const boost::filesystem::path& mountPoint);
    static void UnmountVolume(const boost::filesystem::path& mountPoint);
    static boost::filesystem::path FindAvailableVolume(const boost::filesystem::path& base);
    std::string FindFileWithExtension(const boost::filesystem::path& directory,
                                      const std::string& extension);

    // Replaces the broker that grants rights and installs the helper tool
    // (null restores the platform's own, which starts the helper from the
    // directory of the running executable). For tests and embedding.
    static void SetPrivilegeBroker(std::shared_ptr<Platform::IPrivilegeBroker> broker);

  private:
    std::string mDownloadUrl;
    boost::filesystem::path mFile;
    int64_t mStartingPosition = 0;
    std::atomic<UpdateStatus> mStatus{Error};
    bool mSilent = false;
    // No install progress is known in this system: always -1.
    std::atomic<double> mInstallProgress{-1.0};
};

} // namespace UpdateManager
} // namespace Korvane
