#include "platform/ProcessRunner.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace Korvane
{
namespace Platform
{
namespace
{
int DecodeWaitStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}
} // namespace

pid_t StartProcess(const std::vector<std::string>& arguments)
{
    if (arguments.empty() || arguments.front().empty())
        return -1;

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t process = -1;
    if (posix_spawn(&process, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return process;
}

int WaitProcess(pid_t process, bool block)
{
    if (process <= 0)
        return -1;
    int status = 0;
    for (;;)
    {
        const pid_t result = waitpid(process, &status, block ? 0 : WNOHANG);
        if (result == process)
            return DecodeWaitStatus(status);
        if (result == 0)
            return -2;
        if (errno != EINTR)
            return -1;
    }
}

int RunProcess(const std::vector<std::string>& arguments)
{
    const pid_t process = StartProcess(arguments);
    if (process < 0)
        return -1;
    const int status = WaitProcess(process, true);
    // glibc's posix_spawn reports an exec failure as exit status 127.
    return status;
}

} // namespace Platform
} // namespace Korvane
