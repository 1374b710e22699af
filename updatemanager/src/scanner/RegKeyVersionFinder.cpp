#include "scanner/RegKeyVersionFinder.h"

namespace Korvane
{
namespace UpdateManager
{

RegKeyVersionFinder::RegKeyVersionFinder(const std::wstring& keyPath, const std::wstring& valueName,
                                         const std::wstring& extra)
    : mKeyPath(keyPath), mKeyName(keyPath), mValueName(valueName), mExtra(extra)
{
    const size_t separator = keyPath.find_last_of(L"/\\");
    if (separator != std::wstring::npos)
    {
        mKeyPath = keyPath.substr(0, separator);
        mKeyName = keyPath.substr(separator + 1);
    }
}

RegKeyVersionFinder::~RegKeyVersionFinder() = default;

bool RegKeyVersionFinder::Get(std::string& /*version*/, bool& found) const
{
    found = false;
    return false;
}

} // namespace UpdateManager
} // namespace Korvane
