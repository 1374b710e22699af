#pragma once

#include "basictools/CSingleton.h"
#include "basictools/logger/CLogBuffers.h"
#include "basictools/logger/ELogLevel.h"

#include <chrono>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>

// The process-wide log. Every component logs with
//   CSingleton<CLog>::getInstance()->buildLog(channel, level, parts...);
// A line is written only when its channel has an entry in the channel table
// and the entry's level is not above the call's level. The table is filled
// once, at creation, from the UPDATER_LOG environment variable.
class CLog : public CLogBuffers, public CSingleton<CLog>
{
  public:
    using ChannelLevels = std::map<std::string, ELogLevel>;

    CLog();
    ~CLog() override;

    template <typename... Parts>
    void buildLog(const char* channel, ELogLevel level, const Parts&... parts)
    {
        if (!IsEnabled(channel, level))
            return;

        std::ostringstream body;
        ((body << parts), ...);
        const std::string line = getLogMsg(channel, level, body);
        WriteDataInBuffer(line.data(), static_cast<int>(std::min<size_t>(line.size(), kMaxLine)));
    }

    std::string getLogMsg(const char* channel, ELogLevel level, std::ostringstream& body) const;

    // Replaces the channel table. Meant for start-up and tests: call it while
    // no other thread logs, since log calls read the table without a lock.
    void SetChannelLevels(const ChannelLevels& levels);

  private:
    static constexpr size_t kMaxLine = static_cast<size_t>(kRingSize) - 1;

    // Inline, so that a call on a channel without an entry (every call, when
    // nothing is enabled) costs one test of the table.
    bool IsEnabled(const char* channel, ELogLevel level) const
    {
        return !mChannelLevels.empty() && IsListed(channel, level);
    }
    bool IsListed(const char* channel, ELogLevel level) const;

    // Looked up by the caller's channel text itself: no string is built per call.
    std::map<std::string, ELogLevel, std::less<>> mChannelLevels;
    const std::chrono::system_clock::time_point mStartTime;
};
