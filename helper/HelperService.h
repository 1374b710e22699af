#pragma once

#include "platform/MessageChannel.h"

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace Korvane
{
namespace Helper
{

// Reply texts other than "ok".
constexpr char kReplyOk[] = "ok";
constexpr char kReplyCallerRefused[] = "refused: caller not allowed";
constexpr char kReplyNotRunRequest[] = "refused: not a run request";
constexpr char kReplyBadCommandLine[] = "refused: malformed command line";
constexpr char kReplyCommandRefused[] = "refused: only the package installer may be run";
constexpr char kReplyStartFailed[] = "failed: the command could not be started";
constexpr char kReplyFailedPrefix[] = "failed: exit status ";

// Whether a caller may use the helper: root, or the user it serves.
bool IsCallerAllowed(uid_t caller, uid_t servedUser);

// Splits a "run" command line and checks that it is exactly
//   <installerTool> -verboseR -target / -pkg <absolute package path>
// False when it is anything else.
bool ParseInstallCommand(const std::string& commandLine, const std::string& installerTool,
                         std::vector<std::string>& arguments);

// Answers the helper's requests. The helper runs commands with the rights of
// its own user, so it runs nothing but the package installer, for nobody but
// its user (or root), and one command at a time.
class HelperService
{
  public:
    using Runner = std::function<int(const std::vector<std::string>&)>;

    HelperService(uid_t servedUser, std::string installerTool, Runner runner);

    // The reply text for one request text: "run " followed by a command line.
    std::string Answer(uid_t caller, const std::string& requestText);

    // Adapter for the message server: reads the request's "message" data,
    // answers with "message" data; closes the connection on a malformed frame.
    Platform::MessageServer::Response Handle(const Platform::PeerCredentials& peer,
                                             const Platform::MessageDictionary* request,
                                             bool wantsReply);

  private:
    const uid_t mServedUser;
    const std::string mInstallerTool;
    Runner mRunner;
    std::mutex mRunMutex;
};

} // namespace Helper
} // namespace Korvane
