// resource-server: answers the updater's resource queries and serves
// installer files from a directory, for the demo and end-to-end tests.

#include "ResourceRequestHandler.h"
#include "ResourceServerOptions.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <boost/filesystem/operations.hpp>

#include <csignal>
#include <iostream>

using Korvane::ResourceServer::ResourceRequestHandlerFactory;
using Korvane::ResourceServer::ResourceServerOptions;

int main(int argc, char* argv[])
{
    std::string error;
    const auto options = ResourceServerOptions::Parse(argc, argv, error);
    if (!options)
    {
        std::cerr << "resource-server: " << error << "\n" << ResourceServerOptions::Usage();
        return 2;
    }
    boost::system::error_code rootError;
    const boost::filesystem::path root = boost::filesystem::canonical(options->mRoot, rootError);
    if (rootError || !boost::filesystem::is_directory(root))
    {
        std::cerr << "resource-server: not a directory: " << options->mRoot << "\n";
        return 2;
    }

    // Blocked before any thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try
    {
        Poco::Net::ServerSocket socket(Poco::Net::SocketAddress(options->mHost, options->mPort));
        auto* params = new Poco::Net::HTTPServerParams;
        params->setKeepAlive(true);
        Poco::Net::HTTPServer server(new ResourceRequestHandlerFactory(root), socket, params);
        server.start();
        std::cout << "listening on " << socket.address().toString() << std::endl;

        int received = 0;
        sigwait(&stopSignals, &received);
        server.stopAll(true);
    }
    catch (const Poco::Exception& failure)
    {
        std::cerr << "resource-server: " << failure.displayText() << "\n";
        return 1;
    }
    return 0;
}
