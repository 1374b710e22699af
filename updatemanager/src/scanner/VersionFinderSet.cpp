#include "scanner/VersionFinderSet.h"

#include "basictools/logger/CLog.h"

namespace Korvane
{
namespace UpdateManager
{

VersionFinderSet::~VersionFinderSet()
{
    while (!mFinders.empty())
        mFinders.pop_back();
}

void VersionFinderSet::Add(std::unique_ptr<VersionFinder> finder)
{
    if (finder)
        mFinders.push_back(std::move(finder));
}

bool VersionFinderSet::Get(std::string& version, bool& found) const
{
    found = false;
    version = "unknown";
    for (const auto& finder : mFinders)
    {
        bool finderFound = false;
        const bool produced = finder->Get(version, finderFound);
        found = found || finderFound;
        if (produced)
            return true;
    }
    CSingleton<CLog>::getInstance()->buildLog("update_manager", eLogDebug,
                                              "VersionFinderSet: Didn't find any version number.");
    return false;
}

} // namespace UpdateManager
} // namespace Korvane
