#pragma once

#include <string>
#include <vector>

namespace Korvane
{
namespace Updater
{

// What the program arguments (without the program name) ask for:
//   --product-sku SKU [-- RELAUNCH_ARG [RELAUNCH_ARG ...]]
struct CommandLine
{
    std::string sku;
    // Arguments after "--", each wrapped in double quotes.
    std::vector<std::string> relaunchCommandLine;
    // False when no SKU was given, it was empty, or "--product-sku" came last.
    bool valid = false;
};

CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// Adds a double quote at the start and at the end where there is none; an
// empty text becomes two double quotes.
std::string QuoteRelaunchArgument(const std::string& argument);

// The two usage lines, each ending with a newline.
const char* UsageText();

// The program to start: the first relaunch element without its surrounding
// double quotes. The other elements keep theirs: products rely on receiving
// their arguments (argument 0 included) quoted.
std::string RelaunchProgramPath(const std::vector<std::string>& relaunchCommandLine);

// Pointers to the elements' character data followed by a null pointer, ready
// for execv. The elements must outlive the returned array.
std::vector<char*> RelaunchArgumentArray(std::vector<std::string>& relaunchCommandLine);

} // namespace Updater
} // namespace Korvane
