#pragma once

// Resident-memory readings of a process from /proc, for benchmarks that need
// a peak over one phase of a run (a download, an idle window, a start-up).
// `pid` 0 means the calling process. Figures are in KiB; 0 when unreadable.
//
//   ResetPeakRss(pid);   // the peak starts again from the current RSS
//   ... the phase ...
//   const double peak = PeakRssKiB(pid);
//
// Resetting needs the right to write /proc/PID/clear_refs (own process or root).
#include <sys/types.h>

namespace Korvane
{
namespace Bench
{

double RssKiB(pid_t pid = 0);
double PeakRssKiB(pid_t pid = 0);
bool ResetPeakRss(pid_t pid = 0);

} // namespace Bench
} // namespace Korvane
