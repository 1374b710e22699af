#pragma once

#include <cstdint>
#include <string>

namespace Korvane
{
namespace IPC
{

enum IPCErrorCodeEnum : int32_t
{
    eIPCNoError = 0,
    eIPCUnknownError = 1,
    eIPCConnectionFailed = 2,
    eIPCTimeout = 3,
    eIPCOperationInProgress = 4,
    eIPCNoMessageSent = 5,
    eIPCMalformedMessage = 6,
};

// Result of a messaging operation: a code and a detail text. True (as a
// bool) when it is an error.
class IPCErrorCode
{
  public:
    IPCErrorCode(IPCErrorCodeEnum code, const std::string& detail);
    virtual ~IPCErrorCode() = default;
    IPCErrorCode(const IPCErrorCode&) = default;
    IPCErrorCode& operator=(const IPCErrorCode&) = default;

    explicit operator bool() const { return mCode != eIPCNoError; }
    // Compares the codes only.
    bool operator==(const IPCErrorCode& other) const { return mCode == other.mCode; }
    bool operator!=(const IPCErrorCode& other) const { return !(*this == other); }

    IPCErrorCodeEnum GetValue() const { return mCode; }
    // The code's text followed by the detail.
    std::string GetErrorMessage() const;
    // The code's text; empty for 0 and any unknown value.
    static std::string GetErrorMessage(IPCErrorCodeEnum code);

    static const IPCErrorCode ok;

  private:
    IPCErrorCodeEnum mCode;
    std::string mDetail;
};

} // namespace IPC
} // namespace Korvane
