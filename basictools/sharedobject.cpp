#include "basictools/sharedobject.h"

#include "basictools/stlutils.h"
#include "platform/BundleInfo.h"

#include <dlfcn.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace Korvane
{

namespace
{

// The raw version must fit a 30-byte buffer with its terminating NUL.
constexpr size_t kMaxVersionBytes = 29;

// Standard stoul semantics: leading blanks and a sign accepted, parsing stops
// at the first non-digit; no digits or overflow fail.
bool ParsePart(const std::string& text, unsigned long& number)
{
    try
    {
        number = std::stoul(text);
        return true;
    }
    catch (const std::logic_error&)
    {
        return false;
    }
}

} // namespace

std::string GetDyLibFullPath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&GetDyLibFullPath), &info) == 0 || info.dli_fname == nullptr)
    {
        static const char kMessage[] = "dladdr failed\n";
        (void)!write(STDERR_FILENO, kMessage, sizeof(kMessage) - 1);
        return std::string();
    }
    return stlutils::replace_all(info.dli_fname, "/./", "/");
}

bool SharedObject::GetBundleVersionMac(const std::string& bundlePath, std::string& version)
{
    std::string raw;
    if (!Platform::ReadBundleVersion(bundlePath, raw))
        return false;
    if (raw.size() > kMaxVersionBytes || raw.find('\0') != std::string::npos)
        return false;

    std::vector<std::string> parts;
    stlutils::tokenize(raw, parts, ".");
    if (parts.size() < 3)
        return false;

    unsigned long numbers[3] = {};
    for (size_t i = 0; i < 3; ++i)
    {
        if (!ParsePart(parts[i], numbers[i]))
            return false;
    }
    version = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
              std::to_string(numbers[2]);

    if (parts.size() >= 4)
    {
        unsigned long fourth = 0;
        if (!ParsePart(parts[3], fourth))
            return false;
        version += "." + std::to_string(fourth);
    }
    return true;
}

} // namespace Korvane
