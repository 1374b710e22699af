#pragma once

namespace Korvane
{
namespace IPC
{

// Prefix of every service name of this maker: "com.Korvane." + service.
constexpr char kMacDomainName[] = "com.Korvane.";
// Request key of the sender's name (a string).
constexpr char kPropertySource[] = "source";
// Key of the message body (data) in requests and replies.
constexpr char kPropertyMessage[] = "message";

} // namespace IPC
} // namespace Korvane
