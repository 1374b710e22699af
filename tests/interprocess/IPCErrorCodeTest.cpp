#include "IPCErrorCode.h"

#include <gtest/gtest.h>

using namespace Korvane::IPC;

TEST(IPCErrorCodeTest, TextsOfEveryCode)
{
    const std::pair<int32_t, std::string> cases[] = {
        {0, ""},
        {1, "Unknown error."},
        {2, "Connection to server process failed. "},
        {3, "Timeout while waiting for a reply."},
        {4, "Another operation is in progress."},
        {5, "Tried to receive a reply but not message was sent."},
        {6, "The received message is malformed."},
        {7, ""},
        {-1, ""},
    };
    for (const auto& [code, text] : cases)
        EXPECT_EQ(IPCErrorCode::GetErrorMessage(static_cast<IPCErrorCodeEnum>(code)), text) << code;
}

TEST(IPCErrorCodeTest, ValueSemantics)
{
    const IPCErrorCode failed(eIPCConnectionFailed, "");
    EXPECT_TRUE(static_cast<bool>(failed));
    EXPECT_FALSE(static_cast<bool>(IPCErrorCode::ok));
    EXPECT_EQ(IPCErrorCode::ok.GetValue(), eIPCNoError);
    EXPECT_EQ(failed.GetErrorMessage(), "Connection to server process failed. ");
    EXPECT_EQ(IPCErrorCode(eIPCUnknownError, " (detail)").GetErrorMessage(),
              "Unknown error. (detail)");
    EXPECT_TRUE(IPCErrorCode(eIPCTimeout, "a") == IPCErrorCode(eIPCTimeout, "b"));
    EXPECT_FALSE(IPCErrorCode(eIPCTimeout, "a") == IPCErrorCode(eIPCUnknownError, "a"));
}
