// A scanner definition file: comment stripping, the nesting guard, the JSON
// reader and the rules turned into version finders, then a scan of them.
#include "scanner/JsonCommentStripper.h"
#include "scanner/Scanner.h"

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
// One definition file per process, rewritten for every input and removed at exit.
const fs::path& DefinitionFile()
{
    static const fs::path directory = []
    {
        const fs::path made = fs::temp_directory_path() / fs::unique_path("scanner-fuzz-%%%%%%%%");
        fs::create_directories(made);
        std::atexit([] { fs::remove_all(DefinitionFile().parent_path()); });
        return made;
    }();
    static const fs::path file = directory / "definitions.json";
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
