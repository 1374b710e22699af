#include "InstallerTestSupport.h"

#include <gtest/gtest.h>

namespace Korvane
{
namespace Testing
{
namespace
{
class RootEnvironment : public ::testing::Environment
{
  public:
    void SetUp() override { PlatformRootEnvironment::SetUp(); }
    void TearDown() override { PlatformRootEnvironment::TearDown(); }
};
const auto* const sRootEnvironment = ::testing::AddGlobalTestEnvironment(new RootEnvironment);
} // namespace

std::string Volumes()
{
    return (PlatformRootEnvironment::Root() / "Volumes").string();
}

} // namespace Testing
} // namespace Korvane
