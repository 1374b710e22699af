#include "basictools/logger/LogChannelConfig.h"

#include "basictools/stlutils.h"

#include <vector>

namespace Korvane
{

namespace
{
bool LevelFromName(const std::string& name, ELogLevel& level)
{
    for (int index = 0; index < kLogLevelCount; ++index)
    {
        if (name == DicoLog[index])
        {
            level = static_cast<ELogLevel>(index);
            return true;
        }
    }
    return false;
}

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}
} // namespace

std::map<std::string, ELogLevel> ParseLogChannels(const std::string& text, std::ostream& warnings)
{
    std::map<std::string, ELogLevel> levels;
    std::vector<std::string> entries;
    stlutils::tokenize(text, entries, ",");
    for (const std::string& rawEntry : entries)
    {
        const std::string entry = Trimmed(rawEntry);
        if (entry.empty())
            continue;
        const auto equals = entry.find('=');
        ELogLevel level = eLogDebug;
        const std::string channel =
            equals == std::string::npos ? "" : Trimmed(entry.substr(0, equals));
        if (channel.empty() || !LevelFromName(Trimmed(entry.substr(equals + 1)), level))
        {
            warnings << "UPDATER_LOG: ignoring entry \"" << entry
                     << "\" (expected channel=level with level one of debug, info, notice, "
                        "warning, error, except, assert)\n";
            continue;
        }
        levels[channel] = level;
    }
    return levels;
}

} // namespace Korvane
