// UpdaterHelper: serves "com.Korvane.UpdaterHelper" and runs the package
// installer for the user it serves.
//   UpdaterHelper [--user UID]
// Without --user it serves the user who started it. SIGTERM or SIGINT end it.
#include "HelperService.h"
#include "IPCCommon.h"

#include "platform/MessageChannel.h"
#include "platform/PlatformRoot.h"
#include "platform/ProcessRunner.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace
{
Korvane::Platform::MessageServer* sServer = nullptr;

void StopOnSignal(int)
{
    if (sServer != nullptr)
        sServer->Stop();
}

bool ParseUser(int argc, char** argv, uid_t& user)
{
    user = getuid();
    for (int index = 1; index < argc; ++index)
    {
        const std::string option = argv[index];
        if (option != "--user" || index + 1 >= argc)
            return false;
        char* end = nullptr;
        const unsigned long value = std::strtoul(argv[++index], &end, 10);
        if (end == argv[index] || *end != '\0')
            return false;
        user = static_cast<uid_t>(value);
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    using namespace Korvane;
    uid_t servedUser = 0;
    if (!ParseUser(argc, argv, servedUser))
    {
        std::cerr << "usage: UpdaterHelper [--user UID]\n";
        return 2;
    }

    const std::string service = std::string(IPC::kMacDomainName) + "UpdaterHelper";
    const std::string socketPath = Platform::ServiceSocketPath(service, true);
    Platform::MessageServer server;
    std::string error;
    // Any local user may connect; each caller is checked by its credentials.
    if (!server.Listen(socketPath, 0666, error))
    {
        std::cerr << "UpdaterHelper: cannot serve " << socketPath << ": " << error << "\n";
        return 1;
    }

    sServer = &server;
    struct sigaction action
    {
    };
    action.sa_handler = StopOnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Helper::HelperService service_(servedUser, Platform::PlatformPath("/usr/sbin/installer"),
                                   [](const std::vector<std::string>& arguments)
                                   { return Platform::RunProcess(arguments); });
    server.Serve([&service_](const Platform::PeerCredentials& peer,
                             const Platform::MessageDictionary* request, bool wantsReply)
                 { return service_.Handle(peer, request, wantsReply); });
    sServer = nullptr;
    return 0;
}
