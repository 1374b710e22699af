#pragma once

#include <cstdint>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// One product: what the resource server says about it plus the version found
// on this machine ("not_installed" when the scanner found none).
struct ProductDescription
{
    std::string mLocalVersion;
    std::string mName;
    std::string mSku;
    std::string mVersion;
    std::string mPermalink;
    std::string mProductPage;
    std::string mPlatformMinVersion;
    std::string mPlatformMaxVersion;
    std::string mPlatformDisplayVersion;
    uint64_t mSize = 0;
    std::string mChecksum;

    // Packs "major.minor[.patch[.build]]" into 16 bits per component, major
    // highest, so numbers compare like versions. Components after the fourth
    // are ignored. 0 for text that is not a usable version (no dot, an empty,
    // non-numeric or too large component). Never throws; any thread.
    static uint64_t StringVersionToInt(const std::string& version);

    // Whether the running system's version lies within mPlatformMinVersion and
    // mPlatformMaxVersion (empty bounds hold; the maximum covers every release
    // sharing its components). A system version that reads as 0 counts as
    // supported. Never throws.
    bool IsOsSupported() const;
};

} // namespace UpdateManager
} // namespace Korvane
