#include "platform/linux/LinuxPrivilegeBroker.h"

#include "platform/MessageChannel.h"
#include "platform/ProcessRunner.h"

#include <chrono>
#include <thread>

namespace Korvane
{
namespace Platform
{
namespace
{
constexpr char kLabelPrefix[] = "com.Korvane.";
constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::string ProgramName(const std::string& label)
{
    const std::string prefix = kLabelPrefix;
    if (label.compare(0, prefix.size(), prefix) == 0)
        return label.substr(prefix.size());
    return label;
}
} // namespace

LinuxPrivilegeBroker::LinuxPrivilegeBroker(std::string helperDirectory,
                                           std::chrono::milliseconds startTimeout)
    : mHelperDirectory(std::move(helperDirectory)), mStartTimeout(startTimeout)
{
}

bool LinuxPrivilegeBroker::Authorize()
{
    return true;
}

bool LinuxPrivilegeBroker::BlessHelper(const std::string& label)
{
    const std::string socketPath = ServiceSocketPath(label, true);
    if (IsServiceListening(socketPath))
        return true;

    const std::string program = ProgramName(label);
    if (program.empty() || program.find('/') != std::string::npos || mHelperDirectory.empty())
        return false;
    const pid_t helper = StartProcess({mHelperDirectory + "/" + program});
    if (helper < 0)
        return false;
    mStartedHelper = helper;

    const auto deadline = std::chrono::steady_clock::now() + mStartTimeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (IsServiceListening(socketPath))
            return true;
        if (WaitProcess(helper, false) != -2)
        {
            mStartedHelper = -1; // it ended (and is reaped) without serving
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return false;
}

std::unique_ptr<IPrivilegeBroker> CreatePrivilegeBroker(const std::string& helperDirectory)
{
    return std::make_unique<LinuxPrivilegeBroker>(helperDirectory);
}

} // namespace Platform
} // namespace Korvane
