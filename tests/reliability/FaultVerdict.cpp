#include "FaultVerdict.h"

#include "UpdateStatus.h"
#include "resources/Check.h"
#include "resources/Installer.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>
#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <thread>

namespace fs = boost::filesystem;
using Korvane::UpdateManager::Check;
using Korvane::UpdateManager::DownloaderBackgrounder;

namespace Korvane
{
namespace Testing
{

std::string InstallerBytes(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 131 + i / 251 + 7) & 0xff);
    return text;
}

std::string Md5Of(const std::string& text)
{
    Poco::MD5Engine md5;
    md5.update(text);
    return Poco::DigestEngine::digestToHex(md5.digest());
}

bool WaitUntilEnded(const DownloaderBackgrounder& downloader, std::chrono::seconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!downloader.HasStopped())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

FaultScene::FaultScene()
{
    fs::create_directories(Downloads());
    WriteFile(mHome / "Documents" / "notes.txt", "keep me\n");
    WriteFile(mHome / ".profile", "export KEEP=1\n");
    WriteFile(Downloads().parent_path() / "Setup.dmg", "a different file of the same name\n");
}

int FaultScene::StatusOnDisk(int64_t& startingPosition) const
{
    const UpdateManager::Installer state("http://127.0.0.1/Setup.dmg", Installer(),
                                         UpdateManager::UpdateNeeded, "1.0.0", "2.0.0");
    startingPosition = state.GetStartingPosition();
    return state.GetStatus();
}

void FaultScene::Confirm(const std::string& checksum) const
{
    UpdateManager::Installer state("http://127.0.0.1/Setup.dmg", Installer(),
                                   UpdateManager::UpdateNeeded);
    state.ConfirmDownload(checksum);
}

std::set<std::string> FaultScene::OutsideDownloads() const
{
    std::set<std::string> entries;
    for (fs::recursive_directory_iterator it(Home()), end; it != end; ++it)
    {
        const fs::path path = it->path();
        if (path == Downloads())
        {
            it.disable_recursion_pending();
            continue;
        }
        std::string entry = path.string();
        if (fs::is_regular_file(path))
            entry += " " + std::to_string(fs::file_size(path)) + " " + Check::ComputeChecksum(path);
        entries.insert(entry);
    }
    return entries;
}

std::set<std::string> FaultScene::InDownloads() const
{
    std::set<std::string> names;
    for (fs::directory_iterator it(Downloads()), end; it != end; ++it)
        names.insert(it->path().filename().string());
    return names;
}

void ExpectPromisesKept(const FaultScene& scene, int transferState, const std::string& expected,
                        const std::set<std::string>& outsideBefore)
{
    if (transferState == DownloaderBackgrounder::TransferComplete)
    {
        EXPECT_EQ(ReadFile(scene.Installer()), expected)
            << "a complete transfer holds another file";
    }
    int64_t startingPosition = 0;
    const int status = scene.StatusOnDisk(startingPosition);
    if (status == UpdateManager::InstallerAvailable)
    {
        EXPECT_EQ(ReadFile(scene.Installer()), expected) << "a confirmed installer is not the one";
    }
    for (const std::string& name : scene.InDownloads())
        EXPECT_TRUE(name == "Setup.dmg" || name == "Setup.dmg.confirm") << name;
    EXPECT_EQ(scene.OutsideDownloads(), outsideBefore);
}

} // namespace Testing
} // namespace Korvane
