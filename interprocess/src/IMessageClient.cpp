#include "IMessageClient.h"

namespace Korvane
{
namespace IPC
{

IPCErrorCode IMessageClient::SyncSendWithReply(const std::string& message, std::string& reply)
{
    const IPCErrorCode sent = AsyncSendWithReply(message);
    if (sent)
        return sent;
    return ReceiveReply(reply);
}

} // namespace IPC
} // namespace Korvane
