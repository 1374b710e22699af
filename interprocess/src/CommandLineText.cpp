#include "CommandLineText.h"

namespace Korvane
{
namespace IPC
{
namespace
{
bool IsPlainCharacter(char character)
{
    if ((character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
        (character >= '0' && character <= '9'))
        return true;
    const std::string plain = "_@%+=:,./-";
    return plain.find(character) != std::string::npos;
}
} // namespace

std::string QuoteArgument(const std::string& argument)
{
    bool plain = !argument.empty();
    for (char character : argument)
        plain = plain && IsPlainCharacter(character);
    if (plain)
        return argument;
    std::string quoted = "'";
    for (char character : argument)
    {
        if (character == '\'')
            quoted += "'\\''";
        else
            quoted += character;
    }
    quoted += "'";
    return quoted;
}

std::string JoinArguments(const std::vector<std::string>& arguments)
{
    std::string line;
    for (const std::string& argument : arguments)
    {
        if (!line.empty())
            line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

bool SplitArguments(const std::string& commandLine, std::vector<std::string>& arguments)
{
    arguments.clear();
    if (commandLine.find('\0') != std::string::npos)
        return false;
    std::string current;
    bool inArgument = false;
    bool inQuotes = false;
    for (size_t index = 0; index < commandLine.size(); ++index)
    {
        const char character = commandLine[index];
        if (inQuotes)
        {
            if (character == '\'')
                inQuotes = false;
            else
                current += character;
            continue;
        }
        if (character == ' ' || character == '\t')
        {
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            continue;
        }
        if (character == '\n' || character == '\r' ||
            (character == '\\' && index + 1 == commandLine.size()))
        {
            arguments.clear();
            return false;
        }
        inArgument = true;
        if (character == '\'')
            inQuotes = true;
        else if (character == '\\')
            current += commandLine[++index];
        else
            current += character;
    }
    if (inQuotes)
    {
        arguments.clear();
        return false;
    }
    if (inArgument)
        arguments.push_back(std::move(current));
    return !arguments.empty();
}

} // namespace IPC
} // namespace Korvane
