#include "scanner/VersionFinder.h"

namespace Korvane
{
namespace UpdateManager
{

VersionFinder::~VersionFinder() = default;

} // namespace UpdateManager
} // namespace Korvane
