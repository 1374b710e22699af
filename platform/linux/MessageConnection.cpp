#include "platform/MessageChannel.h"
#include "platform/linux/SocketSupport.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace Korvane
{
namespace Platform
{

struct MessageConnection::State
{
    struct Outgoing
    {
        MessageDictionary message;
        ReplyHandler replyHandler; // empty for a message without reply
    };

    State(std::string path, EventHandler handler)
        : mSocketPath(std::move(path)), mEventHandler(std::move(handler))
    {
        if (!Detail::MakeWakePipe(mWake))
            mWake[0] = mWake[1] = -1;
    }
    ~State()
    {
        CloseSocket();
        if (mWake[0] >= 0)
            close(mWake[0]);
        if (mWake[1] >= 0)
            close(mWake[1]);
    }

    void Post(Outgoing item)
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mQueue.push_back(std::move(item));
        }
        Wake();
    }
    void RequestCancel(bool stop)
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mCancelRequested = true;
            mStopRequested = mStopRequested || stop;
        }
        Wake();
    }
    void Wake()
    {
        if (mWake[1] >= 0)
        {
            const char byte = 1;
            (void)!write(mWake[1], &byte, 1);
        }
    }

    void Loop();

  private:
    void CloseSocket()
    {
        if (mSocket >= 0)
            close(mSocket);
        mSocket = -1;
        mAssembler = FrameAssembler();
    }
    void FailPending(Event event)
    {
        std::deque<ReplyHandler> pending;
        pending.swap(mPending);
        for (ReplyHandler& handler : pending)
            handler(nullptr, event);
    }
    void Invalidate()
    {
        CloseSocket();
        if (!mInvalid)
        {
            mInvalid = true;
            if (mEventHandler)
                mEventHandler(Event::Invalid);
            // Nothing is delivered after invalidation: dropping the handler
            // releases whatever it holds.
            mEventHandler = nullptr;
        }
        FailPending(Event::Invalid);
    }
    void Interrupt()
    {
        CloseSocket();
        if (mEventHandler)
            mEventHandler(Event::Interrupted);
        FailPending(Event::Interrupted);
    }
    void Deliver(Outgoing& item);
    void ReadAvailable();

    const std::string mSocketPath;
    EventHandler mEventHandler;
    int mWake[2] = {-1, -1};

    std::mutex mMutex;
    std::deque<Outgoing> mQueue;
    bool mCancelRequested = false;
    bool mStopRequested = false;

    // Owned by the connection's thread.
    int mSocket = -1;
    bool mInvalid = false;
    FrameAssembler mAssembler;
    std::deque<ReplyHandler> mPending;
};

void MessageConnection::State::Deliver(Outgoing& item)
{
    if (!mInvalid && mSocket < 0)
    {
        mSocket = Detail::ConnectUnixSocket(mSocketPath);
        if (mSocket < 0)
            Invalidate();
    }
    if (mInvalid)
    {
        if (item.replyHandler)
            item.replyHandler(nullptr, Event::Invalid);
        return;
    }
    const bool wantsReply = static_cast<bool>(item.replyHandler);
    const std::string frame =
        EncodeFrame(item.message, wantsReply ? FrameKind::Request : FrameKind::Message);
    if (wantsReply)
        mPending.push_back(std::move(item.replyHandler));
    if (frame.empty() || !Detail::WriteAll(mSocket, frame))
        Interrupt();
}

void MessageConnection::State::ReadAvailable()
{
    char buffer[16384];
    const ssize_t count = recv(mSocket, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (count <= 0)
    {
        Interrupt();
        return;
    }
    mAssembler.Append(buffer, static_cast<size_t>(count));
    for (;;)
    {
        MessageDictionary reply;
        FrameKind kind = FrameKind::Reply;
        const FrameAssembler::Result result = mAssembler.Next(reply, kind);
        if (result == FrameAssembler::Result::Incomplete)
            return;
        if (result == FrameAssembler::Result::Malformed)
        {
            Interrupt();
            return;
        }
        // Unsolicited messages and replies nobody waits for are ignored.
        if (kind != FrameKind::Reply || mPending.empty())
            continue;
        ReplyHandler handler = std::move(mPending.front());
        mPending.pop_front();
        handler(&reply, Event::Invalid);
    }
}

void MessageConnection::State::Loop()
{
    for (;;)
    {
        std::deque<Outgoing> queue;
        bool cancel = false;
        bool stop = false;
        {
            std::lock_guard<std::mutex> lock(mMutex);
            queue.swap(mQueue);
            cancel = mCancelRequested;
            stop = mStopRequested;
        }
        if (cancel)
            Invalidate();
        for (Outgoing& item : queue)
            Deliver(item);
        if (stop)
            return;

        pollfd fds[2] = {{mWake[0], POLLIN, 0}, {mSocket, POLLIN, 0}};
        const nfds_t count = mSocket >= 0 ? 2 : 1;
        if (poll(fds, count, -1) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            Detail::DrainPipe(mWake[0]);
        if (count == 2 && fds[1].revents != 0)
            ReadAvailable();
    }
}

MessageConnection::MessageConnection(std::string socketPath, EventHandler handler)
    : mState(std::make_shared<State>(std::move(socketPath), std::move(handler)))
{
    std::shared_ptr<State> state = mState;
    mThread = std::thread([state] { state->Loop(); });
}

MessageConnection::~MessageConnection()
{
    mState->RequestCancel(true);
    if (mThread.get_id() == std::this_thread::get_id())
        mThread.detach(); // destroyed from one of its own handlers
    else if (mThread.joinable())
        mThread.join();
}

void MessageConnection::Send(MessageDictionary message)
{
    mState->Post({std::move(message), nullptr});
}

void MessageConnection::SendWithReply(MessageDictionary message, ReplyHandler handler)
{
    if (!handler)
        handler = [](const MessageDictionary*, Event) {};
    mState->Post({std::move(message), std::move(handler)});
}

void MessageConnection::Cancel()
{
    mState->RequestCancel(false);
}

} // namespace Platform
} // namespace Korvane
