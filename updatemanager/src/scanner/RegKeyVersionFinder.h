#pragma once

#include "scanner/VersionFinder.h"

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// A registry rule. There is no registry on this platform, so it never finds a
// product; only its parts are kept.
class RegKeyVersionFinder : public VersionFinder
{
  public:
    // `keyPath` is split at its last '/' or '\' into key path and key name.
    RegKeyVersionFinder(const std::wstring& keyPath, const std::wstring& valueName,
                        const std::wstring& extra);
    ~RegKeyVersionFinder() override;

    // Always not found and no version; `version` is left untouched.
    bool Get(std::string& version, bool& found) const override;

    const std::wstring& KeyPath() const { return mKeyPath; }
    const std::wstring& KeyName() const { return mKeyName; }
    const std::wstring& ValueName() const { return mValueName; }
    const std::wstring& Extra() const { return mExtra; }

  private:
    std::wstring mKeyPath;
    std::wstring mKeyName;
    std::wstring mValueName;
    std::wstring mExtra;
    std::string mText;
};

} // namespace UpdateManager
} // namespace Korvane
