#include "platform/PlatformRoot.h"

#include <cstdlib>

namespace Korvane
{
namespace Platform
{

const std::string& PlatformRoot()
{
    static const std::string root = []
    {
        const char* value = std::getenv("UPDATER_PLATFORM_ROOT");
        std::string text = value == nullptr ? std::string() : std::string(value);
        while (text.size() > 1 && text.back() == '/')
            text.pop_back();
        return text;
    }();
    return root;
}

std::string PlatformPath(const std::string& absolutePath)
{
    return PlatformRoot() + absolutePath;
}

} // namespace Platform
} // namespace Korvane
