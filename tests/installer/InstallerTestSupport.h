#pragma once

#include "support/PlatformStandIns.h"

#include <string>

namespace Korvane
{
namespace Testing
{

// Every test of this executable runs in one temp platform root with the
// stand-in tools (registered as a gtest environment).
std::string Volumes();

// Log lines of `channels` at debug level, written while `work` runs.
template <typename Work> std::string CaptureLog(Work work);

} // namespace Testing
} // namespace Korvane

#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"

template <typename Work> std::string Korvane::Testing::CaptureLog(Work work)
{
    CapturedStdout captured;
    CSingleton<CLog>::getInstance()->SetChannelLevels(
        {{"install", eLogDebug}, {"update_manager", eLogDebug}});
    work();
    CSingleton<CLog>::destroyInstance();
    return captured.Release();
}
