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
};

} // namespace UpdateManager
} // namespace Korvane
