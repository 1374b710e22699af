#include "platform/OsVersion.h"

#include <atomic>
#include <cctype>
#include <cstdint>

namespace Korvane
{
namespace Platform
{
namespace
{
std::atomic<const IOsVersionSource*> sSource{nullptr};

// Reads one run of decimal digits at `text`, saturating rather than wrapping.
uint32_t ReadNumber(const char*& text)
{
    uint64_t value = 0;
    while (std::isdigit(static_cast<unsigned char>(*text)))
    {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > UINT32_MAX)
            value = UINT32_MAX;
        ++text;
    }
    return static_cast<uint32_t>(value);
}
} // namespace

OsVersion ParseOsVersion(const char* release)
{
    OsVersion version;
    if (release == nullptr)
        return version;
    uint32_t* components[] = {&version.mMajor, &version.mMinor, &version.mPatch};
    const char* cursor = release;
    for (uint32_t* component : components)
    {
        if (!std::isdigit(static_cast<unsigned char>(*cursor)))
            break;
        *component = ReadNumber(cursor);
        if (*cursor != '.')
            break;
        ++cursor;
    }
    return version;
}

OsVersion CurrentOsVersion()
{
    const IOsVersionSource* source = sSource.load();
    return source != nullptr ? source->GetVersion() : SystemOsVersionSource().GetVersion();
}

const IOsVersionSource* SetOsVersionSource(const IOsVersionSource* source)
{
    return sSource.exchange(source);
}

} // namespace Platform
} // namespace Korvane
