#pragma once

#include "IMessageClient.h"

#include "platform/MessageFrame.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Korvane
{
namespace IPC
{

// The request dictionary: "source" (string) = `source`, "message" (data) =
// the bytes of `message`.
Platform::MessageDictionary CreateMessage(const std::string& source, const std::string& message);

// Client of the service "com.Korvane." + service name. Connects on
// construction and again whenever the connection has become invalid.
// All operations run on the caller's thread; replies and connection events
// are handled on the channel's own thread. A time-out of 0 waits for a reply
// without limit; a reply that does not come in time yields code 2 and drops
// the connection.
class IPCClient : public IMessageClient
{
  public:
    IPCClient(std::string clientName, std::string serviceName, uint32_t timeoutMs, bool privileged);
    ~IPCClient() override;

    IPCErrorCode Send(const std::string& message) override;
    IPCErrorCode AsyncSendWithReply(const std::string& message) override;
    IPCErrorCode ReceiveReply(std::string& reply) override;

    // Builds a new connection when the current one is invalid; waits for a
    // reply still outstanding on the old one first. Always succeeds.
    virtual IPCErrorCode ReconnectIfNeeded();

    struct Implementation;

  private:
    bool IsReplyOutstanding() const;

    // Shared with the channel's handlers, so that none of them ever runs
    // against a destroyed client.
    std::shared_ptr<Implementation> mImpl;
};

} // namespace IPC
} // namespace Korvane
