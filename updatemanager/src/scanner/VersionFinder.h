#pragma once

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// One way of finding an installed product's version. `Get` sets `found` when
// the thing it looks at is present and returns true when it produced a
// version text into `version`: an existing bundle with an unreadable version
// gives found true and false. Never throws; runs on the scanning thread.
class VersionFinder
{
  public:
    virtual ~VersionFinder();
    virtual bool Get(std::string& version, bool& found) const = 0;
};

} // namespace UpdateManager
} // namespace Korvane
