// An installed bundle's Contents/Info.plist, read for its "CFBundleVersion".
#include "platform/BundleInfo.h"

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

namespace fs = boost::filesystem;

namespace
{
// One bundle per process; its Info.plist is rewritten for every input.
const fs::path& Bundle()
{
    static const fs::path bundle = []
    {
        const fs::path made =
            fs::temp_directory_path() / fs::unique_path("plist-fuzz-%%%%%%%%") / "Product.app";
        fs::create_directories(made / "Contents");
        std::atexit([] { fs::remove_all(Bundle().parent_path()); });
        return made;
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
