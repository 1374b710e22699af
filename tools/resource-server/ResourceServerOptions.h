#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace Korvane
{
namespace ResourceServer
{

// resource-server --root DIR [--host 127.0.0.1] [--port 8723]
struct ResourceServerOptions
{
    std::string mRoot;
    std::string mHost = "127.0.0.1";
    uint16_t mPort = 8723;

    // nullopt (with `error` set) for a bad command line.
    static std::optional<ResourceServerOptions> Parse(int argc, const char* const argv[],
                                                      std::string& error);
    static const char* Usage();
};

} // namespace ResourceServer
} // namespace Korvane
