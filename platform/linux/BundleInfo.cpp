#include "platform/BundleInfo.h"

#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <fstream>

namespace pt = boost::property_tree;

namespace Korvane
{
namespace Platform
{

namespace
{

const char kVersionKey[] = "CFBundleVersion";

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
        pt::ptree document;
        pt::read_xml(in, document);
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
