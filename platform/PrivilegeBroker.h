#pragma once

#include <memory>
#include <string>

namespace Korvane
{
namespace Platform
{

// Administrator rights and installation of the privileged helper tool.
class IPrivilegeBroker
{
  public:
    virtual ~IPrivilegeBroker() = default;

    // Obtains the right to install a privileged helper, asking the user for
    // an administrator's credentials when the system wants to. False when it
    // is refused or the user cancels.
    virtual bool Authorize() = 0;

    // Makes sure the helper tool with this job label is installed and serving
    // its channel. Only valid after a successful Authorize(). False on failure.
    virtual bool BlessHelper(const std::string& label) = 0;
};

// The broker of the building platform. `helperDirectory` is the directory
// that holds the helper tool's program (beside the running executable).
std::unique_ptr<IPrivilegeBroker> CreatePrivilegeBroker(const std::string& helperDirectory);

} // namespace Platform
} // namespace Korvane
