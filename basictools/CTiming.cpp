#include "basictools/CTiming.h"

#include "basictools/logger/CLog.h"

#include <chrono>

namespace Korvane
{

namespace
{
int64_t NowInMicroseconds()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}
} // namespace

CTiming::CTiming(const std::string& name, bool inMilliseconds)
    : mName(name), mInMilliseconds(inMilliseconds), mStartTime(NowInMicroseconds()), mEndTime(0)
{
}

CTiming::~CTiming()
{
    const long elapsed = Elapsed();
    CSingleton<CLog>::getInstance()->buildLog("timing", eLogNotice, mName, " : ", elapsed, " ",
                                              GetUnit());
}

long CTiming::GetDuration()
{
    return Elapsed();
}

std::string CTiming::GetUnit()
{
    return mInMilliseconds ? "ms" : "micros";
}

long CTiming::Elapsed()
{
    mEndTime = NowInMicroseconds();
    const int64_t micros = mEndTime - mStartTime;
    return static_cast<long>(mInMilliseconds ? micros / 1000 : micros);
}

} // namespace Korvane
