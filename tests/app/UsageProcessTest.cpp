#include "updater/CommandLine.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace
{
struct ProcessResult
{
    int status = -1;
    std::string output;
};

// Runs the built updater with `arguments` (already shell-quoted) and returns
// its exit status and standard output.
ProcessResult RunUpdater(const std::string& arguments)
{
    const std::string command =
        std::string("'") + UPDATER_EXECUTABLE + "' " + arguments + " 2>/dev/null";
    ProcessResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    std::array<char, 4096> buffer{};
    size_t count = 0;
    while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), count);
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}
} // namespace

TEST(UsageProcessTest, BadCommandLinesPrintUsageAndExitWithOne)
{
    for (const char* arguments : {"", "--product-sku", "-- /p/app --product-sku X"})
    {
        const ProcessResult result = RunUpdater(arguments);
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_EQ(result.output, Korvane::Updater::UsageText()) << arguments << "\n"
                                                                << result.output;
    }
}
