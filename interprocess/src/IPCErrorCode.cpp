#include "IPCErrorCode.h"

#include <array>

namespace Korvane
{
namespace IPC
{
namespace
{
const std::array<const char*, 7> IPCErrorCodeMessages = {
    "",
    "Unknown error.",
    "Connection to server process failed. ",
    "Timeout while waiting for a reply.",
    "Another operation is in progress.",
    "Tried to receive a reply but not message was sent.",
    "The received message is malformed.",
};
} // namespace

const IPCErrorCode IPCErrorCode::ok(eIPCNoError, std::string());

IPCErrorCode::IPCErrorCode(IPCErrorCodeEnum code, const std::string& detail)
    : mCode(code), mDetail(detail)
{
}

std::string IPCErrorCode::GetErrorMessage() const
{
    return GetErrorMessage(mCode) + mDetail;
}

std::string IPCErrorCode::GetErrorMessage(IPCErrorCodeEnum code)
{
    const auto index = static_cast<int32_t>(code);
    if (index < 1 || index >= static_cast<int32_t>(IPCErrorCodeMessages.size()))
        return std::string();
    return IPCErrorCodeMessages[static_cast<size_t>(index)];
}

} // namespace IPC
} // namespace Korvane
