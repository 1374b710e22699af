#include "updater/CommandLine.h"

namespace Korvane
{
namespace Updater
{

namespace
{
const char kQuote = '"';
const char kSkuOption[] = "--product-sku";
const char kSeparator[] = "--";
} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments)
{
    CommandLine result;
    bool afterSeparator = false;
    bool expectSku = false;
    for (const std::string& argument : arguments)
    {
        if (afterSeparator)
            result.relaunchCommandLine.push_back(QuoteRelaunchArgument(argument));
        else if (expectSku)
        {
            result.sku = argument;
            expectSku = false;
        }
        else if (argument == kSkuOption)
            expectSku = true;
        else if (argument == kSeparator)
            afterSeparator = true;
    }
    result.valid = !expectSku && !result.sku.empty();
    return result;
}

std::string QuoteRelaunchArgument(const std::string& argument)
{
    if (argument.empty())
        return std::string(2, kQuote);

    std::string quoted = argument;
    if (quoted.front() != kQuote)
        quoted.insert(quoted.begin(), kQuote);
    if (quoted.back() != kQuote)
        quoted.push_back(kQuote);
    return quoted;
}

const char* UsageText()
{
    return "Usage: updater --product-sku SKU [-- RELAUNCH_ARG [RELAUNCH_ARG ...]]\n"
           "Example: updater --product-sku myproduct -- \"/Application/Korvane/My Product.app\" "
           "myarg1 myarg2\n";
}

std::string RelaunchProgramPath(const std::vector<std::string>& relaunchCommandLine)
{
    if (relaunchCommandLine.empty())
        return std::string();
    std::string path = relaunchCommandLine.front();
    if (!path.empty() && path.front() == kQuote)
        path.erase(path.begin());
    if (!path.empty() && path.back() == kQuote)
        path.pop_back();
    return path;
}

std::vector<char*> RelaunchArgumentArray(std::vector<std::string>& relaunchCommandLine)
{
    std::vector<char*> arguments;
    arguments.reserve(relaunchCommandLine.size() + 1);
    for (std::string& element : relaunchCommandLine)
        arguments.push_back(element.data());
    arguments.push_back(nullptr);
    return arguments;
}

} // namespace Updater
} // namespace Korvane
