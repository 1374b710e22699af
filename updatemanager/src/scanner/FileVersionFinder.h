#pragma once

#include "scanner/VersionFinder.h"

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// Finds an application bundle at a path (which may start with a known-location
// marker such as "<user>") and reads its version. File-system errors count as
// not found; an unreadable version as found without a version.
class FileVersionFinder : public VersionFinder
{
  public:
    explicit FileVersionFinder(const std::string& path);
    ~FileVersionFinder() override;

    bool Get(std::string& version, bool& found) const override;

    static std::string ReplaceKnownLocation(std::string path);

    const std::string& Path() const { return mPath; }

  private:
    std::string mPath;
};

} // namespace UpdateManager
} // namespace Korvane
