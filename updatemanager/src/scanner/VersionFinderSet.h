#pragma once

#include "scanner/VersionFinder.h"

#include <memory>
#include <string>
#include <vector>

namespace Korvane
{
namespace UpdateManager
{

// The finders of one product, asked in rule order; the first that produces a
// version wins. Owns its finders and deletes them last to first.
class VersionFinderSet : public VersionFinder
{
  public:
    VersionFinderSet() = default;
    ~VersionFinderSet() override;
    VersionFinderSet(const VersionFinderSet&) = delete;
    VersionFinderSet& operator=(const VersionFinderSet&) = delete;

    void Add(std::unique_ptr<VersionFinder> finder);
    size_t Size() const { return mFinders.size(); }

    // `version` starts as "unknown"; `found` is true when any finder found its
    // thing. When no finder produces a version, `version` keeps what they left.
    bool Get(std::string& version, bool& found) const override;

  private:
    std::vector<std::unique_ptr<VersionFinder>> mFinders;
};

} // namespace UpdateManager
} // namespace Korvane
