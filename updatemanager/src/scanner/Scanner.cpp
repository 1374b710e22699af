#include "scanner/Scanner.h"

#include "basictools/CTiming.h"
#include "basictools/logger/CLog.h"
#include "scanner/FileVersionFinder.h"
#include "scanner/JsonCommentStripper.h"
#include "scanner/RegKeyVersionFinder.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;

namespace Korvane
{
namespace UpdateManager
{

namespace
{

const char kChannel[] = "update_manager";

// Deeper documents would exhaust the stack of the recursive JSON reader.
constexpr size_t kMaxJsonDepth = 256;

template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog(kChannel, level, parts...);
}

bool ReadWholeFile(const fs::path& path, std::string& text)
{
    try
    {
        std::ifstream in(path.string(), std::ios::in);
        if (!in)
            return false;
        char buffer[8192];
        while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0)
            text.append(buffer, static_cast<size_t>(in.gcount()));
        return !in.bad();
    }
    catch (const std::exception&)
    {
        // Reading a path that is not a regular file (a directory) throws.
        return false;
    }
}

// The whole file as JSON; throws json_parser_error with the reader's texts.
pt::ptree ParseDefinitionFile(const fs::path& path)
{
    std::string text;
    if (!ReadWholeFile(path, text))
        throw pt::json_parser_error("read error", std::string(), 0);

    const std::string json = StripJsonComments(text);
    if (const size_t line = FindExcessiveNesting(json, kMaxJsonDepth))
        throw pt::json_parser_error("nesting too deep", std::string(), line);

    std::istringstream in(json);
    pt::ptree tree;
    pt::read_json(in, tree);
    return tree;
}

std::wstring Widen(const std::string& text)
{
    std::wstring wide;
    wide.reserve(text.size());
    for (const char c : text)
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::unique_ptr<VersionFinder> MakeRegKeyFinder(const std::string& kind, const pt::ptree& strings)
{
    if (strings.size() != 2 && strings.size() != 3)
    {
        Log(eLogWarning, "Missing a string in RegkeyVersionFinder definition in json '", kind, "'");
        return nullptr;
    }
    std::vector<std::wstring> parts;
    for (const auto& child : strings)
        parts.push_back(Widen(child.second.data()));
    const std::wstring extra = parts.size() == 3 ? parts[2] : std::wstring();
    return std::make_unique<RegKeyVersionFinder>(parts[0], parts[1], extra);
}

} // namespace

Scanner::Scanner(fs::path definitionPath)
{
    mInitialized = Load(std::move(definitionPath));
}

bool Scanner::Load(fs::path definitionPath)
{
    if (!definitionPath.empty())
    {
        bool exists = false;
        try
        {
            exists = fs::exists(definitionPath);
        }
        catch (const fs::filesystem_error&)
        {
            return false;
        }
        if (!exists)
        {
            Log(eLogWarning, "Could not find scanner definition file: ", definitionPath);
            return false;
        }
    }

    pt::ptree tree;
    try
    {
        tree = ParseDefinitionFile(definitionPath);
    }
    catch (const pt::json_parser_error& e)
    {
        Log(eLogError, " Caught exception while parsing json file ", definitionPath, ": ",
            e.what());
        return false;
    }

    const pt::ptree* products = nullptr;
    try
    {
        products = &tree.get_child("scanner");
    }
    catch (const pt::ptree_error& e)
    {
        Log(eLogError, "'scanner' node not found in scanner definition file: ", e.what());
        return true;
    }

    for (const auto& product : *products)
    {
        std::string name;
        try
        {
            name = product.second.get<std::string>("name");
            const std::string sku = product.second.get<std::string>("sku");
            const pt::ptree& rules = product.second.get_child("rules");
            AddProduct(sku, rules);
        }
        catch (const pt::ptree_error& e)
        {
            Log(eLogWarning, "Bad scanner definition for product '", name, "': ", e.what());
        }
    }
    return true;
}

void Scanner::AddProduct(const std::string& sku, const pt::ptree& rules)
{
    for (const auto& rule : rules)
    {
        if (rule.second.empty())
            continue;
        const auto& member = rule.second.front();
        const std::string& kind = member.first;

        std::unique_ptr<VersionFinder> finder;
        if (kind == "file")
            finder = std::make_unique<FileVersionFinder>(member.second.data());
        else if (kind == "regkey")
            finder = MakeRegKeyFinder(kind, member.second);

        if (!finder)
        {
            Log(eLogWarning, "Could not add Unknown Rule '", kind, "'");
            continue;
        }
        mDefinitions[sku].Add(std::move(finder));
    }
    Log(eLogInfo, mDefinitions[sku].Size(), " scan rules to find ", sku);
}

bool Scanner::HasDefinition(const std::string& sku) const
{
    return mDefinitions.count(sku) != 0;
}

std::pair<std::string, std::string> Scanner::Scan(const std::string& sku) const
{
    Log(eLogInfo, "Searching for ", sku);
    std::pair<std::string, std::string> result;
    const auto entry = mDefinitions.find(sku);
    if (entry != mDefinitions.end())
    {
        std::string version;
        bool found = false;
        entry->second.Get(version, found);
        if (found)
            result = {sku, version};
    }
    Log(eLogInfo, "Searching for ", "Found ", result.first, "/", result.second);
    return result;
}

std::map<std::string, std::string> Scanner::Scan() const
{
    CTiming timing("Complete Scan", true);
    Log(eLogInfo, "Complete Scan");
    std::map<std::string, std::string> result;
    for (const auto& entry : mDefinitions)
    {
        std::string version;
        bool found = false;
        entry.second.Get(version, found);
        if (found)
            result[entry.first] = version;
    }
    return result;
}

} // namespace UpdateManager
} // namespace Korvane
