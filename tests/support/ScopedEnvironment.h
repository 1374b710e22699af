#pragma once

#include <optional>
#include <string>

namespace Korvane
{
namespace Testing
{

// Sets (or, with no value, unsets) an environment variable for the life of the
// object and restores the previous state afterwards.
class ScopedEnvironment
{
  public:
    ScopedEnvironment(std::string name, std::optional<std::string> value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    std::string mName;
    std::optional<std::string> mPrevious;
};

} // namespace Testing
} // namespace Korvane
