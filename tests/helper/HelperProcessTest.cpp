#include "CommandLineText.h"
#include "IPCClient.h"
#include "IPCCommon.h"

#include "platform/MessageFrame.h"
#include "platform/ProcessRunner.h"

#include "platform/PlatformRoot.h"
#include "support/PlatformStandIns.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace Korvane;
using namespace Korvane::Testing;
namespace fs = boost::filesystem;

namespace
{
class RootEnvironment : public ::testing::Environment
{
  public:
    void SetUp() override { PlatformRootEnvironment::SetUp(); }
    void TearDown() override { PlatformRootEnvironment::TearDown(); }
};
const auto* const sRootEnvironment = ::testing::AddGlobalTestEnvironment(new RootEnvironment);

std::string InstallRequest(const fs::path& package)
{
    return "run " + IPC::JoinArguments({Platform::PlatformPath("/usr/sbin/installer"), "-verboseR",
                                        "-target", "/", "-pkg", package.string()});
}

// Writes raw bytes to the helper's socket and closes it.
void SendRawBytes(const std::string& bytes)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = HelperSocketPath();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    shutdown(fd, SHUT_WR);
    char ignored[64];
    // The helper closes a connection that carried garbage (or ended).
    while (recv(fd, ignored, sizeof(ignored), 0) > 0)
    {
    }
    close(fd);
}

constexpr uid_t kNobody = 65534;

// Sends one request from a child process running as `user` (without any
// thread, so that forking is safe) and returns the reply text, or "<none>".
std::string RequestAsUser(const std::string& text, uid_t user)
{
    int output[2];
    if (pipe(output) != 0)
        return "<none>";
    const pid_t child = fork();
    if (child == 0)
    {
        close(output[0]);
        if (user != getuid() && setuid(user) != 0)
            _exit(3);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = HelperSocketPath();
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            _exit(4);
        const std::string frame = Platform::EncodeFrame(IPC::CreateMessage("updater", text),
                                                        Platform::FrameKind::Request);
        if (send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(frame.size()))
            _exit(5);
        Platform::FrameAssembler assembler;
        Platform::MessageDictionary reply;
        Platform::FrameKind kind = Platform::FrameKind::Message;
        char buffer[4096];
        ssize_t count = 0;
        while ((count = recv(fd, buffer, sizeof(buffer), 0)) > 0)
        {
            assembler.Append(buffer, static_cast<size_t>(count));
            if (assembler.Next(reply, kind) == Platform::FrameAssembler::Result::Frame)
            {
                const std::string& bytes = reply[IPC::kPropertyMessage].bytes;
                (void)!write(output[1], bytes.data(), bytes.size());
                _exit(0);
            }
        }
        _exit(6);
    }
    close(output[1]);
    std::string reply;
    char buffer[256];
    ssize_t count = 0;
    while ((count = read(output[0], buffer, sizeof(buffer))) > 0)
        reply.append(buffer, static_cast<size_t>(count));
    close(output[0]);
    const int status = Platform::WaitProcess(child, true);
    return status == 0 ? reply : "<none: " + std::to_string(status) + ">";
}
} // namespace

TEST(HelperProcessTest, InstallsAPackageWhosePathNeedsQuoting)
{
    const fs::path package = PlatformRootEnvironment::Root() / "dl dir" / "it's $(id);`x`.pkg";
    ASSERT_TRUE(MakeArchive(package, {{"Product.app/version", "2.0"}}));
    HelperProcess helper;
    ASSERT_TRUE(helper.IsServing());

    IPC::IPCClient client("updater", "UpdaterHelper", 0, true);
    std::string reply;
    EXPECT_FALSE(client.SyncSendWithReply(InstallRequest(package), reply));
    EXPECT_EQ(reply, "ok");
    EXPECT_EQ(ReadFile(PlatformRootEnvironment::Root() / "Applications/Product.app/version"),
              "2.0");

    EXPECT_FALSE(client.SyncSendWithReply(InstallRequest(package.string() + ".missing"), reply));
    EXPECT_EQ(reply, "failed: exit status 1");
}

TEST(HelperProcessTest, RefusesOtherCommandsAndSurvivesGarbage)
{
    HelperProcess helper;
    ASSERT_TRUE(helper.IsServing());
    const fs::path marker = PlatformRootEnvironment::Root() / "marker";

    SendRawBytes("\xff\xff\xff\xff\x01garbage that is no frame");
    SendRawBytes(std::string("\0\0\0\x05\x01\0\0\0\x09\x07", 10));
    SendRawBytes("");

    IPC::IPCClient client("updater", "UpdaterHelper", 0, true);
    std::string reply;
    EXPECT_FALSE(client.SyncSendWithReply(
        "run " + IPC::JoinArguments({"/usr/bin/touch", marker.string()}), reply));
    EXPECT_EQ(reply, "refused: only the package installer may be run");
    EXPECT_FALSE(client.SyncSendWithReply("hello", reply));
    EXPECT_EQ(reply, "refused: not a run request");
    EXPECT_FALSE(fs::exists(marker));

    const fs::path package = PlatformRootEnvironment::Root() / "ok.pkg";
    ASSERT_TRUE(MakeArchive(package, {{"Other.app/", ""}}));
    EXPECT_FALSE(client.SyncSendWithReply(InstallRequest(package), reply));
    EXPECT_EQ(reply, "ok");
    EXPECT_EQ(helper.Stop(), 0);
    EXPECT_FALSE(fs::exists(HelperSocketPath()));
}

TEST(HelperProcessTest, RefusesACallerThatIsNotItsUser)
{
    const fs::path package = PlatformRootEnvironment::Root() / "refused.pkg";
    ASSERT_TRUE(MakeArchive(package, {{"Refused.app/", ""}}));
    std::string reply;
    if (getuid() == 0)
    {
        // Serving root, asked by "nobody".
        HelperProcess helper;
        ASSERT_TRUE(helper.IsServing());
        reply = RequestAsUser(InstallRequest(package), kNobody);
    }
    else
    {
        HelperProcess helper("--user", std::to_string(getuid() + 1));
        ASSERT_TRUE(helper.IsServing());
        reply = RequestAsUser(InstallRequest(package), getuid());
    }
    EXPECT_EQ(reply, "refused: caller not allowed");
    EXPECT_FALSE(fs::exists(PlatformRootEnvironment::Root() / "Applications/Refused.app"));
}
