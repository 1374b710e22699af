// A confirm file beside a downloaded installer, judged by the installer state.
// The first input byte sets the installer file's size (0 to 255 bytes); the
// rest is the confirm file.
#include "resources/Installer.h"
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

const fs::path& Directory()
{
    static const ScratchDirectory directory("confirm-fuzz-%%%%%%%%");
    return directory.mPath;
}

void Write(const fs::path& file, const char* data, size_t size)
{
    std::ofstream out(file.string(), std::ios::binary | std::ios::trunc);
    out.write(data, static_cast<std::streamsize>(size));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace Korvane::UpdateManager;
    if (size == 0)
        return 0;
    const fs::path file = Directory() / "Setup.dmg";
    Write(file, std::string(data[0], 'x').data(), data[0]);
    Installer installer("http://127.0.0.1/Setup.dmg", file, UpdateNeeded);
    Write(installer.GetConfirmFile(), reinterpret_cast<const char*>(data + 1), size - 1);

    installer.ComputeStatus("1.0.0", "1.1.0");
    const UpdateStatus status = installer.GetStatus();
    // A confirm file can only ever confirm an installer file of its own size.
    if (status == InstallerAvailable && data[0] == 0)
        __builtin_trap();
    if (status != InstallerAvailable && status != DownloadPaused)
        __builtin_trap();
    if (status == DownloadPaused && installer.GetStartingPosition() != data[0])
        __builtin_trap();
    return 0;
}
