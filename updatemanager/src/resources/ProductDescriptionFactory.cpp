#include "resources/ProductDescriptionFactory.h"

#include <boost/algorithm/string/trim.hpp>
#include <boost/property_tree/exceptions.hpp>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <limits>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
// A byte count: one unsigned decimal number, white space around it allowed;
// 0 for anything else.
uint64_t ParseSize(const std::string& text)
{
    const std::string digits = boost::algorithm::trim_copy(text);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return 0;
    uint64_t value = 0;
    for (const char digit : digits)
    {
        const uint64_t next = static_cast<uint64_t>(digit - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - next) / 10)
            return 0;
        value = value * 10 + next;
    }
    return value;
}
} // namespace

bool ProductDescriptionFactory::Create(const std::string& sku, std::string localVersion,
                                       const boost::property_tree::ptree& resource,
                                       ProductDescription& product)
{
    try
    {
        if (resource.get<std::string>("product_sku") != sku)
            return false;
        product.mSku = sku;
        product.mLocalVersion = std::move(localVersion);
        product.mName = resource.get<std::string>("name");
        product.mPermalink = resource.get<std::string>("permalink");
        product.mVersion = resource.get<std::string>("version");
        product.mProductPage = resource.get<std::string>("links.product_page.href", "");
        if (product.mProductPage.empty())
            product.mProductPage = resource.get<std::string>("resources_site_link");
        product.mPlatformMinVersion = resource.get<std::string>("platform_min_version", "");
        product.mPlatformMaxVersion = resource.get<std::string>("platform_max_version", "");
        product.mPlatformDisplayVersion = resource.get<std::string>("platform_display_version", "");
        product.mSize = ParseSize(resource.get<std::string>("size", ""));
        product.mChecksum = resource.get<std::string>("checksum", "");
        return true;
    }
    catch (const boost::property_tree::ptree_error& error)
    {
        std::cout << error.what() << std::endl;
        return false;
    }
}

} // namespace UpdateManager
} // namespace Korvane
