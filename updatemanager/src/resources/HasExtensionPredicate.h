#pragma once

#include <boost/filesystem/directory.hpp>

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// Whether a directory entry is a regular file (symbolic links followed) whose
// extension, the text after the last "." of its path, equals the given one
// (case-sensitive, no dot: "pkg"). Logs each verdict at debug on "install".
// A file-system error of the status query is thrown.
class HasExtensionPredicate
{
  public:
    explicit HasExtensionPredicate(std::string extension) : mExtension(std::move(extension)) {}

    bool operator()(const boost::filesystem::directory_entry& entry) const;

  private:
    std::string mExtension;
};

} // namespace UpdateManager
} // namespace Korvane
