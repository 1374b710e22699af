#pragma once

#include <boost/property_tree/ptree.hpp>

#include <string>

namespace Korvane
{
namespace UpdateManager
{

// The envelope of a resource server answer: {"total": N, "resources": [...]}.
// Valid when "resources" holds exactly "total" (> 0) elements; the first one
// is then the product's properties. Problems are logged on channel
// "update_manager" and leave the object invalid; nothing throws.
class ProductResources
{
  public:
    explicit ProductResources(const boost::property_tree::ptree& answer);

    void Init(const boost::property_tree::ptree& answer);
    bool IsValidResources() const { return mValid; }
    const boost::property_tree::ptree& GetProductProperties() const { return mProductProperties; }

    // "/api/resources/soft/<sku>/<platform>/<version>", the SKU unescaped.
    static std::string CreatePath(std::string sku, std::string platform, std::string version);

    // Debugging dump of the product properties to standard output.
    void Show() const;
    void Show(const std::string& key, const boost::property_tree::ptree& tree, int depth) const;

  private:
    bool mValid = false;
    boost::property_tree::ptree mProductProperties;
};

} // namespace UpdateManager
} // namespace Korvane
