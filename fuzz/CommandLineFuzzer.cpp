// Program arguments (NUL-separated in the input) through the command-line
// parser and the relaunch array built from them.
#include "updater/CommandLine.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> arguments(1);
    for (size_t index = 0; index < size; ++index)
    {
        if (data[index] == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(static_cast<char>(data[index]));
    }
    Korvane::Updater::CommandLine parsed = Korvane::Updater::ParseCommandLine(arguments);
    Korvane::Updater::RelaunchProgramPath(parsed.relaunchCommandLine);
    const std::vector<char*> array =
        Korvane::Updater::RelaunchArgumentArray(parsed.relaunchCommandLine);
    if (array.empty() || array.back() != nullptr)
        __builtin_trap();
    return 0;
}
