#include "ResourceRequestHandler.h"

#include <Poco/DateTimeFormatter.h>
#include <Poco/Exception.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/StreamCopier.h>
#include <Poco/Timestamp.h>
#include <Poco/URI.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem/fstream.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <vector>

namespace Korvane
{
namespace ResourceServer
{
namespace
{
const std::string kResourcePrefix = "/api/resources/soft/";
const std::string kFilesPrefix = "/files/";
constexpr size_t kResourceSegments = 3; // sku, platform, selector

using Poco::Net::HTTPResponse;

void LogRequest(const Poco::Net::HTTPServerRequest& request, int status)
{
    static std::mutex sStderr;
    const std::string line =
        Poco::DateTimeFormatter::format(Poco::Timestamp(), "%Y-%m-%dT%H:%M:%S.%iZ") + " " +
        request.clientAddress().toString() + " " + request.getMethod() + " " + request.getURI() +
        " " + std::to_string(status) + "\n";
    std::lock_guard<std::mutex> lock(sStderr);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::vector<std::string> Segments(const std::string& path)
{
    std::vector<std::string> segments;
    boost::algorithm::split(segments, path, [](char c) { return c == '/'; });
    return segments;
}

// Reads the N of "bytes=N-" into `start`; false for any other form, which
// is then ignored.
bool ParseOpenRange(const std::string& range, uint64_t& start)
{
    const std::string prefix = "bytes=";
    if (!boost::algorithm::starts_with(range, prefix) || range.size() < prefix.size() + 2 ||
        range.back() != '-')
        return false;
    const std::string digits = range.substr(prefix.size(), range.size() - prefix.size() - 1);
    if (digits.size() > 19 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    start = std::stoull(digits);
    return true;
}

bool IsInside(const boost::filesystem::path& candidate, const boost::filesystem::path& root)
{
    auto rootPart = root.begin();
    auto part = candidate.begin();
    for (; rootPart != root.end(); ++rootPart, ++part)
        if (part == candidate.end() || *part != *rootPart)
            return false;
    return true;
}
} // namespace

ResourceRequestHandler::ResourceRequestHandler(const boost::filesystem::path& root) : mRoot(root) {}

void ResourceRequestHandler::handleRequest(Poco::Net::HTTPServerRequest& request,
                                           Poco::Net::HTTPServerResponse& response)
{
    int status = HTTPResponse::HTTP_INTERNAL_SERVER_ERROR;
    try
    {
        status = Answer(request, response);
    }
    catch (const Poco::Exception& error)
    {
        // The client went away while the body was being sent.
        (void)error;
    }
    catch (const std::exception& error)
    {
        (void)error;
    }
    LogRequest(request, status);
}

int ResourceRequestHandler::Answer(Poco::Net::HTTPServerRequest& request,
                                   Poco::Net::HTTPServerResponse& response)
{
    const std::string& method = request.getMethod();
    std::string path;
    try
    {
        path = Poco::URI(request.getURI()).getPath();
    }
    catch (const Poco::SyntaxException&)
    {
        return SendNotFound(response);
    }

    if (method == "GET" && boost::algorithm::starts_with(path, kResourcePrefix))
    {
        const std::vector<std::string> segments = Segments(path.substr(kResourcePrefix.size()));
        if (segments.size() != kResourceSegments)
            return SendNotFound(response);
        const auto file = Resolve(segments[0] + "/" + segments[1] + "/" + segments[2] + ".json");
        return file ? SendResourceAnswer(*file, response) : SendNotFound(response);
    }
    if ((method == "GET" || method == "HEAD") && boost::algorithm::starts_with(path, kFilesPrefix))
    {
        const auto file = Resolve("files/" + path.substr(kFilesPrefix.size()));
        return file ? SendFile(*file, request, response) : SendNotFound(response);
    }
    return SendNotFound(response);
}

std::optional<boost::filesystem::path>
ResourceRequestHandler::Resolve(const std::string& relative) const
{
    boost::filesystem::path candidate = mRoot;
    for (const std::string& segment : Segments(relative))
    {
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find('\0') != std::string::npos)
            return std::nullopt;
        candidate /= segment;
    }
    boost::system::error_code error;
    const boost::filesystem::path real = boost::filesystem::canonical(candidate, error);
    if (error || !IsInside(real, mRoot) || !boost::filesystem::is_regular_file(real, error))
        return std::nullopt;
    return real;
}

int ResourceRequestHandler::SendResourceAnswer(const boost::filesystem::path& file,
                                               Poco::Net::HTTPServerResponse& response)
{
    boost::filesystem::ifstream in(file, std::ios::binary);
    if (!in)
        return SendNotFound(response);
    const uint64_t size = boost::filesystem::file_size(file);
    response.setStatusAndReason(HTTPResponse::HTTP_OK);
    response.setContentType("application/json");
    response.setContentLength64(static_cast<Poco::UInt64>(size));
    Poco::StreamCopier::copyStream64(in, response.send());
    return HTTPResponse::HTTP_OK;
}

int ResourceRequestHandler::SendFile(const boost::filesystem::path& file,
                                     Poco::Net::HTTPServerRequest& request,
                                     Poco::Net::HTTPServerResponse& response)
{
    boost::filesystem::ifstream in(file, std::ios::binary);
    if (!in)
        return SendNotFound(response);
    const uint64_t size = boost::filesystem::file_size(file);
    response.setContentType("application/octet-stream");
    response.set("Accept-Ranges", "bytes");

    uint64_t from = 0;
    const bool ranged = request.has("Range") && ParseOpenRange(request.get("Range"), from);
    if (ranged && from >= size)
    {
        response.setStatusAndReason(HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE);
        response.set("Content-Range", "bytes */" + std::to_string(size));
        response.setContentLength64(0);
        response.send();
        return HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE;
    }
    const auto status = ranged ? HTTPResponse::HTTP_PARTIAL_CONTENT : HTTPResponse::HTTP_OK;
    response.setStatusAndReason(status);
    if (ranged)
        response.set("Content-Range", "bytes " + std::to_string(from) + "-" +
                                          std::to_string(size - 1) + "/" + std::to_string(size));
    response.setContentLength64(static_cast<Poco::UInt64>(size - from));
    std::ostream& body = response.send();
    if (request.getMethod() != "HEAD")
    {
        in.seekg(static_cast<std::streamoff>(from));
        Poco::StreamCopier::copyStream64(in, body);
    }
    return status;
}

int ResourceRequestHandler::SendNotFound(Poco::Net::HTTPServerResponse& response)
{
    static const std::string kBody = "Not Found\n";
    response.setStatusAndReason(HTTPResponse::HTTP_NOT_FOUND);
    response.setContentType("text/plain");
    response.setContentLength64(kBody.size());
    response.send() << kBody;
    return HTTPResponse::HTTP_NOT_FOUND;
}

ResourceRequestHandlerFactory::ResourceRequestHandlerFactory(boost::filesystem::path root)
    : mRoot(std::move(root))
{
}

Poco::Net::HTTPRequestHandler*
ResourceRequestHandlerFactory::createRequestHandler(const Poco::Net::HTTPServerRequest&)
{
    return new ResourceRequestHandler(mRoot);
}

} // namespace ResourceServer
} // namespace Korvane
