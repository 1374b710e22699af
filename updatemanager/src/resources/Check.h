#pragma once

#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// File measurements for download checks and download confirmation. Both are
// safe on any thread and never throw.
class Check
{
  public:
    // Bytes read per block when computing a checksum. Large enough that the
    // digest, not the system calls, sets the pace.
    static constexpr std::size_t kMD5BufferSize = 256 * 1024;

    // Size in bytes; 0 when the file does not exist or cannot be queried.
    static int64_t ComputeSize(const boost::filesystem::path& file);

    // MD5 of the content as 32 lower-case hexadecimal characters; "" when the
    // file does not exist or cannot be queried. A file that exists but cannot
    // be read yields the digest of empty input.
    static std::string ComputeChecksum(const boost::filesystem::path& file);

    Check() = delete;
};

} // namespace UpdateManager
} // namespace Korvane
