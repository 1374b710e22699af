#include "basictools/stlutils.h"

namespace Korvane
{
namespace stlutils
{

std::string replace_all(const std::string& text, const std::string& from, const std::string& to)
{
    std::string result = text;
    if (from.empty())
        return result;

    std::string::size_type position = 0;
    while ((position = result.find(from, position)) != std::string::npos)
    {
        result.replace(position, from.size(), to);
        position += to.size();
    }
    return result;
}

void tokenize(const std::string& text, std::vector<std::string>& tokens,
              const std::string& delimiters)
{
    std::string::size_type start = text.find_first_not_of(delimiters);
    std::string::size_type end = text.find_first_of(delimiters, start);
    while (start != std::string::npos || end != std::string::npos)
    {
        tokens.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = text.find_first_not_of(delimiters, end);
        end = text.find_first_of(delimiters, start);
    }
}

} // namespace stlutils
} // namespace Korvane
