#pragma once

#include "scanner/VersionFinderSet.h"

#include <boost/filesystem/path.hpp>
#include <boost/property_tree/ptree_fwd.hpp>

#include <map>
#include <string>
#include <utility>

namespace Korvane
{
namespace UpdateManager
{

// Finds which version of a product is installed, driven by a JSON definition
// file read once at construction: {"scanner": [{"name", "sku", "rules": [
// {"file": PATH} or {"regkey": [KEY, VALUE(, EXTRA)]} ...]} ...]}, with "//"
// and "/* */" comments allowed. Bad contents are logged on "update_manager",
// never thrown. Not thread-safe: build and scan it on one thread.
class Scanner
{
  public:
    explicit Scanner(boost::filesystem::path definitionPath);
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;
    Scanner(Scanner&&) = default;
    Scanner& operator=(Scanner&&) = default;

    // False when the file is missing, unreadable or not JSON; true otherwise,
    // also without a "scanner" member or with bad product entries.
    bool Load(boost::filesystem::path definitionPath);
    // Appends the finders made from the rule objects of `rules` to the set of
    // `sku`, creating its entry even when no rule is usable.
    void AddProduct(const std::string& sku, const boost::property_tree::ptree& rules);

    bool IsInitialized() const { return mInitialized; }
    bool HasDefinition(const std::string& sku) const;

    // (sku, version) when the product is found, else two empty strings. A
    // bundle whose version cannot be read is found with version "unknown".
    std::pair<std::string, std::string> Scan(const std::string& sku) const;
    // SKU to version of every product found, in SKU order.
    std::map<std::string, std::string> Scan() const;

  private:
    std::map<std::string, VersionFinderSet> mDefinitions;
    bool mInitialized = false;
};

} // namespace UpdateManager
} // namespace Korvane
