#pragma once

#include <cstdint>
#include <string>

namespace Korvane
{

// Scoped timer: logs on channel "timing" at notice level how long it lived,
// e.g. "ProcessProductInfo : 532 ms".
class CTiming
{
  public:
    CTiming(const std::string& name, bool inMilliseconds);
    virtual ~CTiming();

    // Elapsed time in the object's unit; records the end time.
    virtual long GetDuration();
    // "ms" or "micros".
    virtual std::string GetUnit();

  private:
    long Elapsed();

    std::string mName;
    bool mInMilliseconds;
    int64_t mStartTime;
    int64_t mEndTime;
};

} // namespace Korvane
