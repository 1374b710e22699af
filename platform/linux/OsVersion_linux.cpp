#include "platform/OsVersion.h"

#include <sys/utsname.h>

namespace Korvane
{
namespace Platform
{
namespace
{
// The kernel release stands for the system version on Linux.
class KernelReleaseSource : public IOsVersionSource
{
  public:
    OsVersion GetVersion() const override
    {
        struct utsname names
        {
        };
        if (uname(&names) != 0)
            return OsVersion{};
        return ParseOsVersion(names.release);
    }
};
} // namespace

const IOsVersionSource& SystemOsVersionSource()
{
    static const KernelReleaseSource sSystemSource;
    return sSystemSource;
}

} // namespace Platform
} // namespace Korvane
