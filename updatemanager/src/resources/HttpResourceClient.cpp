#include "resources/HttpResourceClient.h"

#include "basictools/logger/CLog.h"
#include "scanner/JsonCommentStripper.h"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

namespace Korvane
{
namespace UpdateManager
{

namespace
{
bool RefuseLargeAnswer(int64_t size)
{
    CSingleton<CLog>::getInstance()->buildLog("web", eLogError, "Resource answer too large: ", size,
                                              " bytes");
    return false;
}
} // namespace

bool HttpResourceClient::Get(const std::string& url, boost::property_tree::ptree& result,
                             std::function<void(double)> progress)
{
    (void)progress;
    std::stringstream body;
    Setup(url);
    if (!HasSetupSucceeded())
        return false;
    if (GetTotalLenght() > kMaxAnswerSize)
        return RefuseLargeAnswer(GetTotalLenght());
    while (HasBytesToRead())
    {
        Read(body);
        if (body.tellp() > kMaxAnswerSize)
            return RefuseLargeAnswer(body.tellp());
    }
    if (GetResult() != HttpResultComplete)
        return false;
    return ParseAnswer(body.str(), result);
}

bool HttpResourceClient::ParseAnswer(const std::string& body, boost::property_tree::ptree& result)
{
    try
    {
        if (const size_t line = FindExcessiveNesting(body, kMaxAnswerDepth))
            throw boost::property_tree::json_parser_error("nesting too deep", std::string(), line);
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
