#include "support/CapturedStdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace Korvane
{
namespace Testing
{

CapturedStdout::CapturedStdout()
{
    char pattern[] = "/tmp/updater-stdout-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0)
        throw std::runtime_error("cannot create capture file");
    mPath = pattern;
    std::cout.flush();
    std::fflush(stdout);
    mSavedFd = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

CapturedStdout::~CapturedStdout()
{
    Release();
}

std::string CapturedStdout::Release()
{
    if (mSavedFd < 0)
        return std::string();
    std::cout.flush();
    std::fflush(stdout);
    dup2(mSavedFd, STDOUT_FILENO);
    close(mSavedFd);
    mSavedFd = -1;

    std::ifstream in(mPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::remove(mPath.c_str());
    return text.str();
}

} // namespace Testing
} // namespace Korvane
