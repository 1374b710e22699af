#pragma once

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>

#include <boost/filesystem/path.hpp>

#include <optional>
#include <string>

namespace Korvane
{
namespace ResourceServer
{

// Answers one request from the files under the root directory:
//   GET /api/resources/soft/<sku>/<platform>/<selector>
//       -> <root>/<sku>/<platform>/<selector>.json as application/json
//   GET or HEAD /files/<path> -> <root>/files/<path>, with "Range: bytes=N-"
//       answered by 206, or by 416 when N is at or past the end
// Everything else, and any path leaving the root, is 404. One line per
// request goes to standard error. Runs on the server's worker threads.
class ResourceRequestHandler : public Poco::Net::HTTPRequestHandler
{
  public:
    explicit ResourceRequestHandler(const boost::filesystem::path& root);
    void handleRequest(Poco::Net::HTTPServerRequest& request,
                       Poco::Net::HTTPServerResponse& response) override;

  private:
    int Answer(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
    int SendResourceAnswer(const boost::filesystem::path& file,
                           Poco::Net::HTTPServerResponse& response);
    int SendFile(const boost::filesystem::path& file, Poco::Net::HTTPServerRequest& request,
                 Poco::Net::HTTPServerResponse& response);
    int SendNotFound(Poco::Net::HTTPServerResponse& response);
    // `relative` under the root when it names a regular file inside it.
    std::optional<boost::filesystem::path> Resolve(const std::string& relative) const;

    const boost::filesystem::path& mRoot;
};

class ResourceRequestHandlerFactory : public Poco::Net::HTTPRequestHandlerFactory
{
  public:
    explicit ResourceRequestHandlerFactory(boost::filesystem::path root);
    Poco::Net::HTTPRequestHandler*
    createRequestHandler(const Poco::Net::HTTPServerRequest& request) override;

  private:
    const boost::filesystem::path mRoot;
};

} // namespace ResourceServer
} // namespace Korvane
