#include "platform/MessageChannel.h"
#include "platform/linux/SocketSupport.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>

namespace Korvane
{
namespace Platform
{
namespace
{
constexpr size_t kMaxConnections = 16;

PeerCredentials ReadPeerCredentials(int fd)
{
    PeerCredentials peer;
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
        length == sizeof(credentials))
    {
        peer.uid = credentials.uid;
        peer.pid = credentials.pid;
    }
    return peer;
}
} // namespace

bool IsServiceListening(const std::string& socketPath)
{
    const int fd = Detail::ConnectUnixSocket(socketPath);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

struct MessageServer::State
{
    struct Connection
    {
        int fd = -1;
        std::thread thread;
        bool done = false;
    };

    std::string socketPath;
    int listenFd = -1;
    int wake[2] = {-1, -1};

    std::mutex mutex;
    std::list<Connection> connections;

    void ServeConnection(Connection& connection, const Handler& handler);
    void ReapFinished(bool all);
};

void MessageServer::State::ServeConnection(Connection& connection, const Handler& handler)
{
    const PeerCredentials peer = ReadPeerCredentials(connection.fd);
    FrameAssembler assembler;
    char buffer[16384];
    bool open = true;
    while (open)
    {
        const ssize_t count = recv(connection.fd, buffer, sizeof(buffer), 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        assembler.Append(buffer, static_cast<size_t>(count));
        for (;;)
        {
            MessageDictionary request;
            FrameKind kind = FrameKind::Message;
            const FrameAssembler::Result result = assembler.Next(request, kind);
            if (result == FrameAssembler::Result::Incomplete)
                break;
            if (result == FrameAssembler::Result::Malformed || kind == FrameKind::Reply)
            {
                handler(peer, nullptr, false);
                open = false;
                break;
            }
            const bool wantsReply = kind == FrameKind::Request;
            const Response response = handler(peer, &request, wantsReply);
            if (response.action == Response::Action::Close)
            {
                open = false;
                break;
            }
            if (wantsReply && response.action == Response::Action::Reply &&
                !Detail::WriteAll(connection.fd, EncodeFrame(response.reply, FrameKind::Reply)))
            {
                open = false;
                break;
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    close(connection.fd);
    connection.fd = -1;
    connection.done = true;
}

void MessageServer::State::ReapFinished(bool all)
{
    std::list<Connection> finished;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = connections.begin(); it != connections.end();)
        {
            auto next = std::next(it);
            if (all && it->fd >= 0)
                shutdown(it->fd, SHUT_RDWR);
            if (it->done || all)
                finished.splice(finished.end(), connections, it);
            it = next;
        }
    }
    for (Connection& connection : finished)
        if (connection.thread.joinable())
            connection.thread.join();
}

MessageServer::MessageServer() : mState(std::make_unique<State>())
{
    if (!Detail::MakeWakePipe(mState->wake))
        mState->wake[0] = mState->wake[1] = -1;
}

MessageServer::~MessageServer()
{
    mState->ReapFinished(true);
    if (mState->listenFd >= 0)
    {
        close(mState->listenFd);
        unlink(mState->socketPath.c_str());
    }
    for (int fd : mState->wake)
        if (fd >= 0)
            close(fd);
}

bool MessageServer::Listen(const std::string& socketPath, mode_t mode, std::string& error)
{
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof(address.sun_path))
    {
        error = "socket path is empty or too long";
        return false;
    }
    boost::system::error_code ec;
    boost::filesystem::create_directories(boost::filesystem::path(socketPath).parent_path(), ec);
    if (IsServiceListening(socketPath))
    {
        error = "another server is listening on " + socketPath;
        return false;
    }
    struct stat existing
    {
    };
    if (lstat(socketPath.c_str(), &existing) == 0)
    {
        if (!S_ISSOCK(existing.st_mode))
        {
            error = socketPath + " exists and is not a socket";
            return false;
        }
        unlink(socketPath.c_str());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        error = std::strerror(errno);
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        chmod(socketPath.c_str(), mode) != 0 || listen(fd, 16) != 0)
    {
        error = std::strerror(errno);
        close(fd);
        return false;
    }
    mState->socketPath = socketPath;
    mState->listenFd = fd;
    return true;
}

void MessageServer::Serve(Handler handler)
{
    State& state = *mState;
    for (;;)
    {
        pollfd fds[2] = {{state.wake[0], POLLIN, 0}, {state.listenFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents != 0)
            break;
        if (fds[1].revents == 0)
            continue;
        const int client = accept4(state.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        state.ReapFinished(false);
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.connections.size() >= kMaxConnections)
        {
            close(client);
            continue;
        }
        state.connections.emplace_back();
        State::Connection& connection = state.connections.back();
        connection.fd = client;
        connection.thread = std::thread([&state, &connection, &handler]
                                        { state.ServeConnection(connection, handler); });
    }
    state.ReapFinished(true);
    if (state.listenFd >= 0)
    {
        close(state.listenFd);
        unlink(state.socketPath.c_str());
        state.listenFd = -1;
    }
}

void MessageServer::Stop()
{
    if (mState->wake[1] >= 0)
    {
        const char byte = 1;
        (void)!write(mState->wake[1], &byte, 1);
    }
}

} // namespace Platform
} // namespace Korvane
