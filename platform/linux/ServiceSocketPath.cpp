#include "platform/MessageChannel.h"
#include "platform/PlatformRoot.h"

#include <unistd.h>

#include <cstdlib>

namespace Korvane
{
namespace Platform
{

std::string ServiceSocketPath(const std::string& serviceName, bool privileged)
{
    if (privileged)
        return PlatformPath("/var/run/" + serviceName);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
        return std::string(runtime) + "/" + serviceName;
    const char* temp = std::getenv("TMPDIR");
    const std::string directory = temp != nullptr && temp[0] == '/' ? temp : "/tmp";
    return directory + "/" + serviceName + "-" + std::to_string(getuid());
}

} // namespace Platform
} // namespace Korvane
