#include "resources/Check.h"

#include <Poco/DigestEngine.h>
#include <Poco/MD5Engine.h>

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <memory>

namespace fs = boost::filesystem;

namespace Korvane
{
namespace UpdateManager
{

int64_t Check::ComputeSize(const fs::path& file)
{
    boost::system::error_code error;
    if (!fs::exists(file, error) || error)
        return 0;
    const auto size = fs::file_size(file, error);
    return error ? 0 : static_cast<int64_t>(size);
}

std::string Check::ComputeChecksum(const fs::path& file)
{
    boost::system::error_code error;
    if (!fs::exists(file, error) || error)
        return "";

    std::ifstream in(file.string(), std::ios::binary);
    // Reads of this size bypass the stream's own buffer and go straight to the
    // system, so each byte is copied once, into this block.
    std::unique_ptr<char[]> block(new char[kMD5BufferSize]);
    Poco::MD5Engine md5;
    while (in)
    {
        in.read(block.get(), static_cast<std::streamsize>(kMD5BufferSize));
        const std::streamsize count = in.gcount();
        if (count <= 0)
            break;
        md5.update(block.get(), static_cast<std::size_t>(count));
    }
    return Poco::DigestEngine::digestToHex(md5.digest());
}

} // namespace UpdateManager
} // namespace Korvane
