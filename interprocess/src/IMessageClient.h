#pragma once

#include "IPCErrorCode.h"

#include <string>

namespace Korvane
{
namespace IPC
{

// A channel to one service. One caller thread per client.
class IMessageClient
{
  public:
    IMessageClient(std::string clientName, std::string serviceName)
        : mClientName(std::move(clientName)), mServiceName(std::move(serviceName))
    {
    }
    virtual ~IMessageClient() = default;
    IMessageClient(const IMessageClient&) = delete;
    IMessageClient& operator=(const IMessageClient&) = delete;

    virtual void SetClientName(const std::string& name) { mClientName = name; }

    // Sends one request that expects no reply.
    virtual IPCErrorCode Send(const std::string& message) = 0;
    // Sends one request whose reply is collected by ReceiveReply. Code 4 while
    // another reply is outstanding.
    virtual IPCErrorCode AsyncSendWithReply(const std::string& message) = 0;
    // Waits for the outstanding reply and stores its text in `reply`. Code 5
    // when none is outstanding.
    virtual IPCErrorCode ReceiveReply(std::string& reply) = 0;

    // AsyncSendWithReply, then ReceiveReply.
    IPCErrorCode SyncSendWithReply(const std::string& message, std::string& reply);

  protected:
    std::string mClientName;
    std::string mServiceName;
};

} // namespace IPC
} // namespace Korvane
