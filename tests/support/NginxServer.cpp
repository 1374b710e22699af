#include "support/NginxServer.h"

#include <boost/filesystem/operations.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = boost::filesystem;

namespace Korvane
{
namespace Testing
{
namespace
{
using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds kStartBound{20};
constexpr std::chrono::seconds kStopBound{10};

sockaddr_in LoopbackAddress(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port that was free a moment ago. nginx binds it itself, so another
// process could take it in between; the start then fails visibly.
uint16_t FreeLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

bool Accepts(uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const sockaddr_in address = LoopbackAddress(port);
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

bool Reaped(pid_t pid, Clock::time_point deadline)
{
    while (Clock::now() < deadline)
    {
        const pid_t result = waitpid(pid, nullptr, WNOHANG);
        if (result == pid || result < 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}
} // namespace

NginxServer::NginxServer()
    : mDirectory(fs::temp_directory_path() / fs::unique_path("updater-nginx-%%%%-%%%%-%%%%")),
      mRoot(mDirectory / "www"), mPort(FreeLoopbackPort())
{
    fs::create_directories(mRoot);
    if (!Available() || mPort == 0)
        return;
    WriteConfig();

    const std::string config = (mDirectory / "nginx.conf").string();
    const std::string prefix = mDirectory.string() + "/";
    std::vector<std::string> arguments = {kExecutable, "-p", prefix, "-c", config};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&mPid, kExecutable, nullptr, nullptr, argv.data(), environ) != 0)
    {
        mPid = -1;
        return;
    }

    const auto deadline = Clock::now() + kStartBound;
    while (!Accepts(mPort) && Clock::now() < deadline)
    {
        if (waitpid(mPid, nullptr, WNOHANG) == mPid)
        {
            mPid = -1; // exited: the error log tells why
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

NginxServer::~NginxServer()
{
    Stop();
    boost::system::error_code ignored;
    fs::remove_all(mDirectory, ignored);
}

bool NginxServer::Available()
{
    return access(kExecutable, X_OK) == 0;
}

void NginxServer::WriteConfig() const
{
    const std::string d = mDirectory.string();
    std::ofstream out((mDirectory / "nginx.conf").string());
    out << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
        << "events { worker_connections 64; }\n"
        << "http {\n"
        << "  access_log " << d << "/access.log;\n"
        << "  client_body_temp_path " << d << "/client;\n"
        << "  proxy_temp_path " << d << "/proxy;\n"
        << "  fastcgi_temp_path " << d << "/fastcgi;\n"
        << "  uwsgi_temp_path " << d << "/uwsgi;\n"
        << "  scgi_temp_path " << d << "/scgi;\n"
        << "  types { application/json json; application/octet-stream dmg; }\n"
        << "  default_type application/octet-stream;\n"
        << "  server {\n"
        << "    listen 127.0.0.1:" << mPort << ";\n"
        << "    root " << mRoot.string()
        << ";\n"
        // The resource query path has no extension: serve its JSON as JSON.
        << "    location /api/ { default_type application/json; }\n"
        << "  }\n}\n";
}

void NginxServer::Stop()
{
    if (mPid <= 0)
        return;
    kill(mPid, SIGQUIT);
    if (!Reaped(mPid, Clock::now() + kStopBound))
    {
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
    }
    mPid = -1;
}

bool NginxServer::Running() const
{
    return mPid > 0 && Accepts(mPort);
}

std::string NginxServer::HostAndPort() const
{
    return "127.0.0.1:" + std::to_string(mPort);
}

std::string NginxServer::Url(const std::string& path) const
{
    return "http://" + HostAndPort() + path;
}

std::string NginxServer::ErrorLog() const
{
    std::ifstream in((mDirectory / "error.log").string());
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace Testing
} // namespace Korvane
