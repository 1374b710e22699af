#include "LogLines.h"

#include "basictools/logger/CLog.h"

#include <sstream>

namespace Korvane
{
namespace Testing
{

namespace
{
std::string Trim(const std::string& text)
{
    const size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}
} // namespace

ChannelCapture::ChannelCapture(std::string channel) : mChannel(std::move(channel))
{
    CSingleton<CLog>::destroyInstance();
    mCapture.emplace();
    CSingleton<CLog>::getInstance()->SetChannelLevels({{mChannel, eLogDebug}});
}

ChannelCapture::~ChannelCapture()
{
    if (mCapture)
        Lines();
}

std::vector<std::string> ChannelCapture::Lines()
{
    CSingleton<CLog>::destroyInstance();
    const std::string output = mCapture->Release();
    mCapture.reset();

    // "[LOG] time | thread | channel | level | body"
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    const std::string separator = " | ";
    while (std::getline(in, line))
    {
        if (line.rfind("[LOG] ", 0) != 0)
            continue;
        std::vector<std::string> fields;
        size_t start = 0;
        for (int i = 0; i < 4; ++i)
        {
            const size_t at = line.find(separator, start);
            if (at == std::string::npos)
                break;
            fields.push_back(line.substr(start, at - start));
            start = at + separator.size();
        }
        if (fields.size() != 4 || Trim(fields[2]) != mChannel)
            continue;
        lines.push_back(Trim(fields[3]) + ": " + line.substr(start));
    }
    return lines;
}

} // namespace Testing
} // namespace Korvane
