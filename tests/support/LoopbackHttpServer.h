#pragma once

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Korvane
{
namespace Testing
{

// One request as the server received it. Header names are kept as sent;
// Header() looks them up without regard to case.
struct RecordedRequest
{
    std::string mMethod;
    std::string mTarget; // path and query, e.g. "/files/a.dmg"
    std::vector<std::pair<std::string, std::string>> mHeaders;

    // The value of the first header called `name`; nullopt when absent.
    std::optional<std::string> Header(const std::string& name) const;
};

// What to send back for one request, with optional faults.
struct ScriptedResponse
{
    enum class Cut
    {
        None,
        Reset, // abortive close (SO_LINGER 0): the client sees a reset
        Close, // orderly close (FIN): the client sees a short body
    };

    int mStatus = 200;
    std::vector<std::pair<std::string, std::string>> mHeaders; // sent as given
    std::string mBody;
    // "Content-Length" is the body size unless overridden; with false no
    // length is sent and the connection closes after the body.
    bool mAnnounceLength = true;
    std::optional<int64_t> mAnnouncedLength;
    // Sends only the first mCutAfter body bytes, then closes as mCut says.
    Cut mCut = Cut::None;
    size_t mCutAfter = 0;
    // Waits before sending the head (bounded by the server's shutdown).
    std::chrono::milliseconds mDelayBeforeHead{0};
    // After this many body bytes, waits until ReleaseStall() or shutdown.
    std::optional<size_t> mStallAfter;
    // Closes the connection at once, sending nothing (the client gets no response).
    bool mNoResponse = false;
    // Closes the connection after this response (keep-alive otherwise).
    bool mCloseAfter = false;

    static ScriptedResponse Status(int status, std::string body = "");
    // `contents` as a resource: whole (200) or, for "Range: bytes=N-", the
    // rest from N (206 with "Content-Range") or 416 ("bytes */SIZE") when N
    // is at or past the end. With honourRange false, always 200 and whole.
    static ScriptedResponse Resource(const std::string& contents, const RecordedRequest& request,
                                     bool honourRange = true);
    // The same for a file's contents (read at every call).
    static ScriptedResponse File(const boost::filesystem::path& file,
                                 const RecordedRequest& request, bool honourRange = true);
};

// A small HTTP/1.1 server on 127.0.0.1 at a free port, for tests of HTTP
// clients. Each request is recorded and answered by the handler (called on a
// server thread; it must be thread-safe if clients run in parallel). Every
// connection has its own thread; keep-alive is honoured. The destructor
// stops the server, wakes delays and stalls, and joins every thread.
//
//   LoopbackHttpServer server([](const RecordedRequest& request) {
//       auto response = ScriptedResponse::Resource(std::string(1000, 'x'), request);
//       response.mCut = ScriptedResponse::Cut::Reset;
//       response.mCutAfter = 300;
//       return response;
//   });
//   client.Setup(server.Url("/file"));
//   EXPECT_EQ(server.Requests().at(0).Header("Range"), std::nullopt);
class LoopbackHttpServer
{
  public:
    using Handler = std::function<ScriptedResponse(const RecordedRequest&)>;

    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    uint16_t Port() const { return mPort; }
    // "127.0.0.1:PORT"
    std::string HostAndPort() const;
    // "http://127.0.0.1:PORT" + path
    std::string Url(const std::string& path) const;

    // Every request received so far, in arrival order.
    std::vector<RecordedRequest> Requests() const;
    // Waits (up to `bound`) until `count` requests have arrived.
    bool WaitForRequests(size_t count, std::chrono::milliseconds bound) const;
    // Waits (up to `bound`) until a response reached its stall point.
    bool WaitForStall(std::chrono::milliseconds bound) const;
    // Lets stalled responses (current and later ones) go on.
    void ReleaseStall();
    // Number of connections accepted so far.
    size_t ConnectionCount() const;

  private:
    void AcceptLoop();
    void Serve(int connection);
    bool SendResponse(int connection, const RecordedRequest& request, ScriptedResponse response);
    bool SendAll(int connection, const char* data, size_t size);
    bool WaitReadable(int fd);
    bool WaitFor(std::chrono::milliseconds delay);
    void WaitUntilSent(int connection);

    Handler mHandler;
    int mListener = -1;
    int mWakePipe[2] = {-1, -1};
    uint16_t mPort = 0;
    std::atomic<bool> mStopping{false};

    mutable std::mutex mMutex;
    mutable std::condition_variable mChanged;
    std::vector<RecordedRequest> mRequests;
    bool mStallReleased = false;
    size_t mStalled = 0;
    size_t mConnections = 0;
    std::set<int> mOpenConnections;
    std::list<std::thread> mConnectionThreads;
    std::thread mAcceptThread;
};

} // namespace Testing
} // namespace Korvane
