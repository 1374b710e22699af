// Faults that hit the process that downloads. The download runs in a child
// process (this test program again, running only DownloadChild.Downloads):
// - the disk fills up: the child's file size limit (RLIMIT_FSIZE) stops every
//   write past a bound, as a full disk would; it ignores SIGXFSZ so that
//   writes fail instead of killing it. The download must end stopped or
//   failed, never complete;
// - the process is killed (SIGKILL) in the middle of the transfer.
// Either way, what is left must be a clean partial download, never
// confirmed, that the next start resumes to the complete installer.
#include "FaultVerdict.h"

#include "UpdateStatus.h"
#include "basictools/logger/CLog.h"
#include "resources/Downloader.h"
#include "support/LoopbackHttpServer.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace fs = boost::filesystem;
using namespace Korvane::Testing;
using Korvane::UpdateManager::DownloaderBackgrounder;

namespace
{
constexpr size_t kInstallerSize = 300000;
constexpr rlim_t kFileSizeLimit = 100000;
const char kUrlVariable[] = "UPDATER_DISK_FULL_URL";
const char kFileVariable[] = "UPDATER_DISK_FULL_FILE";
const char kMd5Variable[] = "UPDATER_DISK_FULL_MD5";

std::optional<std::string> Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// Starts DownloadChild in a child process, with a file size limit when
// `fileSizeLimit` is given; returns its pid (-1 when fork failed).
pid_t SpawnChild(const std::string& url, const fs::path& file, const std::string& md5,
                 std::optional<rlim_t> fileSizeLimit)
{
    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls until exec.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        environment.emplace_back(*entry);
    environment.push_back(std::string(kUrlVariable) + "=" + url);
    environment.push_back(std::string(kFileVariable) + "=" + file.string());
    environment.push_back(std::string(kMd5Variable) + "=" + md5);
    std::vector<char*> envp;
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string program = fs::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=DownloadChild.Downloads";
    char* argv[] = {program.data(), filter.data(), nullptr};
    const rlim_t bound = fileSizeLimit.value_or(RLIM_INFINITY);
    const rlimit limit{bound, bound};
    const bool limited = fileSizeLimit.has_value();

    const pid_t child = fork();
    if (child == 0)
    {
        if (limited)
        {
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execve(program.c_str(), argv, envp.data());
        _exit(127);
    }
    return child;
}

// The child's exit status (its transfer state); -1 when it did not exit
// normally, -SIGNAL when a signal ended it.
int WaitForChild(pid_t child)
{
    if (child < 0)
        return -1;
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return -WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The next start: the status from the disk, then a download from where the
// disk says, in this process and with no limit. Expects the installer.
void ResumeToTheEnd(const FaultScene& scene, const std::string& url, const std::string& md5,
                    const std::string& source)
{
    int64_t startingPosition = 0;
    ASSERT_EQ(scene.StatusOnDisk(startingPosition), Korvane::UpdateManager::DownloadPaused);
    EXPECT_EQ(startingPosition, static_cast<int64_t>(fs::file_size(scene.Installer())));
    {
        DownloaderBackgrounder downloader("Restarted Product");
        DownloaderBackgrounder::Data data;
        data.mUrl = url;
        data.mDestination = scene.Installer();
        data.mExpectedChecksum = md5;
        data.mExpectedSize = static_cast<int64_t>(source.size());
        data.mResumeFrom = startingPosition;
        downloader.StartDownload(data);
        ASSERT_TRUE(WaitUntilEnded(downloader));
        EXPECT_EQ(downloader.mTransferState.load(), DownloaderBackgrounder::TransferComplete);
    }
    EXPECT_EQ(ReadFile(scene.Installer()), source);
    CSingleton<CLog>::destroyInstance();
}
} // namespace

// The child's side: one download, its transfer state as exit status.
TEST(DownloadChild, Downloads)
{
    const auto url = Variable(kUrlVariable);
    if (!url)
        GTEST_SKIP() << "runs only as the child of the DiskFull and Killed tests";
    CSingleton<CLog>::getInstance()->SetChannelLevels({{"download", eLogInfo}});
    DownloaderBackgrounder downloader("Child Product");
    DownloaderBackgrounder::Data data;
    data.mUrl = *url;
    data.mDestination = *Variable(kFileVariable);
    data.mExpectedChecksum = *Variable(kMd5Variable);
    data.mExpectedSize = static_cast<int64_t>(kInstallerSize);
    downloader.StartDownload(data);
    const int state = WaitUntilEnded(downloader) ? downloader.mTransferState.load() : 100;
    CSingleton<CLog>::destroyInstance();
    std::_Exit(state);
}

TEST(DiskFull, DownloadEndsUnverifiedAndResumesOnceThereIsRoom)
{
    FaultScene scene;
    const auto outsideBefore = scene.OutsideDownloads();
    const std::string source = InstallerBytes(kInstallerSize);
    const std::string md5 = Md5Of(source);
    LoopbackHttpServer server([&source](const RecordedRequest& request)
                              { return ScriptedResponse::Resource(source, request); });
    const std::string url = server.Url("/files/Setup.dmg");

    const int state = WaitForChild(SpawnChild(url, scene.Installer(), md5, kFileSizeLimit));
    EXPECT_TRUE(state == DownloaderBackgrounder::TransferFailed ||
                state == DownloaderBackgrounder::TransferStopped)
        << "state " << state;
    ExpectPromisesKept(scene, state, source, outsideBefore);
    ASSERT_TRUE(fs::exists(scene.Installer()));
    const std::string partial = ReadFile(scene.Installer());
    EXPECT_LE(partial.size(), kFileSizeLimit);
    EXPECT_EQ(source.compare(0, partial.size(), partial), 0) << "the partial file is not a prefix";

    // With room again, the next attempt completes the same file.
    ResumeToTheEnd(scene, url, md5, source);
    EXPECT_EQ(scene.OutsideDownloads(), outsideBefore);
}

TEST(Killed, ProcessKilledMidDownloadLeavesAResumablePartialFile)
{
    FaultScene scene;
    const auto outsideBefore = scene.OutsideDownloads();
    const std::string source = InstallerBytes(kInstallerSize);
    const std::string md5 = Md5Of(source);
    LoopbackHttpServer server(
        [&source](const RecordedRequest& request)
        {
            auto response = ScriptedResponse::Resource(source, request);
            if (!request.Header("Range"))
                response.mStallAfter = 120000;
            return response;
        });
    const std::string url = server.Url("/files/Setup.dmg");

    const pid_t child = SpawnChild(url, scene.Installer(), md5, std::nullopt);
    ASSERT_GT(child, 0);
    // The child is in the middle of the body once the server holds it there.
    const bool stalled = server.WaitForStall(std::chrono::seconds(60));
    kill(child, SIGKILL);
    EXPECT_EQ(WaitForChild(child), -SIGKILL);
    ASSERT_TRUE(stalled);
    server.ReleaseStall();

    ExpectPromisesKept(scene, -1, source, outsideBefore);
    EXPECT_FALSE(fs::exists(scene.Installer().string() + ".confirm"));
    ASSERT_TRUE(fs::exists(scene.Installer()));
    const std::string partial = ReadFile(scene.Installer());
    EXPECT_LE(partial.size(), 120000u);
    EXPECT_EQ(source.compare(0, partial.size(), partial), 0) << "the partial file is not a prefix";

    ResumeToTheEnd(scene, url, md5, source);
    EXPECT_EQ(scene.OutsideDownloads(), outsideBefore);
}
