#pragma once

#include <string>

namespace Korvane
{
namespace Platform
{
namespace Detail
{

// Connected stream socket to `path`, or -1.
int ConnectUnixSocket(const std::string& path);
// Writes every byte (no SIGPIPE); false on any failure.
bool WriteAll(int fd, const std::string& bytes);
// A pipe whose ends are close-on-exec; false on failure.
bool MakeWakePipe(int fds[2]);
void DrainPipe(int fd);

} // namespace Detail
} // namespace Platform
} // namespace Korvane
