// An installed bundle's Contents/Info.plist, read for its "CFBundleVersion".
#include "platform/BundleInfo.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace fs = boost::filesystem;

namespace
{
// A scratch directory for the whole run, removed when the process exits.
struct ScratchDirectory
{
    fs::path mPath;
    explicit ScratchDirectory(const std::string& pattern)
        : mPath(fs::temp_directory_path() / fs::unique_path(pattern))
    {
        fs::create_directories(mPath);
    }
    ~ScratchDirectory()
    {
        boost::system::error_code ignored;
        fs::remove_all(mPath, ignored);
    }
};

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
