#include "IPCClient.h"

#include "IPCCommon.h"

#include "platform/MessageChannel.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace Korvane
{
namespace IPC
{

using Platform::MessageConnection;
using Platform::MessageDictionary;
using Platform::MessageValue;

struct IPCClient::Implementation
{
    Implementation(uint32_t timeoutMs, bool privileged)
        : mTimeoutMs(timeoutMs), mPrivileged(privileged)
    {
    }

    void HandleEvent(MessageConnection::Event event)
    {
        // An interruption keeps the connection: the next request reconnects.
        if (event == MessageConnection::Event::Invalid)
            mConnected = false;
    }

    void HandleReply(const MessageDictionary* reply, MessageConnection::Event error)
    {
        IPCErrorCode result(eIPCUnknownError, std::string());
        if (reply != nullptr)
        {
            const auto entry = reply->find(kPropertyMessage);
            if (entry != reply->end() && entry->second.type == MessageValue::Type::Data)
                mReply = entry->second.bytes;
            result = IPCErrorCode::ok;
        }
        else if (error == MessageConnection::Event::Invalid ||
                 error == MessageConnection::Event::Interrupted)
        {
            result = IPCErrorCode(eIPCConnectionFailed, std::string());
        }
        // The caller may replace the member promise as soon as the value is
        // set, so it is taken out before.
        std::promise<IPCErrorCode> promise = std::move(mReplyPromise);
        promise.set_value(result);
    }

    std::unique_ptr<MessageConnection> mConnection;
    std::atomic<bool> mConnected{false};
    std::future<IPCErrorCode> mReplyFuture;
    std::promise<IPCErrorCode> mReplyPromise;
    std::string mReply;
    const uint32_t mTimeoutMs;
    const bool mPrivileged;
};

MessageDictionary CreateMessage(const std::string& source, const std::string& message)
{
    MessageDictionary dictionary;
    dictionary.emplace(kPropertySource, MessageValue::String(source));
    dictionary.emplace(kPropertyMessage, MessageValue::Data(message));
    return dictionary;
}

IPCClient::IPCClient(std::string clientName, std::string serviceName, uint32_t timeoutMs,
                     bool privileged)
    : IMessageClient(std::move(clientName), std::move(serviceName)),
      mImpl(std::make_shared<Implementation>(timeoutMs, privileged))
{
    (void)ReconnectIfNeeded();
}

IPCClient::~IPCClient()
{
    if (mImpl->mConnected && mImpl->mConnection)
        mImpl->mConnection->Cancel();
    if (IsReplyOutstanding())
        (void)mImpl->mReplyFuture.get();
    for (int attempt = 0; attempt < 10 && mImpl->mConnected; ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Ends the channel's thread: no handler runs after this.
    mImpl->mConnection.reset();
}

bool IPCClient::IsReplyOutstanding() const
{
    return mImpl->mReplyFuture.valid();
}

IPCErrorCode IPCClient::ReconnectIfNeeded()
{
    Implementation& impl = *mImpl;
    if (impl.mConnected)
        return IPCErrorCode::ok;
    if (IsReplyOutstanding())
        (void)impl.mReplyFuture.get();
    impl.mReplyPromise = std::promise<IPCErrorCode>();
    impl.mReplyFuture = std::future<IPCErrorCode>();

    const std::string service = std::string(kMacDomainName) + mServiceName;
    impl.mConnection.reset();
    std::shared_ptr<Implementation> shared = mImpl;
    impl.mConnection = std::make_unique<MessageConnection>(
        Platform::ServiceSocketPath(service, impl.mPrivileged),
        [shared](MessageConnection::Event event) { shared->HandleEvent(event); });
    impl.mConnected = true;
    return IPCErrorCode::ok;
}

IPCErrorCode IPCClient::Send(const std::string& message)
{
    if (IsReplyOutstanding())
        return IPCErrorCode(eIPCOperationInProgress, std::string());
    (void)ReconnectIfNeeded();
    mImpl->mConnection->Send(CreateMessage(mClientName, message));
    return IPCErrorCode::ok;
}

IPCErrorCode IPCClient::AsyncSendWithReply(const std::string& message)
{
    if (IsReplyOutstanding())
        return IPCErrorCode(eIPCOperationInProgress, std::string());
    (void)ReconnectIfNeeded();
    Implementation& impl = *mImpl;
    impl.mReplyPromise = std::promise<IPCErrorCode>();
    impl.mReplyFuture = impl.mReplyPromise.get_future();
    impl.mReply.clear();
    std::shared_ptr<Implementation> shared = mImpl;
    impl.mConnection->SendWithReply(
        CreateMessage(mClientName, message),
        [shared](const MessageDictionary* reply, MessageConnection::Event error)
        { shared->HandleReply(reply, error); });
    return IPCErrorCode::ok;
}

IPCErrorCode IPCClient::ReceiveReply(std::string& reply)
{
    Implementation& impl = *mImpl;
    if (!IsReplyOutstanding())
        return IPCErrorCode(eIPCNoMessageSent, std::string());
    if (impl.mTimeoutMs != 0)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(impl.mTimeoutMs);
        if (impl.mReplyFuture.wait_until(deadline) != std::future_status::ready)
        {
            impl.mConnection->Cancel();
            const IPCErrorCode late = impl.mReplyFuture.get();
            // The reply may have arrived between the time-out and the
            // cancellation: a success then carries its text.
            if (!late)
                reply = impl.mReply;
            return late;
        }
    }
    const IPCErrorCode result = impl.mReplyFuture.get();
    reply = impl.mReply;
    return result;
}

} // namespace IPC
} // namespace Korvane
