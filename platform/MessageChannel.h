#pragma once

#include "platform/MessageFrame.h"

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace Korvane
{
namespace Platform
{

// Where the service `serviceName` (the full name, e.g. "com.Korvane.X")
// listens: "<platform root>/var/run/<name>" for a privileged service, else a
// per-user path ($XDG_RUNTIME_DIR/<name>, or <temp dir>/<name>-<uid>).
std::string ServiceSocketPath(const std::string& serviceName, bool privileged);

// Client end of a message channel to a service. Connects on the first send
// (and again after the service dropped an established connection). Replies
// and events are delivered on a thread of the connection's own, never on the
// caller's, and never after the connection object has been destroyed.
class MessageConnection
{
  public:
    enum class Event
    {
        // The service closed an established connection (or failed to read
        // or write it). The connection stays usable: the next send reconnects.
        Interrupted,
        // The service could not be reached, or the connection was cancelled.
        // The connection is dead: later sends fail the same way.
        Invalid,
    };
    using EventHandler = std::function<void(Event)>;
    // Called once per request: with the reply, or with null and the event
    // that prevented it.
    using ReplyHandler = std::function<void(const MessageDictionary* reply, Event error)>;

    MessageConnection(std::string socketPath, EventHandler handler);
    // Cancels (outstanding replies get Invalid) and waits for the
    // connection's thread.
    ~MessageConnection();
    MessageConnection(const MessageConnection&) = delete;
    MessageConnection& operator=(const MessageConnection&) = delete;

    void Send(MessageDictionary message);
    void SendWithReply(MessageDictionary message, ReplyHandler handler);
    // Closes the connection: the event handler gets Invalid, then every
    // outstanding reply handler. Returns at once.
    void Cancel();

    struct State;

  private:
    std::shared_ptr<State> mState;
    std::thread mThread;
};

// The identity of a connected peer, taken from the socket itself.
struct PeerCredentials
{
    uid_t uid = static_cast<uid_t>(-1);
    pid_t pid = -1;
};

// Server end: listens on a socket path and hands each message to a handler.
// Each connection is served on its own thread; messages of one connection
// are handled in order.
class MessageServer
{
  public:
    struct Response
    {
        enum class Action
        {
            Reply, // answer with `reply` (only for a request that wants one)
            None,  // send nothing
            Close, // drop the connection without answering
        };
        Action action = Action::None;
        MessageDictionary reply;
    };
    // `request` is null for a malformed frame; the connection is closed
    // after the handler returns, since the stream can no longer be trusted.
    using Handler = std::function<Response(const PeerCredentials& peer,
                                           const MessageDictionary* request, bool wantsReply)>;

    MessageServer();
    ~MessageServer();
    MessageServer(const MessageServer&) = delete;
    MessageServer& operator=(const MessageServer&) = delete;

    // Creates the socket's directory, replaces a stale socket file nobody
    // answers on, and listens with the given permission bits. False (with a
    // reason in `error`) when the path is taken by a live service or the
    // socket cannot be made.
    bool Listen(const std::string& socketPath, mode_t mode, std::string& error);

    // Serves until Stop(); returns after every connection thread has ended
    // and the socket file has been removed.
    void Serve(Handler handler);

    // Ends Serve. Async-signal-safe.
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> mState;
};

// True when something accepts connections at `socketPath`.
bool IsServiceListening(const std::string& socketPath);

} // namespace Platform
} // namespace Korvane
