#include "scanner/FileVersionFinder.h"

#include "basictools/location.h"
#include "basictools/logger/CLog.h"
#include "basictools/sharedobject.h"

#include <boost/filesystem/operations.hpp>

namespace Korvane
{
namespace UpdateManager
{

FileVersionFinder::FileVersionFinder(const std::string& path) : mPath(ReplaceKnownLocation(path)) {}

FileVersionFinder::~FileVersionFinder() = default;

std::string FileVersionFinder::ReplaceKnownLocation(std::string path)
{
    return Korvane::ReplaceKnownLocation(std::move(path));
}

bool FileVersionFinder::Get(std::string& version, bool& found) const
{
    boost::system::error_code error;
    found = !mPath.empty() && boost::filesystem::exists(mPath, error) && !error;
    if (!found)
        return false;

    if (!SharedObject::GetBundleVersionMac(mPath, version))
        return false;

    CSingleton<CLog>::getInstance()->buildLog(
        "update_manager", eLogDebug, "FileVersion: Found version ", version, " for item ", mPath);
    return true;
}

} // namespace UpdateManager
} // namespace Korvane
