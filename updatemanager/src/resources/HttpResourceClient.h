#pragma once

#include "resources/HttpClient.h"

#include <boost/property_tree/ptree.hpp>

#include <functional>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// Fetches a JSON answer of the resource server into a property tree.
class HttpResourceClient : public HttpClient
{
  public:
    // True only when the whole body arrived and parsed as JSON into `result`.
    // After false, GetResult() tells a connection failure (5) from the rest.
    // `progress` is accepted for the caller's convenience and never called.
    bool Get(const std::string& url, boost::property_tree::ptree& result,
             std::function<void(double)> progress);

    // Parses a received answer body as JSON into `result`; false (logged on
    // "web") when it is not JSON. Any bytes; never throws.
    static bool ParseAnswer(const std::string& body, boost::property_tree::ptree& result);
};

} // namespace UpdateManager
} // namespace Korvane
