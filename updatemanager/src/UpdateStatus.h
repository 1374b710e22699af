#pragma once

#include <cstdint>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// A product's status. The numbers are fixed: the window tests statuses by bit
// mask over the values 0 to 11.
enum UpdateStatus : int32_t
{
    Unknown = 0,
    UpToDate = 1,
    UpdateNeeded = 2,
    DownloadInProgress = 3,
    DownloadPaused = 4,
    DownloadFailed = 5,
    InstallerAvailable = 6,
    InstallerStart = 7,
    InstallInProgress = 8,
    InstallComplete = 9,
    OsNotSupported = 10,
    Error = 11,
};

// Display text; "<error>" for DownloadFailed, OsNotSupported and any value
// outside 0 to 11.
std::string ToString(UpdateStatus status);

} // namespace UpdateManager
} // namespace Korvane
