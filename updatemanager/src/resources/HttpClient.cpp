#include "resources/HttpClient.h"

#include "basictools/logger/CLog.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPBasicCredentials.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/NumberParser.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>

#include <boost/algorithm/string/predicate.hpp>

#include <algorithm>
#include <exception>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
const char* const kChannel = "web";
const char* const kPasswordMask = "********";
constexpr long kTimeoutSeconds = 10;

template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog(kChannel, level, parts...);
}

// Streams the status line and header fields only when the line is written,
// so the formatting costs nothing while the channel is quiet.
struct ResponseHead
{
    const Poco::Net::HTTPResponse& mResponse;
};

std::ostream& operator<<(std::ostream& out, const ResponseHead& head)
{
    head.mResponse.write(out);
    return out;
}

std::string ExceptionText(const std::exception& error)
{
    if (const auto* poco = dynamic_cast<const Poco::Exception*>(&error))
        return poco->displayText();
    return error.what();
}

// The URI as text with its password masked, fit for the log.
std::string LoggableUri(Poco::URI uri)
{
    const std::string userInfo = uri.getUserInfo();
    const size_t colon = userInfo.find(':');
    if (colon != std::string::npos)
        uri.setUserInfo(userInfo.substr(0, colon + 1) + kPasswordMask);
    return uri.toString();
}
// The caller's URL for the log: unchanged unless it carries a password.
std::string LoggableUrl(const std::string& callerUrl, const Poco::URI& uri, bool schemeAdded)
{
    if (uri.getUserInfo().find(':') == std::string::npos)
        return callerUrl;
    const std::string masked = LoggableUri(uri);
    return schemeAdded ? masked.substr(std::string("http://").size()) : masked;
}
} // namespace

HttpClient::HttpClient()
{
    mSession.setTimeout(Poco::Timespan(kTimeoutSeconds, 0));
    mSession.setKeepAlive(true);
}

HttpClient& HttpClient::StartingAt(int64_t offset)
{
    mStartingAt.store(offset);
    return *this;
}

HttpClient& HttpClient::Setup(const std::string& url)
{
    mResult = HttpResultNone;
    mProgress.store(0.0);
    mBytesRead = 0;
    mRangeIgnored.store(false);
    // A body abandoned half way would still sit on the connection and be
    // taken for the next response head.
    if (mResponseStream != nullptr)
        DropBody();

    const bool schemeAdded = !boost::algorithm::istarts_with(url, "http:/");
    const std::string fullUrl = schemeAdded ? "http://" + url : url;
    const Poco::URI uri(fullUrl);
    Log(eLogDebug, "Request URI: ", LoggableUri(uri));

    try
    {
        UseHostOf(uri.getHost(), uri.getPort());
        const std::string target = uri.getPathAndQuery().empty() ? "/" : uri.getPathAndQuery();
        ReadResponseHead(target, uri.getUserInfo());
    }
    catch (const std::exception& error)
    {
        Log(eLogError, "Error connecting to ", LoggableUrl(url, uri, schemeAdded), ": ",
            ExceptionText(error));
        mSetupSucceeded = false;
        mResponseStream = nullptr;
        ResetConnection();
        mResult = HttpResultConnectionError;
        return *this;
    }
    if (mResult == HttpResultConnectionError)
        return *this;

    UpdateProgress();
    return *this;
}

void HttpClient::UseHostOf(const std::string& host, uint16_t port)
{
    if (mSession.getHost() == host && mSession.getPort() == port)
        return;
    mSession.reset();
    mSession.setHost(host);
    mSession.setPort(port);
}

void HttpClient::ReadResponseHead(const std::string& target, const std::string& userInfo)
{
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, target,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    if (!userInfo.empty())
    {
        const size_t colon = userInfo.find(':');
        const std::string user = userInfo.substr(0, colon);
        const std::string password = colon == std::string::npos ? "" : userInfo.substr(colon + 1);
        Log(eLogDebug, "Authenticate with ", user, ":", kPasswordMask);
        Poco::Net::HTTPBasicCredentials(user, password).authenticate(request);
    }
    const int64_t startingAt = mStartingAt.load();
    if (startingAt > 0)
        request.set("Range", "bytes=" + std::to_string(startingAt) + "-");

    mSession.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& body = mSession.receiveResponse(response);
    mResponseStream = &body;
    if (body.fail() || body.bad())
    {
        mSetupSucceeded = false;
        mResponseStream = nullptr;
        ResetConnection();
        mResult = HttpResultConnectionError;
        return;
    }
    Log(eLogDebug, "Response Header: ", ResponseHead{response});

    mContentLength.store(response.getContentLength64());
    const auto status = response.getStatus();
    mSetupSucceeded = status == Poco::Net::HTTPResponse::HTTP_OK ||
                      status == Poco::Net::HTTPResponse::HTTP_PARTIAL_CONTENT;
    if (status == Poco::Net::HTTPResponse::HTTP_OK && startingAt > 0)
    {
        // The whole resource comes back: the caller restarts its sink at 0.
        mRangeIgnored.store(true);
        mPosition.store(0);
    }
    if (status == Poco::Net::HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE)
        HandleRangeNotSatisfiable(response.get("Content-Range"));
    if (!mSetupSucceeded)
        DropBody();
}

void HttpClient::HandleRangeNotSatisfiable(const std::string& contentRange)
{
    const size_t slash = contentRange.rfind('/');
    if (slash == std::string::npos)
        return;
    Poco::UInt64 fullSize = 0;
    if (!Poco::NumberParser::tryParseUnsigned64(contentRange.substr(slash + 1), fullSize))
    {
        Log(eLogError, "Bad response header: Content-Range: ", contentRange);
        mResult = HttpResultFailed;
        return;
    }
    mContentLength.store(static_cast<int64_t>(fullSize) - mStartingAt.load());
    mSetupSucceeded = mContentLength.load() == 0;
}

bool HttpClient::HasBytesToRead()
{
    if (mResponseStream == nullptr)
        return false;

    const int64_t contentLength = mContentLength.load();
    const bool cutShort = contentLength >= 0 && mBytesRead < contentLength;
    if ((mResponseStream->eof() || mBytesRead >= contentLength) && !cutShort)
    {
        mResult = HttpResultComplete;
        DropBody();
        return false;
    }
    if (mResponseStream->good())
        return true;

    // Broken, or closed by the server before the announced length.
    DropBody();
    mResult = mPosition.load() < TransferStart() + contentLength ? HttpResultInterrupted
                                                                 : HttpResultFailed;
    return false;
}

int64_t HttpClient::Read(std::ostream& sink)
{
    if (mResponseStream == nullptr)
        return 0;
    const int64_t count = FillBuffer();
    if (count > 0)
    {
        sink.write(mBuffer.data(), static_cast<std::streamsize>(count));
        mPosition.store(sink.good() ? static_cast<int64_t>(sink.tellp()) : -1);
        UpdateProgress();
        mBytesRead += count;
    }
    if (mResponseStream->bad())
        ResetConnection();
    return count;
}

int64_t HttpClient::FillBuffer()
{
    // Works on the stream buffer directly: std::istream::read would drop the
    // bytes already taken when the connection breaks part way through a chunk.
    std::streambuf& source = *mResponseStream->rdbuf();
    const std::streamsize capacity = static_cast<std::streamsize>(mBuffer.size());
    std::streamsize count = 0;
    while (count < capacity)
    {
        const std::streamsize buffered = source.in_avail();
        if (buffered > 0)
        {
            count += source.sgetn(mBuffer.data() + count, std::min(buffered, capacity - count));
            continue;
        }
        try
        {
            if (source.sgetc() == std::char_traits<char>::eof())
            {
                mResponseStream->setstate(std::ios::eofbit);
                break;
            }
        }
        catch (const std::exception&)
        {
            mResponseStream->setstate(std::ios::badbit);
            break;
        }
    }
    return static_cast<int64_t>(count);
}

void HttpClient::DropBody()
{
    // Unless the body was read to its end, the connection still carries part
    // of it and cannot serve another request.
    if (mResponseStream != nullptr && !mResponseStream->eof())
        ResetConnection();
    mResponseStream = nullptr;
}

void HttpClient::ResetConnection()
{
    try
    {
        mSession.reset();
    }
    catch (const std::exception&)
    {
        // Closing a socket that already broke has nothing left to report.
    }
}

void HttpClient::UpdateProgress()
{
    const int64_t total = GetTotalLenght();
    mProgress.store(total > 0 ? static_cast<double>(mPosition.load()) / static_cast<double>(total)
                              : 0.0);
}

} // namespace UpdateManager
} // namespace Korvane
