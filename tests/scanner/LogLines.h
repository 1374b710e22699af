#pragma once

#include "basictools/logger/ELogLevel.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/CapturedStdout.h"

namespace Korvane
{
namespace Testing
{

// Captures the log of one channel: enables it at debug level for the life of
// the object; Lines() tears the log down (final drain) and returns
// "level: body" for each line of that channel, in order.
class ChannelCapture
{
  public:
    explicit ChannelCapture(std::string channel);
    ~ChannelCapture();

    std::vector<std::string> Lines();

  private:
    std::string mChannel;
    std::optional<CapturedStdout> mCapture;
};

} // namespace Testing
} // namespace Korvane
