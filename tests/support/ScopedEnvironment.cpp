#include "support/ScopedEnvironment.h"

#include <cstdlib>

namespace Korvane
{
namespace Testing
{

namespace
{
void Apply(const std::string& name, const std::optional<std::string>& value)
{
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
}
} // namespace

ScopedEnvironment::ScopedEnvironment(std::string name, std::optional<std::string> value)
    : mName(std::move(name))
{
    if (const char* previous = std::getenv(mName.c_str()))
        mPrevious = previous;
    Apply(mName, value);
}

ScopedEnvironment::~ScopedEnvironment()
{
    Apply(mName, mPrevious);
}

} // namespace Testing
} // namespace Korvane
