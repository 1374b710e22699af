#include "DefaultResourceServer.h"

#include <cstdlib>

namespace Korvane
{
namespace UpdateManager
{

std::string DefaultResourceServer()
{
    const char* fromEnvironment = std::getenv("UPDATER_RESOURCE_SERVER");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0')
        return fromEnvironment;
    return UPDATER_DEFAULT_RESOURCE_SERVER;
}

} // namespace UpdateManager
} // namespace Korvane
