// A request text as the helper tool receives it ("run " and a command line):
// the splitting and its quoting must agree, and the only thing the helper
// may ever run is the package installer on an absolute package path.
#include "CommandLineText.h"
#include "HelperService.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Korvane;

namespace
{
const char kInstallerTool[] = "/usr/sbin/installer";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> arguments;
    if (IPC::SplitArguments(text, arguments))
    {
        std::vector<std::string> again;
        if (arguments.empty() || !IPC::SplitArguments(IPC::JoinArguments(arguments), again) ||
            again != arguments)
            __builtin_trap();
    }
    if (text.find('\0') == std::string::npos)
    {
        std::vector<std::string> single;
        if (!IPC::SplitArguments(IPC::QuoteArgument(text), single) || single.size() != 1 ||
            single[0] != text)
            __builtin_trap();
    }

    Helper::HelperService service(getuid(), kInstallerTool,
                                  [](const std::vector<std::string>& command)
                                  {
                                      if (command.empty() || command[0] != kInstallerTool ||
                                          command.back().empty() || command.back()[0] != '/')
                                          __builtin_trap();
                                      return 0;
                                  });
    service.Answer(getuid(), "run " + text);
    service.Answer(getuid(), text);
    return 0;
}
