#include "ResourceServerOptions.h"

#include <Poco/NumberParser.h>

namespace Korvane
{
namespace ResourceServer
{

const char* ResourceServerOptions::Usage()
{
    return "usage: resource-server --root DIR [--host 127.0.0.1] [--port 8723]\n";
}

std::optional<ResourceServerOptions>
ResourceServerOptions::Parse(int argc, const char* const argv[], std::string& error)
{
    ResourceServerOptions options;
    for (int index = 1; index < argc; ++index)
    {
        const std::string name = argv[index];
        if (index + 1 >= argc)
        {
            error = "missing value for " + name;
            return std::nullopt;
        }
        const std::string value = argv[++index];
        if (name == "--root")
            options.mRoot = value;
        else if (name == "--host")
            options.mHost = value;
        else if (name == "--port")
        {
            unsigned port = 0;
            if (!Poco::NumberParser::tryParseUnsigned(value, port) || port > 65535)
            {
                error = "bad port: " + value;
                return std::nullopt;
            }
            options.mPort = static_cast<uint16_t>(port);
        }
        else
        {
            error = "unknown option: " + name;
            return std::nullopt;
        }
    }
    if (options.mRoot.empty())
    {
        error = "--root is required";
        return std::nullopt;
    }
    return options;
}

} // namespace ResourceServer
} // namespace Korvane
