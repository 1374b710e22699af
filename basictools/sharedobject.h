#pragma once

#include <string>

namespace Korvane
{

// Path of the executable image that holds the running code, with every "/./"
// reduced to "/". On a loader failure writes "dladdr failed\n" to standard
// error and returns an empty string.
std::string GetDyLibFullPath();

class SharedObject
{
  public:
    // Version of the application bundle at `bundlePath`, normalised to three or
    // four dot-separated decimal numbers ("01.002.3b7" gives "1.2.3"). Fails
    // when the bundle has no readable version, the raw text is 30 bytes or
    // longer, has fewer than three parts or a part is not a number. A bad
    // fourth part fails after the three-part text has been written.
    static bool GetBundleVersionMac(const std::string& bundlePath, std::string& version);
};

} // namespace Korvane
