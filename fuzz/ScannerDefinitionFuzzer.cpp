// A scanner definition file: comment stripping, the nesting guard, the JSON
// reader and the rules turned into version finders, then a scan of them.
#include "scanner/JsonCommentStripper.h"
#include "scanner/Scanner.h"
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

// One definition file per process, rewritten for every input.
const fs::path& DefinitionFile()
{
    static const ScratchDirectory directory("scanner-fuzz-%%%%%%%%");
    static const fs::path file = directory.mPath / "definitions.json";
    return file;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    Korvane::UpdateManager::StripJsonComments(text);
    Korvane::UpdateManager::FindExcessiveNesting(text, 8);

    {
        std::ofstream out(DefinitionFile().string(), std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    const Korvane::UpdateManager::Scanner scanner(DefinitionFile());
    scanner.Scan();
    return 0;
}
