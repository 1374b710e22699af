#pragma once

#include "ProductDescription.h"

#include <boost/property_tree/ptree.hpp>

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// Turns the first resource of a resource server answer into a product record.
class ProductDescriptionFactory
{
  public:
    // True when `product` was filled from `resource` for `sku`. False when
    // "product_sku" differs (silently) or a required member is missing (the
    // error text goes to standard output); `product` may then be partly
    // written and must not be used. Never throws.
    virtual bool Create(const std::string& sku, std::string localVersion,
                        const boost::property_tree::ptree& resource, ProductDescription& product);
};

} // namespace UpdateManager
} // namespace Korvane
