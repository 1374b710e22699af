#include "resources/HttpClient.h"

#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

using Korvane::Testing::CapturedStdout;
using Korvane::Testing::LoopbackHttpServer;
using Korvane::Testing::RecordedRequest;
using Korvane::Testing::ScriptedResponse;
using Korvane::Testing::TempDirectory;
using Korvane::UpdateManager::HttpClient;
using Korvane::UpdateManager::HttpResultComplete;
using Korvane::UpdateManager::HttpResultConnectionError;
using Korvane::UpdateManager::HttpResultFailed;
using Korvane::UpdateManager::HttpResultInterrupted;
using Korvane::UpdateManager::HttpResultNone;

namespace
{
constexpr auto kBound = std::chrono::seconds(20);

// 'a'..'z' repeated, so a misplaced byte shows.
std::string Resource(size_t size)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + i % 26);
    return text;
}

// Reads every chunk into `sink` as the download worker does; returns the chunk sizes.
std::vector<int64_t> ReadAll(HttpClient& client, std::ostream& sink)
{
    std::vector<int64_t> chunks;
    while (client.HasBytesToRead())
        chunks.push_back(client.Read(sink));
    return chunks;
}

// Log lines of channel "web", captured from standard output.
class WebLog
{
  public:
    WebLog()
    {
        CSingleton<CLog>::destroyInstance();
        mCapture.emplace();
        CSingleton<CLog>::getInstance()->SetChannelLevels({{"web", eLogDebug}});
    }
    std::string Release()
    {
        CSingleton<CLog>::destroyInstance();
        return mCapture->Release();
    }

  private:
    std::optional<CapturedStdout> mCapture;
};

LoopbackHttpServer ServingResource(const std::string& contents)
{
    return LoopbackHttpServer([contents](const RecordedRequest& request)
                              { return ScriptedResponse::Resource(contents, request); });
}
} // namespace

TEST(HttpClient, BareHostGetsTheHttpScheme)
{
    LoopbackHttpServer server([](const RecordedRequest&)
                              { return ScriptedResponse::Status(200, "ok"); });
    HttpClient client;
    client.Setup(server.HostAndPort() + "/a/b?c=1");
    EXPECT_TRUE(client.HasSetupSucceeded());
    std::ostringstream sink;
    ReadAll(client, sink);
    EXPECT_EQ(sink.str(), "ok");
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].mMethod, "GET");
    EXPECT_EQ(server.Requests()[0].mTarget, "/a/b?c=1");
}

TEST(HttpClient, CapitalSchemeIsKeptAndEmptyPathIsRoot)
{
    LoopbackHttpServer server([](const RecordedRequest&)
                              { return ScriptedResponse::Status(200, "ok"); });
    HttpClient client;
    client.Setup("HTTP://" + server.HostAndPort());
    EXPECT_TRUE(client.HasSetupSucceeded());
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].mTarget, "/");
}

TEST(HttpClient, RangeHeaderOnlyForAPositiveOffset)
{
    const std::string contents = Resource(1500);
    LoopbackHttpServer server = ServingResource(contents);
    HttpClient client;
    std::ostringstream sink;
    client.Setup(server.Url("/r"));
    ReadAll(client, sink);
    client.StartingAt(500).Setup(server.Url("/r"));
    ReadAll(client, sink);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Range"), std::nullopt);
    EXPECT_EQ(requests[1].Header("Range"), std::optional<std::string>("bytes=500-"));
    // The connection is kept while host and port stay the same.
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

TEST(HttpClient, ResumesWithPartialContent)
{
    const std::string contents = Resource(1500);
    LoopbackHttpServer server = ServingResource(contents);
    TempDirectory directory;
    const auto file = directory / "partial";
    Korvane::Testing::WriteFile(file, contents.substr(0, 500));

    HttpClient client;
    EXPECT_EQ(client.GetProgress(), 0.0);
    client.StartingAt(500).Setup(server.Url("/r"));
    ASSERT_TRUE(client.HasSetupSucceeded());
    EXPECT_EQ(client.GetTotalLenght(), 1500);
    EXPECT_EQ(client.GetProgress(), 0.0);
    EXPECT_FALSE(client.RangeIgnored());
    {
        std::ofstream sink(file.string(), std::ios::binary | std::ios::app);
        ReadAll(client, sink);
    }
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(client.GetPosition(), 1500);
    EXPECT_EQ(client.GetProgress(), 1.0);
    EXPECT_EQ(Korvane::Testing::ReadFile(file), contents);
}

TEST(HttpClient, MovesTheBodyInChunksOfAtMost8192Bytes)
{
    const std::string contents = Resource(20000);
    LoopbackHttpServer server = ServingResource(contents);
    HttpClient client;
    std::ostringstream sink;
    client.Setup(server.Url("/big"));
    const std::vector<int64_t> chunks = ReadAll(client, sink);
    EXPECT_EQ(chunks, (std::vector<int64_t>{8192, 8192, 3616}));
    EXPECT_EQ(sink.str(), contents);
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
}

struct RangeNotSatisfiableCase
{
    const char* name;
    std::string contentRange;
    int64_t offset;
    bool setupSucceeded;
    int result;
    int64_t total;
};

void PrintTo(const RangeNotSatisfiableCase& c, std::ostream* out)
{
    *out << c.name;
}

class HttpClientRangeNotSatisfiable : public ::testing::TestWithParam<RangeNotSatisfiableCase>
{
};

TEST_P(HttpClientRangeNotSatisfiable, Answer)
{
    const RangeNotSatisfiableCase& c = GetParam();
    LoopbackHttpServer server(
        [&c](const RecordedRequest&)
        {
            ScriptedResponse response = ScriptedResponse::Status(416, "<html>no</html>");
            response.mHeaders.emplace_back("Content-Range", c.contentRange);
            return response;
        });
    WebLog log;
    HttpClient client;
    client.StartingAt(c.offset).Setup(server.Url("/r"));
    EXPECT_EQ(client.HasSetupSucceeded(), c.setupSucceeded);
    EXPECT_FALSE(client.HasBytesToRead());
    EXPECT_EQ(client.GetResult(), c.result);
    if (c.setupSucceeded)
    {
        EXPECT_EQ(client.GetTotalLenght(), c.total);
    }
    const std::string output = log.Release();
    const bool errorLogged =
        output.find("Bad response header: Content-Range: " + c.contentRange) != std::string::npos;
    EXPECT_EQ(errorLogged, c.result == HttpResultFailed) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpClientRangeNotSatisfiable,
    ::testing::Values(
        RangeNotSatisfiableCase{"AlreadyComplete", "bytes */1500", 1500, true, HttpResultComplete,
                                1500},
        RangeNotSatisfiableCase{"ShortOfTheEnd", "bytes */1500", 1000, false, HttpResultNone, 0},
        RangeNotSatisfiableCase{"AsteriskTotal", "bytes */*", 1500, false, HttpResultFailed, 0},
        RangeNotSatisfiableCase{"NoSlash", "bytes", 1500, false, HttpResultNone, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, RangeNotSatisfiableLeavesTheConnectionUsable)
{
    const std::string contents = Resource(1500);
    LoopbackHttpServer server = ServingResource(contents);
    HttpClient client;
    std::ostringstream sink;
    client.StartingAt(1500).Setup(server.Url("/r"));
    EXPECT_TRUE(client.HasSetupSucceeded());
    EXPECT_FALSE(client.HasBytesToRead());
    client.StartingAt(0).Setup(server.Url("/r"));
    ReadAll(client, sink);
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(sink.str(), contents);
}

TEST(HttpClient, NotFoundIsNoSetupAndNoResult)
{
    LoopbackHttpServer server([](const RecordedRequest&)
                              { return ScriptedResponse::Status(404, "missing"); });
    WebLog log;
    HttpClient client;
    client.Setup(server.Url("/none"));
    EXPECT_FALSE(client.HasSetupSucceeded());
    EXPECT_FALSE(client.HasBytesToRead());
    EXPECT_EQ(client.GetResult(), HttpResultNone);
    const std::string output = log.Release();
    EXPECT_EQ(output.find("| error"), std::string::npos) << output;
    EXPECT_NE(output.find("Response Header: HTTP/1.1 404"), std::string::npos) << output;
}

TEST(HttpClient, RefusedConnectionIsAConnectionError)
{
    // A bound socket that does not listen refuses connections and keeps the port taken.
    const int blocker = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(bind(blocker, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";

    WebLog log;
    HttpClient client;
    client.Setup(url);
    EXPECT_FALSE(client.HasSetupSucceeded());
    EXPECT_EQ(client.GetResult(), HttpResultConnectionError);
    EXPECT_EQ(client.GetProgress(), 0.0);
    EXPECT_FALSE(client.HasBytesToRead());
    client.Setup(url);
    EXPECT_EQ(client.GetResult(), HttpResultConnectionError);
    client.Setup("user:s3cret@" + url);
    EXPECT_EQ(client.GetResult(), HttpResultConnectionError);
    close(blocker);
    const std::string output = log.Release();
    EXPECT_NE(output.find("Error connecting to " + url + ": "), std::string::npos) << output;
    EXPECT_NE(output.find("Error connecting to user:********@" + url + ": "), std::string::npos)
        << output;
    EXPECT_EQ(output.find("s3cret"), std::string::npos) << output;
}

TEST(HttpClient, NextSetupAfterAConnectionErrorStartsAFreshConnection)
{
    std::atomic<int> calls{0};
    LoopbackHttpServer server(
        [&calls](const RecordedRequest&)
        {
            ScriptedResponse response = ScriptedResponse::Status(200, "ok");
            response.mNoResponse = ++calls == 2;
            return response;
        });
    HttpClient client;
    std::ostringstream sink;
    client.Setup(server.Url("/1"));
    ReadAll(client, sink);
    client.Setup(server.Url("/2"));
    EXPECT_EQ(client.GetResult(), HttpResultConnectionError);
    client.Setup(server.Url("/3"));
    ASSERT_TRUE(client.HasSetupSucceeded());
    ReadAll(client, sink);
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(sink.str(), "okok");
    EXPECT_EQ(server.ConnectionCount(), 2u);
}

TEST(HttpClient, BodyWithoutLengthEndsAtOnce)
{
    LoopbackHttpServer server(
        [](const RecordedRequest&)
        {
            ScriptedResponse response = ScriptedResponse::Status(200, "unannounced");
            response.mAnnounceLength = false;
            return response;
        });
    HttpClient client;
    client.Setup(server.Url("/r"));
    EXPECT_TRUE(client.HasSetupSucceeded());
    EXPECT_FALSE(client.HasBytesToRead());
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
}

struct BreakCase
{
    const char* name;
    ScriptedResponse::Cut cut;
    size_t cutAfter;
    int result;
    int64_t position;
};

void PrintTo(const BreakCase& c, std::ostream* out)
{
    *out << c.name;
}

class HttpClientBrokenBody : public ::testing::TestWithParam<BreakCase>
{
};

TEST_P(HttpClientBrokenBody, ReportsWhereItStopped)
{
    const BreakCase& c = GetParam();
    const std::string contents = Resource(1000);
    LoopbackHttpServer server(
        [&](const RecordedRequest& request)
        {
            ScriptedResponse response = ScriptedResponse::Resource(contents, request);
            response.mCut = c.cut;
            response.mCutAfter = c.cutAfter;
            return response;
        });
    HttpClient client;
    std::ostringstream sink;
    client.Setup(server.Url("/r"));
    ASSERT_TRUE(client.HasSetupSucceeded());
    ReadAll(client, sink);
    EXPECT_EQ(client.GetResult(), c.result);
    EXPECT_EQ(client.GetPosition(), c.position);
    EXPECT_EQ(sink.str(), contents.substr(0, static_cast<size_t>(c.position)));

    // The next transfer resumes on a new connection.
    client.StartingAt(client.GetPosition()).Setup(server.Url("/r"));
    if (c.position < 1000)
    {
        ASSERT_TRUE(client.HasSetupSucceeded());
        EXPECT_EQ(server.Requests().back().Header("Range"),
                  std::optional<std::string>("bytes=" + std::to_string(c.position) + "-"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpClientBrokenBody,
    ::testing::Values(BreakCase{"ResetAfter300", ScriptedResponse::Cut::Reset, 300,
                                HttpResultInterrupted, 300},
                      BreakCase{"OrderlyCloseAfter300", ScriptedResponse::Cut::Close, 300,
                                HttpResultInterrupted, 300},
                      BreakCase{"OrderlyCloseAtTheEnd", ScriptedResponse::Cut::Close, 1000,
                                HttpResultComplete, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, WholeResourceForARangedRequestRestartsAtZero)
{
    const std::string contents = Resource(1000);
    LoopbackHttpServer server(
        [&](const RecordedRequest& request)
        { return ScriptedResponse::Resource(contents, request, /*honourRange=*/false); });
    TempDirectory directory;
    const auto file = directory / "partial";
    Korvane::Testing::WriteFile(file, contents.substr(0, 500));

    HttpClient client;
    client.StartingAt(500).Setup(server.Url("/r"));
    ASSERT_TRUE(client.HasSetupSucceeded());
    EXPECT_TRUE(client.RangeIgnored());
    EXPECT_EQ(client.GetTotalLenght(), 1000);
    EXPECT_EQ(client.GetPosition(), 0);
    EXPECT_EQ(client.GetProgress(), 0.0);
    // As the download worker does: start the file again before the first byte.
    std::ofstream sink(file.string(), std::ios::binary | std::ios::app);
    if (client.RangeIgnored())
    {
        sink.close();
        sink.open(file.string(), std::ios::binary | std::ios::trunc);
    }
    ReadAll(client, sink);
    sink.close();
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(client.GetPosition(), 1000);
    EXPECT_EQ(client.GetProgress(), 1.0);
    EXPECT_EQ(Korvane::Testing::ReadFile(file), contents);

    // A server that honours the range clears the flag again.
    LoopbackHttpServer honouring = ServingResource(contents);
    client.Setup(honouring.Url("/r"));
    EXPECT_FALSE(client.RangeIgnored());
    EXPECT_EQ(client.GetTotalLenght(), 1000);
}

TEST(HttpClient, WholeResourceBrokenAfterARangedRequestCountsFromZero)
{
    const std::string contents = Resource(1000);
    LoopbackHttpServer server(
        [&](const RecordedRequest& request)
        {
            ScriptedResponse response = ScriptedResponse::Resource(contents, request, false);
            response.mCut = ScriptedResponse::Cut::Close;
            response.mCutAfter = 700;
            return response;
        });
    HttpClient client;
    client.StartingAt(500).Setup(server.Url("/r"));
    ASSERT_TRUE(client.RangeIgnored());
    std::ostringstream sink;
    ReadAll(client, sink);
    EXPECT_EQ(client.GetPosition(), 700);
    EXPECT_EQ(client.GetResult(), HttpResultInterrupted);
}

TEST(HttpClient, PasswordStaysOutOfTheLog)
{
    LoopbackHttpServer server([](const RecordedRequest&)
                              { return ScriptedResponse::Status(200, "ok"); });
    WebLog log;
    HttpClient client;
    client.Setup("http://user:s3cret@" + server.HostAndPort() + "/private");
    EXPECT_TRUE(client.HasSetupSucceeded());
    const std::string output = log.Release();
    EXPECT_NE(output.find("Authenticate with user:********"), std::string::npos) << output;
    EXPECT_EQ(output.find("s3cret"), std::string::npos) << output;
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("Authorization"),
              std::optional<std::string>("Basic dXNlcjpzM2NyZXQ="));
}

TEST(HttpClient, AbandonedBodyDoesNotSpoilTheNextResponse)
{
    const std::string contents = Resource(100000);
    LoopbackHttpServer server = ServingResource(contents);
    HttpClient client;
    std::ostringstream first;
    client.Setup(server.Url("/r"));
    ASSERT_TRUE(client.HasBytesToRead());
    client.Read(first);
    client.Setup(server.Url("/r"));
    std::ostringstream second;
    ReadAll(client, second);
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(second.str(), contents);
}

TEST(HttpClient, CountersCanBeReadFromAnotherThread)
{
    const std::string contents = Resource(50000);
    LoopbackHttpServer server(
        [&](const RecordedRequest& request)
        {
            ScriptedResponse response = ScriptedResponse::Resource(contents, request);
            response.mStallAfter = 20000;
            return response;
        });
    HttpClient client;
    std::atomic<bool> done{false};
    std::thread observer(
        [&]
        {
            while (!done)
            {
                const double progress = client.GetProgress();
                EXPECT_GE(progress, 0.0);
                EXPECT_LE(progress, 1.0);
                EXPECT_LE(client.GetPosition(), 50000);
                EXPECT_LE(client.GetTotalLenght(), 50000);
                std::this_thread::yield();
            }
        });
    client.Setup(server.Url("/r"));
    std::ostringstream sink;
    ASSERT_TRUE(client.HasBytesToRead());
    client.Read(sink);
    client.Read(sink);
    EXPECT_TRUE(server.WaitForStall(kBound));
    server.ReleaseStall();
    ReadAll(client, sink);
    done = true;
    observer.join();
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(sink.str(), contents);
}

TEST(HttpClient, ResumesAFileServedFromDisk)
{
    TempDirectory directory;
    const std::string contents = Resource(30000);
    Korvane::Testing::WriteFile(directory / "served.dmg", contents);
    LoopbackHttpServer server(
        [&](const RecordedRequest& request)
        {
            return request.mTarget == "/files/served.dmg"
                       ? ScriptedResponse::File(directory / "served.dmg", request)
                       : ScriptedResponse::Status(404);
        });
    const auto local = directory / "local.dmg";
    Korvane::Testing::WriteFile(local, contents.substr(0, 10000));

    HttpClient client;
    client.StartingAt(10000).Setup(server.Url("/files/served.dmg"));
    ASSERT_TRUE(client.HasSetupSucceeded());
    {
        std::ofstream sink(local.string(), std::ios::binary | std::ios::app);
        ReadAll(client, sink);
    }
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(client.GetPosition(), 30000);
    EXPECT_EQ(Korvane::Testing::ReadFile(local), contents);

    client.StartingAt(0).Setup(server.Url("/files/missing.dmg"));
    EXPECT_FALSE(client.HasSetupSucceeded());
    EXPECT_EQ(client.GetResult(), HttpResultNone);
}
