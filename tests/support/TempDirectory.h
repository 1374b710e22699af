#pragma once

#include <boost/filesystem/path.hpp>

#include <string>

namespace Korvane
{
namespace Testing
{

// A fresh directory under the system temp directory, removed with everything
// in it when the object goes.
class TempDirectory
{
  public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const boost::filesystem::path& Path() const { return mPath; }
    boost::filesystem::path operator/(const std::string& name) const { return mPath / name; }

  private:
    boost::filesystem::path mPath;
};

// Writes `contents` to `path`, creating parent directories.
void WriteFile(const boost::filesystem::path& path, const std::string& contents);
std::string ReadFile(const boost::filesystem::path& path);

} // namespace Testing
} // namespace Korvane
