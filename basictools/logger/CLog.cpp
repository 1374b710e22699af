#include "basictools/logger/CLog.h"

#include "basictools/logger/LogChannelConfig.h"

#include <pthread.h>

#include <cstdlib>
#include <iomanip>
#include <iostream>

const char* const DicoLog[kLogLevelCount] = {"debug", "info",   "notice", "warning",
                                             "error", "except", "assert"};

namespace
{
const char kWildcardChannel[] = "*";

CLog::ChannelLevels ChannelLevelsFromEnvironment()
{
    const char* text = std::getenv("UPDATER_LOG");
    if (text == nullptr)
        return {};
    return Korvane::ParseLogChannels(text, std::cerr);
}

template <typename Table> Table ToTable(const CLog::ChannelLevels& levels)
{
    return Table(levels.begin(), levels.end());
}
} // namespace

CLog::CLog()
    : mChannelLevels(ToTable<decltype(mChannelLevels)>(ChannelLevelsFromEnvironment())),
      mStartTime(std::chrono::system_clock::now())
{
    std::cout.clear();
    std::cout << "#### Log engine initialization." << std::endl;
    StartWorkingThread();
}

CLog::~CLog()
{
    StopWorkingThread();
    std::cout << "#### Log engine destruction." << std::endl;
}

void CLog::SetChannelLevels(const ChannelLevels& levels)
{
    mChannelLevels = ToTable<decltype(mChannelLevels)>(levels);
}

bool CLog::IsListed(const char* channel, ELogLevel level) const
{
    auto entry = mChannelLevels.find(std::string_view(channel));
    if (entry == mChannelLevels.end())
        entry = mChannelLevels.find(std::string_view(kWildcardChannel));
    return entry != mChannelLevels.end() && entry->second <= level;
}

std::string CLog::getLogMsg(const char* channel, ELogLevel level, std::ostringstream& body) const
{
    using namespace std::chrono;
    const long long elapsedMs =
        duration_cast<microseconds>(system_clock::now() - mStartTime).count() / 1000;

    std::ostringstream line;
    line.setf(std::ios::left, std::ios::adjustfield);
    line << "[LOG] " << std::setw(6) << elapsedMs << " | " << std::setw(5)
         << reinterpret_cast<const void*>(pthread_self()) << " | " << std::setw(15) << channel
         << " | " << std::setw(6) << DicoLog[level] << " | " << body.str() << '\n';
    return line.str();
}
