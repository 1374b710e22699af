#pragma once

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// The resource server host[:port] the application talks to: the
// UPDATER_RESOURCE_SERVER environment variable when it is set and not empty,
// else the host built in at configure time. The only place that reads it.
std::string DefaultResourceServer();

} // namespace UpdateManager
} // namespace Korvane
