#include "resources/HasExtensionPredicate.h"

#include "basictools/logger/CLog.h"

#include <boost/filesystem/operations.hpp>

namespace Korvane
{
namespace UpdateManager
{

bool HasExtensionPredicate::operator()(const boost::filesystem::directory_entry& entry) const
{
    if (!boost::filesystem::is_regular_file(boost::filesystem::status(entry.path())))
        return false;
    const std::string path = entry.path().string();
    const size_t dot = path.rfind('.');
    const std::string extension = dot == std::string::npos ? path : path.substr(dot + 1);
    const bool matches = extension == mExtension;
    CSingleton<CLog>::getInstance()->buildLog("install", eLogDebug, path,
                                              matches ? " has " : " does not have ",
                                              " the extension ", mExtension);
    return matches;
}

} // namespace UpdateManager
} // namespace Korvane
