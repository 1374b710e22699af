#include "ProductDescription.h"

#include "platform/OsVersion.h"

#include <limits>
#include <string_view>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
constexpr size_t kVersionComponents = 4;
constexpr uint32_t kComponentMax = std::numeric_limits<uint16_t>::max();

// One component: decimal digits after at most one sign, at most 65535; a
// negative value wraps modulo 65536.
bool ParseComponent(std::string_view text, uint16_t& value)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
    {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    uint32_t number = 0;
    for (const char digit : text)
    {
        if (digit < '0' || digit > '9')
            return false;
        number = number * 10 + static_cast<uint32_t>(digit - '0');
        if (number > kComponentMax)
            return false;
    }
    value = static_cast<uint16_t>(negative ? (0u - number) : number);
    return true;
}
} // namespace

uint64_t ProductDescription::StringVersionToInt(const std::string& version)
{
    const std::string_view text(version);
    if (text.find('.') == std::string_view::npos)
        return 0;

    uint64_t packed = 0;
    size_t start = 0;
    for (size_t index = 0; index < kVersionComponents && start <= text.size(); ++index)
    {
        const size_t dot = text.find('.', start);
        const size_t end = dot == std::string_view::npos ? text.size() : dot;
        uint16_t component = 0;
        if (!ParseComponent(text.substr(start, end - start), component))
            return 0;
        packed |= static_cast<uint64_t>(component) << (16 * (kVersionComponents - 1 - index));
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return packed;
}

bool ProductDescription::IsOsSupported() const
{
    const Platform::OsVersion system = Platform::CurrentOsVersion();
    const uint64_t os =
        StringVersionToInt(std::to_string(system.mMajor) + "." + std::to_string(system.mMinor) +
                           "." + std::to_string(system.mPatch));
    if (os == 0)
        return true;

    const bool aboveMinimum =
        mPlatformMinVersion.empty() || os >= StringVersionToInt(mPlatformMinVersion);
    const bool belowMaximum =
        mPlatformMaxVersion.empty() ||
        os <= StringVersionToInt(mPlatformMaxVersion + "." + std::to_string(kComponentMax));
    return aboveMinimum && belowMaximum;
}

} // namespace UpdateManager
} // namespace Korvane
