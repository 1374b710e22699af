#include "support/LoopbackHttpServer.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace Korvane
{
namespace Testing
{
namespace
{
constexpr auto kSendDrainBound = std::chrono::seconds(10);

std::string ReasonFor(int status)
{
    switch (status)
    {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 416:
        return "Requested Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// The N of "bytes=N-"; nullopt for anything else.
std::optional<uint64_t> OpenRangeStart(const std::optional<std::string>& range)
{
    if (!range || !boost::algorithm::starts_with(*range, "bytes=") || range->back() != '-')
        return std::nullopt;
    const std::string digits = range->substr(6, range->size() - 7);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return std::nullopt;
    return std::stoull(digits);
}

bool ParseHead(const std::string& head, RecordedRequest& request)
{
    std::istringstream lines(head);
    std::string line;
    if (!std::getline(lines, line))
        return false;
    boost::algorithm::trim_right(line);
    std::istringstream requestLine(line);
    std::string version;
    if (!(requestLine >> request.mMethod >> request.mTarget >> version))
        return false;
    while (std::getline(lines, line))
    {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        request.mHeaders.emplace_back(boost::algorithm::trim_copy(line.substr(0, colon)),
                                      boost::algorithm::trim_copy(line.substr(colon + 1)));
    }
    return true;
}
} // namespace

std::optional<std::string> RecordedRequest::Header(const std::string& name) const
{
    for (const auto& [key, value] : mHeaders)
        if (boost::algorithm::iequals(key, name))
            return value;
    return std::nullopt;
}

ScriptedResponse ScriptedResponse::Status(int status, std::string body)
{
    ScriptedResponse response;
    response.mStatus = status;
    response.mBody = std::move(body);
    return response;
}

ScriptedResponse ScriptedResponse::Resource(const std::string& contents,
                                            const RecordedRequest& request, bool honourRange)
{
    const std::optional<uint64_t> start =
        honourRange ? OpenRangeStart(request.Header("Range")) : std::nullopt;
    if (!start)
        return Status(200, contents);
    const uint64_t size = contents.size();
    if (*start >= size)
    {
        ScriptedResponse response = Status(416);
        response.mHeaders.emplace_back("Content-Range", "bytes */" + std::to_string(size));
        return response;
    }
    ScriptedResponse response = Status(206, contents.substr(*start));
    response.mHeaders.emplace_back("Content-Range", "bytes " + std::to_string(*start) + "-" +
                                                        std::to_string(size - 1) + "/" +
                                                        std::to_string(size));
    return response;
}

ScriptedResponse ScriptedResponse::File(const boost::filesystem::path& file,
                                        const RecordedRequest& request, bool honourRange)
{
    std::ifstream in(file.string(), std::ios::binary);
    if (!in)
        return Status(404);
    const std::string contents((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return Resource(contents, request, honourRange);
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : mHandler(std::move(handler))
{
    if (pipe2(mWakePipe, O_CLOEXEC) != 0)
        throw std::runtime_error("LoopbackHttpServer: pipe failed");
    mListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (mListener < 0 || bind(mListener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(mListener, 16) != 0 ||
        getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("LoopbackHttpServer: cannot listen on 127.0.0.1");
    mPort = ntohs(address.sin_port);
    mAcceptThread = std::thread([this] { AcceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    mStopping = true;
    const char wake = 1;
    (void)!write(mWakePipe[1], &wake, 1);
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStallReleased = true;
        // Unblocks sends to clients that stopped reading.
        for (int connection : mOpenConnections)
            shutdown(connection, SHUT_RDWR);
    }
    mChanged.notify_all();
    mAcceptThread.join();
    for (std::thread& thread : mConnectionThreads)
        thread.join();
    close(mListener);
    close(mWakePipe[0]);
    close(mWakePipe[1]);
}

std::string LoopbackHttpServer::HostAndPort() const
{
    return "127.0.0.1:" + std::to_string(mPort);
}

std::string LoopbackHttpServer::Url(const std::string& path) const
{
    return "http://" + HostAndPort() + path;
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mRequests;
}

bool LoopbackHttpServer::WaitForRequests(size_t count, std::chrono::milliseconds bound) const
{
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, bound, [&] { return mRequests.size() >= count; });
}

bool LoopbackHttpServer::WaitForStall(std::chrono::milliseconds bound) const
{
    std::unique_lock<std::mutex> lock(mMutex);
    return mChanged.wait_for(lock, bound, [&] { return mStalled > 0; });
}

void LoopbackHttpServer::ReleaseStall()
{
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mStallReleased = true;
    }
    mChanged.notify_all();
}

size_t LoopbackHttpServer::ConnectionCount() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    return mConnections;
}

void LoopbackHttpServer::AcceptLoop()
{
    while (WaitReadable(mListener))
    {
        const int connection = accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        std::lock_guard<std::mutex> lock(mMutex);
        if (mStopping)
        {
            close(connection);
            break;
        }
        ++mConnections;
        mOpenConnections.insert(connection);
        mConnectionThreads.emplace_back([this, connection] { Serve(connection); });
    }
}

bool LoopbackHttpServer::WaitReadable(int fd)
{
    pollfd fds[2] = {{fd, POLLIN, 0}, {mWakePipe[0], POLLIN, 0}};
    while (!mStopping)
    {
        const int ready = poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (fds[1].revents & POLLIN) != 0)
            return false;
        if (fds[0].revents != 0)
            return true;
    }
    return false;
}

bool LoopbackHttpServer::WaitFor(std::chrono::milliseconds delay)
{
    std::unique_lock<std::mutex> lock(mMutex);
    mChanged.wait_for(lock, delay, [&] { return mStopping.load(); });
    return !mStopping;
}

void LoopbackHttpServer::Serve(int connection)
{
    std::string buffer;
    bool open = true;
    while (open && !mStopping)
    {
        size_t headEnd = std::string::npos;
        while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos)
        {
            char chunk[4096];
            if (!WaitReadable(connection))
                break;
            const ssize_t received = recv(connection, chunk, sizeof(chunk), 0);
            if (received <= 0)
                break;
            buffer.append(chunk, static_cast<size_t>(received));
        }
        RecordedRequest request;
        if (headEnd == std::string::npos || !ParseHead(buffer.substr(0, headEnd), request))
            break;
        buffer.erase(0, headEnd + 4);
        // A request body is not used; it is skipped as far as it has arrived.
        const std::optional<std::string> bodyLength = request.Header("Content-Length");
        if (bodyLength)
            buffer.erase(0, std::min<size_t>(buffer.size(), std::stoul(*bodyLength)));

        {
            std::lock_guard<std::mutex> lock(mMutex);
            mRequests.push_back(request);
        }
        mChanged.notify_all();
        open = SendResponse(connection, request, mHandler(request));
        const std::optional<std::string> connectionHeader = request.Header("Connection");
        if (connectionHeader && boost::algorithm::iequals(*connectionHeader, "close"))
            open = false;
    }
    std::lock_guard<std::mutex> lock(mMutex);
    mOpenConnections.erase(connection);
    close(connection);
}

bool LoopbackHttpServer::SendResponse(int connection, const RecordedRequest& request,
                                      ScriptedResponse response)
{
    if (response.mDelayBeforeHead.count() > 0 && !WaitFor(response.mDelayBeforeHead))
        return false;
    if (response.mNoResponse)
        return false;

    std::string head =
        "HTTP/1.1 " + std::to_string(response.mStatus) + " " + ReasonFor(response.mStatus) + "\r\n";
    for (const auto& [name, value] : response.mHeaders)
        head += name + ": " + value + "\r\n";
    if (response.mAnnounceLength)
        head += "Content-Length: " +
                std::to_string(response.mAnnouncedLength.value_or(
                    static_cast<int64_t>(response.mBody.size()))) +
                "\r\n";
    const bool keepOpen = response.mAnnounceLength && !response.mCloseAfter &&
                          response.mCut == ScriptedResponse::Cut::None;
    if (!keepOpen)
        head += "Connection: close\r\n";
    head += "\r\n";
    if (!SendAll(connection, head.data(), head.size()))
        return false;

    const std::string& body = request.mMethod == "HEAD" ? std::string() : response.mBody;
    size_t limit = body.size();
    if (response.mCut != ScriptedResponse::Cut::None)
        limit = std::min(limit, response.mCutAfter);
    size_t sent = 0;
    if (response.mStallAfter)
    {
        const size_t stallAt = std::min(limit, *response.mStallAfter);
        if (!SendAll(connection, body.data(), stallAt))
            return false;
        sent = stallAt;
        std::unique_lock<std::mutex> lock(mMutex);
        ++mStalled;
        mChanged.notify_all();
        mChanged.wait(lock, [&] { return mStallReleased || mStopping.load(); });
        --mStalled;
        if (mStopping)
            return false;
    }
    if (!SendAll(connection, body.data() + sent, limit - sent))
        return false;

    if (response.mCut == ScriptedResponse::Cut::Reset)
    {
        // Closing with unsent data would drop it; let the client get it first.
        WaitUntilSent(connection);
        const linger abortive{1, 0};
        setsockopt(connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    }
    else if (response.mCut == ScriptedResponse::Cut::Close || !keepOpen)
    {
        shutdown(connection, SHUT_WR);
    }
    return keepOpen;
}

bool LoopbackHttpServer::SendAll(int connection, const char* data, size_t size)
{
    while (size > 0)
    {
        const ssize_t written = send(connection, data, size, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void LoopbackHttpServer::WaitUntilSent(int connection)
{
    const auto deadline = std::chrono::steady_clock::now() + kSendDrainBound;
    int unsent = 0;
    while (!mStopping && std::chrono::steady_clock::now() < deadline &&
           ioctl(connection, SIOCOUTQ, &unsent) == 0 && unsent > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace Testing
} // namespace Korvane
