#pragma once

#include <string>

namespace Korvane
{
namespace Platform
{

// The prefix for every absolute platform path (tools, "/Volumes", the helper's
// socket directory): the UPDATER_PLATFORM_ROOT environment variable, read once,
// empty when unset. Lets tests and the demo run the install path in a
// directory of their own.
const std::string& PlatformRoot();

// `absolutePath` under the platform root, e.g. "/usr/bin/hdiutil" becomes
// "<root>/usr/bin/hdiutil"; unchanged when the root is empty.
std::string PlatformPath(const std::string& absolutePath);

} // namespace Platform
} // namespace Korvane
