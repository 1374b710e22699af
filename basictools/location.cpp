#include "basictools/location.h"

#include <cstdlib>

namespace Korvane
{

namespace
{

const char* const kLocationTexts[] = {
    "/Library/",    // LocationData
    "",             // LocationProgramFilesX86
    "",             // LocationProgramFiles64
    "~/Desktop/",   // LocationDesktop
    "~/Downloads/", // LocationDownloads
    "~/",           // LocationUser
    "/",            // LocationRoot
};

constexpr int kLocationCount = static_cast<int>(sizeof(kLocationTexts) / sizeof(kLocationTexts[0]));

struct Marker
{
    const char* text;
    Location location;
};

// Compared in this order.
const Marker kMarkers[] = {
    {"<pf86>", LocationProgramFilesX86},
    {"<pf64>", LocationProgramFiles64},
    {"<data>", LocationData},
    {"<user>", LocationUser},
};

} // namespace

bool GetLocation(Location location, std::string& result)
{
    const int index = static_cast<int>(location);
    if (index < 0 || index >= kLocationCount)
        return false;

    result = kLocationTexts[index];
    if (!result.empty() && result[0] == '~')
    {
        const char* home = std::getenv("HOME");
        if (home != nullptr)
            result = std::string(home) + result.substr(1);
    }
    return true;
}

std::string ReplaceKnownLocation(std::string path)
{
    if (path.empty() || path[0] != '<')
        return path;
    const size_t end = path.find('>');
    if (end == std::string::npos)
        return path;

    const std::string marker = path.substr(0, end + 1);
    for (const Marker& known : kMarkers)
    {
        if (marker != known.text)
            continue;
        std::string text;
        if (GetLocation(known.location, text))
            path.replace(0, marker.size(), text);
        return path;
    }
    return path;
}

} // namespace Korvane
