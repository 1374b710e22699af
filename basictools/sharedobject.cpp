#include "basictools/sharedobject.h"

#include "basictools/stlutils.h"

#include <dlfcn.h>
#include <unistd.h>

namespace Korvane
{

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

} // namespace Korvane
