// An installed bundle's Contents/Info.plist, read for its "CFBundleVersion".
#include "platform/BundleInfo.h"
#include "ScratchDirectory.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>


namespace fs = boost::filesystem;

namespace
{
using Korvane::Fuzzing::ScratchDirectory;

// One bundle per process; its Info.plist is rewritten for every input.
const fs::path& Bundle()
{
    static const ScratchDirectory directory("plist-fuzz-%%%%%%%%");
    static const fs::path bundle = []
    {
        fs::create_directories(directory.mPath / "Product.app" / "Contents");
        return directory.mPath / "Product.app";
    }();
    return bundle;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    {
        std::ofstream out((Bundle() / "Contents" / "Info.plist").string(),
                          std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::string version;
    Korvane::Platform::ReadBundleVersion(Bundle().string(), version);
    return 0;
}
