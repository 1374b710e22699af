#pragma once

#include "basictools/logger/ELogLevel.h"

#include <map>
#include <ostream>
#include <string>

namespace Korvane
{

// Channel table from the UPDATER_LOG grammar: comma-separated "channel=level"
// entries, level names as in DicoLog, "*" for every channel. An entry with an
// unknown level (or without "=") is skipped with one line on `warnings`.
std::map<std::string, ELogLevel> ParseLogChannels(const std::string& text, std::ostream& warnings);

} // namespace Korvane
