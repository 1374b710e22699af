#include "scanner/JsonCommentStripper.h"

namespace Korvane
{
namespace UpdateManager
{

namespace
{

bool IsLineBreak(char c)
{
    return c == '\n' || c == '\r';
}

void Blank(std::string& text, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i)
    {
        if (!IsLineBreak(text[i]))
            text[i] = ' ';
    }
}

// Index just past the closing quote of the string opening at `quote`, or the
// text's end when it is not closed.
size_t SkipString(const std::string& text, size_t quote)
{
    size_t i = quote + 1;
    while (i < text.size())
    {
        if (text[i] == '\\')
            i += 2;
        else if (text[i] == '"')
            return i + 1;
        else
            ++i;
    }
    return text.size();
}

} // namespace

std::string StripJsonComments(const std::string& text)
{
    std::string result = text;
    size_t i = 0;
    while (i < result.size())
    {
        const char c = result[i];
        const char next = i + 1 < result.size() ? result[i + 1] : '\0';
        if (c == '"')
        {
            i = SkipString(result, i);
        }
        else if (c == '/' && next == '/')
        {
            size_t end = i;
            while (end < result.size() && !IsLineBreak(result[end]))
                ++end;
            Blank(result, i, end);
            i = end;
        }
        else if (c == '/' && next == '*')
        {
            const size_t close = result.find("*/", i + 2);
            if (close == std::string::npos)
                break;
            Blank(result, i, close + 2);
            i = close + 2;
        }
        else
        {
            ++i;
        }
    }
    return result;
}

size_t FindExcessiveNesting(const std::string& text, size_t maxDepth)
{
    size_t depth = 0;
    size_t line = 1;
    size_t i = 0;
    while (i < text.size())
    {
        const char c = text[i];
        if (c == '"')
        {
            const size_t end = SkipString(text, i);
            for (size_t j = i; j < end; ++j)
                line += text[j] == '\n' ? 1 : 0;
            i = end;
            continue;
        }
        if (c == '\n')
            ++line;
        else if (c == '[' || c == '{')
        {
            if (++depth > maxDepth)
                return line;
        }
        else if ((c == ']' || c == '}') && depth > 0)
            --depth;
        ++i;
    }
    return 0;
}

} // namespace UpdateManager
} // namespace Korvane
