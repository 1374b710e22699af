#pragma once

#include <string>

namespace Korvane
{

// Path of the executable image that holds the running code, with every "/./"
// reduced to "/". On a loader failure writes "dladdr failed\n" to standard
// error and returns an empty string.
std::string GetDyLibFullPath();

} // namespace Korvane
