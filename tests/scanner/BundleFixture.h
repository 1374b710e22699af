#pragma once

#include "support/TempDirectory.h"

#include <string>

namespace Korvane
{
namespace Testing
{

// An information property list as a bundle carries it, with `version` as its
// "CFBundleVersion" string.
inline std::string InfoPlist(const std::string& version)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
           "<dict>\n"
           "\t<key>CFBundleName</key>\n"
           "\t<string>My Product</string>\n"
           "\t<!-- the build number -->\n"
           "\t<key>CFBundleVersion</key>\n"
           "\t<string>" +
           version +
           "</string>\n"
           "\t<key>LSMinimumSystemVersion</key>\n"
           "\t<string>10.9</string>\n"
           "</dict>\n"
           "</plist>\n";
}

// Creates the bundle directory `bundle` holding Contents/Info.plist.
inline void WriteBundle(const boost::filesystem::path& bundle, const std::string& plist)
{
    WriteFile(bundle / "Contents" / "Info.plist", plist);
}

} // namespace Testing
} // namespace Korvane
