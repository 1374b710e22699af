#include "ProcessMemory.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace Korvane
{
namespace Bench
{
namespace
{
std::string ProcFile(pid_t pid, const char* name)
{
    return (pid == 0 ? std::string("/proc/self/") : "/proc/" + std::to_string(pid) + "/") + name;
}

// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM").
double StatusKiB(pid_t pid, const std::string& field)
{
    std::ifstream status(ProcFile(pid, "status"));
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size() + 1, field + ":") == 0)
            return std::atof(line.c_str() + field.size() + 1);
    return 0;
}
} // namespace

double RssKiB(pid_t pid)
{
    return StatusKiB(pid, "VmRSS");
}

double PeakRssKiB(pid_t pid)
{
    return StatusKiB(pid, "VmHWM");
}

bool ResetPeakRss(pid_t pid)
{
    std::ofstream clear(ProcFile(pid, "clear_refs"));
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

} // namespace Bench
} // namespace Korvane
