#include "support/TempDirectory.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <sstream>

namespace fs = boost::filesystem;

namespace Korvane
{
namespace Testing
{

TempDirectory::TempDirectory()
    : mPath(fs::temp_directory_path() / fs::unique_path("updater-test-%%%%-%%%%-%%%%"))
{
    fs::create_directories(mPath);
}

TempDirectory::~TempDirectory()
{
    boost::system::error_code ignored;
    fs::remove_all(mPath, ignored);
}

void WriteFile(const fs::path& path, const std::string& contents)
{
    if (path.has_parent_path())
        fs::create_directories(path.parent_path());
    std::ofstream out(path.string(), std::ios::binary | std::ios::trunc);
    out << contents;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

} // namespace Testing
} // namespace Korvane
