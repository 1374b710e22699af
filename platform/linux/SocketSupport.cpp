#include "platform/linux/SocketSupport.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Korvane
{
namespace Platform
{
namespace Detail
{

int ConnectUnixSocket(const std::string& path)
{
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path))
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int result = 0;
    do
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    while (result != 0 && errno == EINTR);
    if (result != 0)
    {
        close(fd);
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t written = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

bool MakeWakePipe(int fds[2])
{
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    return true;
}

void DrainPipe(int fd)
{
    char buffer[64];
    while (read(fd, buffer, sizeof(buffer)) > 0)
    {
    }
}

} // namespace Detail
} // namespace Platform
} // namespace Korvane
