#pragma once

#include "platform/PrivilegeBroker.h"

#include <sys/types.h>

#include <chrono>
#include <string>

namespace Korvane
{
namespace Platform
{

// Grants authorization (the process's own rights are all there is) and
// "blesses" the helper by making sure it serves its privileged socket: when
// nothing answers there, starts the program named after the label's last
// component (e.g. "UpdaterHelper") from the helper directory and waits,
// bounded, until it listens.
class LinuxPrivilegeBroker : public IPrivilegeBroker
{
  public:
    explicit LinuxPrivilegeBroker(
        std::string helperDirectory,
        std::chrono::milliseconds startTimeout = std::chrono::seconds(10));

    bool Authorize() override;
    bool BlessHelper(const std::string& label) override;

    // The helper this broker started, or -1 when it started none (or the one
    // it started ended without serving). It is a child of this process.
    pid_t StartedHelperPid() const { return mStartedHelper; }

  private:
    std::string mHelperDirectory;
    std::chrono::milliseconds mStartTimeout;
    pid_t mStartedHelper = -1;
};

} // namespace Platform
} // namespace Korvane
