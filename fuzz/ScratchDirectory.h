#pragma once

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <string>

namespace Korvane
{
namespace Fuzzing
{

// A scratch directory for a whole fuzzing run, removed when the process exits.
struct ScratchDirectory
{
    boost::filesystem::path mPath;

    explicit ScratchDirectory(const std::string& pattern)
        : mPath(boost::filesystem::temp_directory_path() / boost::filesystem::unique_path(pattern))
    {
        boost::filesystem::create_directories(mPath);
    }

    ~ScratchDirectory()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(mPath, ignored);
    }
};

} // namespace Fuzzing
} // namespace Korvane
