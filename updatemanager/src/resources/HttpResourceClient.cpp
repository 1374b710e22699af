#include "resources/HttpResourceClient.h"

#include "basictools/logger/CLog.h"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

namespace Korvane
{
namespace UpdateManager
{

bool HttpResourceClient::Get(const std::string& url, boost::property_tree::ptree& result,
                             std::function<void(double)> progress)
{
    (void)progress;
    std::stringstream body;
    Setup(url);
    if (!HasSetupSucceeded())
        return false;
    while (HasBytesToRead())
        Read(body);
    if (GetResult() != HttpResultComplete)
        return false;
    return ParseAnswer(body.str(), result);
}

bool HttpResourceClient::ParseAnswer(const std::string& body, boost::property_tree::ptree& result)
{
    try
    {
        std::istringstream in(body);
        boost::property_tree::read_json(in, result);
    }
    catch (const boost::property_tree::json_parser_error& error)
    {
        CSingleton<CLog>::getInstance()->buildLog("web", eLogError,
                                                  "Invalid json format Response: ", error.what());
        return false;
    }
    return true;
}

} // namespace UpdateManager
} // namespace Korvane
