#include "UpdateStatus.h"

namespace Korvane
{
namespace UpdateManager
{

std::string ToString(UpdateStatus status)
{
    switch (status)
    {
    case Unknown:
        return "unknown";
    case UpToDate:
        return "up-to-date";
    case UpdateNeeded:
        return "update needed";
    case DownloadInProgress:
        return "download in progress";
    case DownloadPaused:
        return "download paused";
    case InstallerAvailable:
        return "installer available";
    case InstallerStart:
        return "installer start";
    case InstallInProgress:
        return "install in progress";
    case InstallComplete:
        return "install complete";
    case Error:
        return "error";
    case DownloadFailed:
    case OsNotSupported:
        break;
    }
    return "<error>";
}

} // namespace UpdateManager
} // namespace Korvane
