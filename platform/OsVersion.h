#pragma once

#include <cstdint>
#include <functional>

namespace Korvane
{
namespace Platform
{

// The running operating system's version. A component that cannot be read is
// 0, so an unreadable system reads as 0.0.0.
struct OsVersion
{
    uint32_t mMajor = 0;
    uint32_t mMinor = 0;
    uint32_t mPatch = 0;
};

// Where the running system's version comes from. The engine asks it through
// CurrentOsVersion(); tests install a source of their own. Any thread may call
// it; install sources before other threads ask.
class IOsVersionSource
{
  public:
    virtual ~IOsVersionSource() = default;
    virtual OsVersion GetVersion() const = 0;
};

// The system's own source (on Linux: the leading numbers of the kernel release).
const IOsVersionSource& SystemOsVersionSource();

// The version from the installed source; the system's own by default.
OsVersion CurrentOsVersion();

// Installs `source` (not owned; must outlive its use) or, with nullptr, the
// system's own source again. Returns the previous one.
const IOsVersionSource* SetOsVersionSource(const IOsVersionSource* source);

// Leading numeric components of a release text such as "6.1.0-18-amd64"
// ("6", "1", "0"); missing or non-numeric components are 0.
OsVersion ParseOsVersion(const char* release);

} // namespace Platform
} // namespace Korvane
