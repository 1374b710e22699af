#pragma once

#include <string>

namespace Korvane
{
namespace Testing
{

// Sends the process's standard output (file descriptor 1, so also what the
// log's writer thread prints) to a temp file until Release() or destruction.
class CapturedStdout
{
  public:
    CapturedStdout();
    ~CapturedStdout();
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    // Restores standard output and returns everything written meanwhile.
    std::string Release();

  private:
    int mSavedFd = -1;
    std::string mPath;
};

} // namespace Testing
} // namespace Korvane
