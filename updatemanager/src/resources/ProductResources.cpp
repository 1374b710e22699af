#include "resources/ProductResources.h"

#include "basictools/logger/CLog.h"

#include <boost/property_tree/exceptions.hpp>

#include <cstdint>
#include <exception>
#include <iostream>
#include <sstream>
#include <typeinfo>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
// "total" as the property tree would convert it to int32_t (one integer,
// white space around it allowed), raising the same errors.
int32_t ReadTotal(const boost::property_tree::ptree& answer)
{
    const std::string text = answer.get<std::string>("total");
    std::istringstream in(text);
    int32_t total = 0;
    in >> total;
    if (!in.fail() && !in.eof())
        in >> std::ws;
    if (in.fail() || !in.eof())
        throw boost::property_tree::ptree_bad_data(std::string("conversion of data to type \"") +
                                                       typeid(int32_t).name() + "\" failed",
                                                   text);
    return total;
}

template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog("update_manager", level, parts...);
}
} // namespace

ProductResources::ProductResources(const boost::property_tree::ptree& answer)
{
    Init(answer);
}

void ProductResources::Init(const boost::property_tree::ptree& answer)
{
    try
    {
        const int32_t total = ReadTotal(answer);
        const boost::property_tree::ptree resources = answer.get_child("resources");
        const size_t count = resources.size();
        if (count == 0)
        {
            Log(eLogWarning, "Resource is empty");
        }
        else if (total >= 0 && count == static_cast<size_t>(total))
        {
            mValid = true;
            mProductProperties = resources.front().second;
        }
        else
        {
            Log(eLogError, "Invalid resources: ", "got ", count, " while ", "total indicates ",
                total);
        }
    }
    catch (const std::exception& error)
    {
        Log(eLogError, "Error in resource parsing: ", error.what());
    }
    catch (...)
    {
        Log(eLogError, "Unknown error in resource parsing");
    }
}

std::string ProductResources::CreatePath(std::string sku, std::string platform, std::string version)
{
    return "/api/resources/soft/" + sku + "/" + platform + "/" + version;
}

void ProductResources::Show() const
{
    Show("", mProductProperties, 0);
}

void ProductResources::Show(const std::string& key, const boost::property_tree::ptree& tree,
                            int depth) const
{
    const std::string indent(static_cast<size_t>(depth), ' ');
    std::cout << indent << "+" << key << " : " << tree.data() << " {" << std::endl;
    for (const auto& [childKey, child] : tree)
        Show(childKey, child, depth + 1);
    std::cout << indent << "}" << std::endl;
}

} // namespace UpdateManager
} // namespace Korvane
