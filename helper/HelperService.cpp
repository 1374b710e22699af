#include "HelperService.h"

#include "CommandLineText.h"
#include "IPCCommon.h"

namespace Korvane
{
namespace Helper
{
namespace
{
constexpr char kRunPrefix[] = "run ";
} // namespace

bool IsCallerAllowed(uid_t caller, uid_t servedUser)
{
    return caller == 0 || caller == servedUser;
}

bool ParseInstallCommand(const std::string& commandLine, const std::string& installerTool,
                         std::vector<std::string>& arguments)
{
    if (!IPC::SplitArguments(commandLine, arguments))
        return false;
    const bool valid = arguments.size() == 6 && !installerTool.empty() &&
                       arguments[0] == installerTool && arguments[1] == "-verboseR" &&
                       arguments[2] == "-target" && arguments[3] == "/" && arguments[4] == "-pkg" &&
                       arguments[5].size() > 1 && arguments[5][0] == '/';
    if (!valid)
        arguments.clear();
    return valid;
}

HelperService::HelperService(uid_t servedUser, std::string installerTool, Runner runner)
    : mServedUser(servedUser), mInstallerTool(std::move(installerTool)), mRunner(std::move(runner))
{
}

std::string HelperService::Answer(uid_t caller, const std::string& requestText)
{
    if (!IsCallerAllowed(caller, mServedUser))
        return kReplyCallerRefused;
    const std::string prefix = kRunPrefix;
    if (requestText.compare(0, prefix.size(), prefix) != 0)
        return kReplyNotRunRequest;
    const std::string commandLine = requestText.substr(prefix.size());
    std::vector<std::string> arguments;
    if (!IPC::SplitArguments(commandLine, arguments))
        return kReplyBadCommandLine;
    if (!ParseInstallCommand(commandLine, mInstallerTool, arguments))
        return kReplyCommandRefused;

    std::lock_guard<std::mutex> lock(mRunMutex);
    const int status = mRunner(arguments);
    if (status == 0)
        return kReplyOk;
    if (status < 0)
        return kReplyStartFailed;
    return kReplyFailedPrefix + std::to_string(status);
}

Platform::MessageServer::Response HelperService::Handle(const Platform::PeerCredentials& peer,
                                                        const Platform::MessageDictionary* request,
                                                        bool wantsReply)
{
    using Response = Platform::MessageServer::Response;
    Response response;
    if (request == nullptr)
    {
        response.action = Response::Action::Close;
        return response;
    }
    // A request without reply would run a command nobody hears about: the
    // helper ignores it.
    if (!wantsReply)
        return response;

    std::string text = kReplyNotRunRequest;
    const auto message = request->find(IPC::kPropertyMessage);
    if (!IsCallerAllowed(peer.uid, mServedUser))
        text = kReplyCallerRefused;
    else if (message != request->end() &&
             message->second.type == Platform::MessageValue::Type::Data)
        text = Answer(peer.uid, message->second.bytes);

    response.action = Response::Action::Reply;
    response.reply.emplace(IPC::kPropertyMessage, Platform::MessageValue::Data(text));
    return response;
}

} // namespace Helper
} // namespace Korvane
