#include "platform/BundleInfo.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <fstream>
#include <iterator>
#include <sstream>

namespace pt = boost::property_tree;

namespace Korvane
{
namespace Platform
{

namespace
{

const char kVersionKey[] = "CFBundleVersion";
// A property list nests a few levels; the recursive XML reader would exhaust
// the stack on a deeply nested file long before it could fail cleanly.
constexpr size_t kMaxElementDepth = 256;

// Whether some element opens deeper than `maxDepth`, in one pass. Errs on
// the deep side: every '<' that starts a name opens a level, "</" and the
// "/>" of an opening tag close one.
bool NestsDeeperThan(const std::string& text, size_t maxDepth)
{
    size_t depth = 0;
    bool inOpeningTag = false;
    for (size_t at = 0; at < text.size(); ++at)
    {
        if (text[at] == '>')
        {
            if (inOpeningTag && at > 0 && text[at - 1] == '/' && depth > 0)
                --depth;
            inOpeningTag = false;
            continue;
        }
        if (text[at] != '<')
            continue;
        const char next = at + 1 < text.size() ? text[at + 1] : '\0';
        inOpeningTag = next != '/' && next != '!' && next != '?';
        if (next == '/' && depth > 0)
            --depth;
        if (inOpeningTag && ++depth > maxDepth)
            return true;
    }
    return false;
}

bool IsMarkup(const std::string& name)
{
    return name == "<xmlcomment>" || name == "<xmlattr>";
}

// The bundle's information list is an XML property list: a top-level <dict>
// of <key> elements, each followed by its value element.
bool FindVersion(const pt::ptree& document, std::string& version)
{
    const auto plist = document.find("plist");
    if (plist == document.not_found())
        return false;
    const auto dict = plist->second.find("dict");
    if (dict == plist->second.not_found())
        return false;

    const pt::ptree& entries = dict->second;
    for (auto entry = entries.begin(); entry != entries.end(); ++entry)
    {
        if (entry->first != "key" || entry->second.data() != kVersionKey)
            continue;
        auto value = std::next(entry);
        while (value != entries.end() && IsMarkup(value->first))
            ++value;
        if (value == entries.end() || value->first != "string")
            return false;
        version = value->second.data();
        return true;
    }
    return false;
}

} // namespace

bool ReadBundleVersion(const std::string& bundlePath, std::string& version)
{
    if (bundlePath.empty())
        return false;
    try
    {
        std::ifstream in(bundlePath + "/Contents/Info.plist", std::ios::binary);
        if (!in)
            return false;
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (NestsDeeperThan(text, kMaxElementDepth))
            return false;
        std::istringstream xml(text);
        pt::ptree document;
        pt::read_xml(xml, document);
        return FindVersion(document, version);
    }
    catch (const std::exception&)
    {
        // Parse errors, and read errors of a path that is not a regular file.
        return false;
    }
}

} // namespace Platform
} // namespace Korvane
