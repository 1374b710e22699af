#include "HelperService.h"

#include "CommandLineText.h"
#include "IPCCommon.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Korvane;
using namespace Korvane::Helper;

namespace
{
constexpr uid_t kServed = 1000;
const std::string kTool = "/root/usr/sbin/installer";

std::string InstallLine(const std::string& package)
{
    return IPC::JoinArguments({kTool, "-verboseR", "-target", "/", "-pkg", package});
}

class HelperServiceTest : public ::testing::Test
{
  protected:
    std::vector<std::vector<std::string>> mRuns;
    int mStatus = 0;
    HelperService mService{kServed, kTool,
                           [this](const std::vector<std::string>& arguments)
                           {
                               mRuns.push_back(arguments);
                               return mStatus;
                           }};
};
} // namespace

TEST(HelperCallerTest, OnlyRootAndTheServedUserMayCall)
{
    EXPECT_TRUE(IsCallerAllowed(0, kServed));
    EXPECT_TRUE(IsCallerAllowed(kServed, kServed));
    EXPECT_FALSE(IsCallerAllowed(kServed + 1, kServed));
    EXPECT_FALSE(IsCallerAllowed(static_cast<uid_t>(-1), kServed));
}

TEST(HelperCommandTest, AcceptsOnlyThePackageInstallerWithItsOptions)
{
    const std::string package = "/Volumes/up date/it's $(x);`y`.pkg";
    std::vector<std::string> arguments;
    ASSERT_TRUE(ParseInstallCommand(InstallLine(package), kTool, arguments));
    EXPECT_EQ(arguments.back(), package);

    const std::string refused[] = {
        IPC::JoinArguments({"/bin/sh", "-c", "id"}),
        IPC::JoinArguments({"/usr/sbin/installer", "-verboseR", "-target", "/", "-pkg", "/p.pkg"}),
        IPC::JoinArguments({kTool, "-verboseR", "-target", "/", "-pkg", "relative.pkg"}),
        IPC::JoinArguments({kTool, "-verboseR", "-target", "/", "-pkg", "/p.pkg", "-extra"}),
        IPC::JoinArguments({kTool, "-verboseR", "-target", "/tmp", "-pkg", "/p.pkg"}),
        IPC::JoinArguments({kTool, "-verboseR", "-target", "/", "-pkg", ""}),
        kTool + " -verboseR -target / -pkg '/unterminated",
        "",
    };
    for (const std::string& line : refused)
        EXPECT_FALSE(ParseInstallCommand(line, kTool, arguments)) << line;
}

TEST_F(HelperServiceTest, RunsTheInstallerAndReportsItsStatus)
{
    EXPECT_EQ(mService.Answer(kServed, "run " + InstallLine("/V/a b.pkg")), "ok");
    ASSERT_EQ(mRuns.size(), 1u);
    EXPECT_EQ(mRuns[0],
              (std::vector<std::string>{kTool, "-verboseR", "-target", "/", "-pkg", "/V/a b.pkg"}));
    mStatus = 3;
    EXPECT_EQ(mService.Answer(0, "run " + InstallLine("/V/b.pkg")), "failed: exit status 3");
    mStatus = -1;
    EXPECT_EQ(mService.Answer(0, "run " + InstallLine("/V/b.pkg")), kReplyStartFailed);
}

TEST_F(HelperServiceTest, RefusesWithoutRunningAnything)
{
    const std::pair<uid_t, std::string> cases[] = {
        {kServed + 1, "run " + InstallLine("/V/a.pkg")},
        {kServed, "RUN " + InstallLine("/V/a.pkg")},
        {kServed, "run"},
        {kServed, "run /bin/sh -c id"},
        {kServed, "run 'open"},
        {kServed, std::string("\0\xff\x01", 3)},
    };
    for (const auto& [caller, text] : cases)
        EXPECT_NE(mService.Answer(caller, text), "ok") << text;
    EXPECT_TRUE(mRuns.empty());
}

TEST_F(HelperServiceTest, MessageHandlingReadsDataAndClosesOnMalformedFrames)
{
    using Platform::MessageValue;
    using Response = Platform::MessageServer::Response;
    Platform::PeerCredentials peer{kServed, 42};
    const Platform::MessageDictionary request = {
        {IPC::kPropertySource, MessageValue::String("updater")},
        {IPC::kPropertyMessage, MessageValue::Data("run " + InstallLine("/V/a.pkg"))}};

    Response response = mService.Handle(peer, &request, true);
    EXPECT_EQ(response.action, Response::Action::Reply);
    EXPECT_EQ(response.reply.at(IPC::kPropertyMessage).bytes, "ok");

    EXPECT_EQ(mService.Handle(peer, &request, false).action, Response::Action::None);
    EXPECT_EQ(mService.Handle(peer, nullptr, false).action, Response::Action::Close);

    const Platform::MessageDictionary asString = {
        {IPC::kPropertyMessage, MessageValue::String("run " + InstallLine("/V/a.pkg"))}};
    response = mService.Handle(peer, &asString, true);
    EXPECT_EQ(response.reply.at(IPC::kPropertyMessage).bytes, kReplyNotRunRequest);

    peer.uid = kServed + 7;
    response = mService.Handle(peer, &request, true);
    EXPECT_EQ(response.reply.at(IPC::kPropertyMessage).bytes, kReplyCallerRefused);
    EXPECT_EQ(mRuns.size(), 1u);
}
