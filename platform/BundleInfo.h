#pragma once

#include <string>

namespace Korvane
{
namespace Platform
{

// Reads the raw "CFBundleVersion" text of the application bundle at
// `bundlePath`. Returns false, leaving `version` untouched, when the bundle has
// no readable information property list or the list has no such string.
// Runs on the caller's thread; touches only the file system.
bool ReadBundleVersion(const std::string& bundlePath, std::string& version);

} // namespace Platform
} // namespace Korvane
