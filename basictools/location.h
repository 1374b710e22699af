#pragma once

#include <string>

namespace Korvane
{

// Known locations; the numbers are fixed.
enum Location
{
    LocationData = 0,
    LocationProgramFilesX86 = 1,
    LocationProgramFiles64 = 2,
    LocationDesktop = 3,
    LocationDownloads = 4,
    LocationUser = 5,
    LocationRoot = 6,
};

// Directory text of `location` ("/Library/", "~/Desktop/", ...; empty for the
// two program-files locations), with a leading '~' replaced by $HOME when HOME
// is set. Returns false, leaving `result` untouched, for a value outside 0..6.
// Reads the process environment.
bool GetLocation(Location location, std::string& result);

// `path` with a leading marker "<pf86>", "<pf64>", "<data>" or "<user>"
// replaced by its location's text; any other path comes back unchanged.
std::string ReplaceKnownLocation(std::string path);

} // namespace Korvane
