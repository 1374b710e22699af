#pragma once

#include "resources/Downloader.h"
#include "support/TempDirectory.h"

#include <boost/filesystem/path.hpp>

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

namespace Korvane
{
namespace Testing
{

// A deterministic installer body of `size` bytes.
std::string InstallerBytes(size_t size);
std::string Md5Of(const std::string& text);

// Waits (bounded) until the worker publishes a final transfer state.
bool WaitUntilEnded(const UpdateManager::DownloaderBackgrounder& downloader,
                    std::chrono::seconds bound = std::chrono::seconds(60));

// A user's home in a temp directory: a Downloads folder for the installer and
// a few files around it that no fault may touch. Judges what a fault left:
// the transfer state, what the product status would be on the next start,
// and every file under the home.
class FaultScene
{
  public:
    FaultScene();

    const boost::filesystem::path& Home() const { return mHome.Path(); }
    boost::filesystem::path Downloads() const { return mHome / "Downloads"; }
    boost::filesystem::path Installer() const { return Downloads() / "Setup.dmg"; }

    // The product status (UpdateStatus) the installer state computes from the
    // files on disk, as the next information cycle would, for installed
    // 1.0.0 and latest 2.0.0; `startingPosition` receives the resume offset.
    int StatusOnDisk(int64_t& startingPosition) const;
    // What the manager does with a TransferComplete: write the confirm file.
    void Confirm(const std::string& checksum) const;

    // Every file and directory under the home that is not in the Downloads
    // folder, with its size (files) and contents' MD5.
    std::set<std::string> OutsideDownloads() const;
    // The names in the Downloads folder.
    std::set<std::string> InDownloads() const;

  private:
    TempDirectory mHome;
};

// The promises every fault case must keep:
// - a complete (verified) transfer holds exactly `expected`;
// - an installer that the next start would take as available (confirmed)
//   holds exactly `expected`;
// - the Downloads folder holds at most the installer and its confirm file;
// - nothing outside it changed (`outsideBefore`).
void ExpectPromisesKept(const FaultScene& scene, int transferState, const std::string& expected,
                        const std::set<std::string>& outsideBefore);

} // namespace Testing
} // namespace Korvane
