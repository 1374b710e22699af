#include "resources/HasExtensionPredicate.h"
#include "resources/Installer.h"

#include "basictools/logger/CLog.h"
#include "platform/PlatformRoot.h"
#include "platform/ProcessRunner.h"

#include <boost/filesystem/operations.hpp>

namespace fs = boost::filesystem;

namespace Korvane
{
namespace UpdateManager
{
namespace
{
template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog("install", level, parts...);
}
} // namespace

bool Installer::MountVolume(const fs::path& image, const fs::path& mountPoint)
{
    Log(eLogInfo, "Mounting installer.");
    try
    {
        if (!fs::exists(image) || !fs::is_regular_file(image))
        {
            Log(eLogError, image, " is not a valid file and cannot be mounted");
            return false;
        }
        if (fs::exists(mountPoint))
        {
            Log(eLogError, "The target directory ", mountPoint, " already exists ");
            return false;
        }
        // The tool gets its arguments as a vector: no path is ever seen by a
        // command interpreter.
        const std::string tool = Platform::PlatformPath("/usr/bin/hdiutil");
        Log(eLogDebug, tool + " attach " + image.string() + " -mountpoint " + mountPoint.string());
        const int rc = Platform::RunProcess(
            {tool, "attach", image.string(), "-mountpoint", mountPoint.string()});
        Log(eLogDebug, "Returned ", rc);
        if (rc != 0 || !fs::exists(mountPoint))
        {
            Log(eLogError, "Failed to mount ", mountPoint, " (returned ", rc, ")");
            return false;
        }
        Log(eLogDebug, mountPoint, " has been succesfully mounted.");
        return true;
    }
    catch (const fs::filesystem_error& error)
    {
        Log(eLogError, "Failed to mount volume for installer: ", error.what());
        return false;
    }
}

void Installer::UnmountVolume(const fs::path& mountPoint)
{
    try
    {
        if (!fs::exists(mountPoint))
        {
            Log(eLogError, "Cannot unmount ", mountPoint, " because the directory does not exist");
            return;
        }
        const int rc = Platform::RunProcess(
            {Platform::PlatformPath("/sbin/umount"), "-f", mountPoint.string()});
        if (rc != 0 || fs::exists(mountPoint))
            Log(eLogError, "Could not unmount ", mountPoint, " (returned ", rc, ")");
        else
            Log(eLogDebug, mountPoint, " unmounted succesfully");
    }
    catch (const fs::filesystem_error& error)
    {
        Log(eLogError, "Failed to unmount", mountPoint, ": ", error.what());
    }
}

fs::path Installer::FindAvailableVolume(const fs::path& base)
{
    fs::path candidate = base;
    for (uint64_t counter = 1; fs::exists(candidate); ++counter)
        candidate = fs::path(base.string() + "-" + std::to_string(counter));
    return candidate;
}

std::string Installer::FindFileWithExtension(const fs::path& directory,
                                             const std::string& extension)
{
    try
    {
        if (!fs::exists(directory))
            return std::string();
        const HasExtensionPredicate hasExtension(extension);
        for (const fs::directory_entry& entry : fs::directory_iterator(directory))
            if (hasExtension(entry))
                return entry.path().string();
    }
    catch (const fs::filesystem_error& error)
    {
        CSingleton<CLog>::getInstance()->buildLog(
            "update_manager", eLogError, "Error when trying to find file with extension ",
            extension, " in directory ", directory, " : ", error.what());
    }
    return std::string();
}

} // namespace UpdateManager
} // namespace Korvane
