// Check::ComputeChecksum on one file, printed like md5sum, so that the two can
// be timed or profiled side by side on the same file:
//   build/bench/checksum_tool FILE            (prints "MD5  FILE" and the MiB/s)
//   valgrind --tool=callgrind build/bench/checksum_tool FILE
//   valgrind --tool=callgrind md5sum FILE
#include "resources/Check.h"

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const std::string md5 = Korvane::UpdateManager::Check::ComputeChecksum(argv[1]);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (md5.empty())
        return 1;
    const double mib =
        static_cast<double>(Korvane::UpdateManager::Check::ComputeSize(argv[1])) / (1 << 20);
    std::printf("%s  %s\n", md5.c_str(), argv[1]);
    std::fprintf(stderr, "%.1f MiB/s\n", mib / seconds);
    return 0;
}
