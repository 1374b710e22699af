#include "resources/HttpClient.h"
#include "resources/HttpResourceClient.h"
#include "resources/ProductResources.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>

#include <boost/property_tree/ptree.hpp>

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

extern char** environ;

using Korvane::Testing::TempDirectory;
using Korvane::UpdateManager::HttpClient;
using Korvane::UpdateManager::HttpResourceClient;
using Korvane::UpdateManager::HttpResultComplete;
using Korvane::UpdateManager::HttpResultNone;
using Korvane::UpdateManager::ProductResources;

namespace
{
const std::string kAnswer =
    R"({"total": 1, "resources": [{"product_sku": "myproduct", "version": "2.0"}]})";

std::string Installer(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    return bytes;
}

// resource-server started on a free port over a temp root; stopped with
// SIGTERM and reaped by the destructor.
class ResourceServerProcess
{
  public:
    explicit ResourceServerProcess(const TempDirectory& directory)
        : mErrorLog((directory / "server.log").string())
    {
        int output[2];
        if (pipe(output) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, mErrorLog.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const std::string root = (directory / "root").string();
        const char* argv[] = {RESOURCE_SERVER_PATH, "--root", root.c_str(), "--port", "0", nullptr};
        const int spawned = posix_spawn(&mPid, RESOURCE_SERVER_PATH, &actions, nullptr,
                                        const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(output[1]);
        if (spawned != 0)
        {
            close(output[0]);
            throw std::runtime_error("cannot start resource-server");
        }
        // The first line names the chosen port; reading it waits for the server.
        FILE* stream = fdopen(output[0], "r");
        char line[256] = {};
        if (std::fgets(line, sizeof(line), stream) != nullptr)
            mFirstLine = line;
        std::fclose(stream);
    }

    ~ResourceServerProcess()
    {
        kill(mPid, SIGTERM);
        int status = 0;
        waitpid(mPid, &status, 0);
    }

    const std::string& FirstLine() const { return mFirstLine; }
    std::string HostAndPort() const
    {
        const std::string prefix = "listening on ";
        std::string rest = mFirstLine.substr(prefix.size());
        while (!rest.empty() && (rest.back() == '\n' || rest.back() == '\r'))
            rest.pop_back();
        return rest;
    }
    const std::string& ErrorLogPath() const { return mErrorLog; }

  private:
    std::string mErrorLog;
    pid_t mPid = -1;
    std::string mFirstLine;
};

// One raw request, so the target reaches the server exactly as written.
struct RawAnswer
{
    int status;
    std::string body;
    std::string contentRange;
};

RawAnswer RawGet(const std::string& hostAndPort, const std::string& target,
                 const std::string& range = "")
{
    const size_t colon = hostAndPort.rfind(':');
    Poco::Net::HTTPClientSession session(
        hostAndPort.substr(0, colon),
        static_cast<Poco::UInt16>(std::stoi(hostAndPort.substr(colon + 1))));
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, target,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    if (!range.empty())
        request.set("Range", range);
    session.sendRequest(request);
    Poco::Net::HTTPResponse response;
    std::istream& body = session.receiveResponse(response);
    std::ostringstream text;
    Poco::StreamCopier::copyStream(body, text);
    return {static_cast<int>(response.getStatus()), text.str(), response.get("Content-Range", "")};
}

class ResourceServer : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        Korvane::Testing::WriteFile(mDirectory / "root/myproduct/mac/latest.json", kAnswer);
        Korvane::Testing::WriteFile(mDirectory / "root/files/myproduct.dmg", mInstaller);
        Korvane::Testing::WriteFile(mDirectory / "outside.txt", "secret");
        mServer.emplace(mDirectory);
        ASSERT_EQ(mServer->FirstLine().rfind("listening on 127.0.0.1:", 0), 0u)
            << mServer->FirstLine();
    }

    TempDirectory mDirectory;
    const std::string mInstaller = Installer(20000);
    std::optional<ResourceServerProcess> mServer;
};
} // namespace

TEST_F(ResourceServer, AnswersTheResourceQuery)
{
    HttpResourceClient client;
    boost::property_tree::ptree answer;
    ASSERT_TRUE(client.Get(mServer->HostAndPort() +
                               ProductResources::CreatePath("myproduct", "mac", "latest"),
                           answer, nullptr));
    const ProductResources resources(answer);
    ASSERT_TRUE(resources.IsValidResources());
    EXPECT_EQ(resources.GetProductProperties().get<std::string>("version"), "2.0");

    EXPECT_FALSE(client.Get(mServer->HostAndPort() +
                                ProductResources::CreatePath("unknown", "mac", "latest"),
                            answer, nullptr));
    EXPECT_EQ(client.GetResult(), HttpResultNone);
}

TEST_F(ResourceServer, ServesAWholeFileAndItsRest)
{
    HttpClient client;
    std::ostringstream whole;
    client.Setup(mServer->HostAndPort() + "/files/myproduct.dmg");
    ASSERT_TRUE(client.HasSetupSucceeded());
    while (client.HasBytesToRead())
        client.Read(whole);
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(whole.str(), mInstaller);

    std::ostringstream rest;
    client.StartingAt(12345).Setup(mServer->HostAndPort() + "/files/myproduct.dmg");
    ASSERT_TRUE(client.HasSetupSucceeded());
    EXPECT_FALSE(client.RangeIgnored());
    EXPECT_EQ(client.GetTotalLenght(), 20000);
    while (client.HasBytesToRead())
        client.Read(rest);
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(rest.str(), mInstaller.substr(12345));

    const RawAnswer raw = RawGet(mServer->HostAndPort(), "/files/myproduct.dmg", "bytes=19000-");
    EXPECT_EQ(raw.status, 206);
    EXPECT_EQ(raw.contentRange, "bytes 19000-19999/20000");
}

TEST_F(ResourceServer, RangeAtTheEndIsNotSatisfiable)
{
    const RawAnswer raw = RawGet(mServer->HostAndPort(), "/files/myproduct.dmg", "bytes=20000-");
    EXPECT_EQ(raw.status, 416);
    EXPECT_EQ(raw.contentRange, "bytes */20000");

    HttpClient client;
    client.StartingAt(20000).Setup(mServer->HostAndPort() + "/files/myproduct.dmg");
    EXPECT_TRUE(client.HasSetupSucceeded());
    EXPECT_FALSE(client.HasBytesToRead());
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
    EXPECT_EQ(client.GetTotalLenght(), 20000);
}

TEST_F(ResourceServer, PathsLeavingTheRootAreNotFound)
{
    for (const std::string target :
         {"/files/../outside.txt", "/files/%2e%2e/outside.txt", "/files/%2E%2E%2Foutside.txt",
          "/files/..%2foutside.txt", "/api/resources/soft/../../outside.txt/x/y",
          "/api/resources/soft/%2e%2e/%2e%2e/outside", "/files/", "/nothing", "/files/missing"})
    {
        const RawAnswer raw = RawGet(mServer->HostAndPort(), target);
        EXPECT_EQ(raw.status, 404) << target;
        EXPECT_EQ(raw.body.find("secret"), std::string::npos) << target;
    }
}

TEST_F(ResourceServer, LogsOneTimestampedLinePerRequest)
{
    RawGet(mServer->HostAndPort(), "/files/myproduct.dmg", "bytes=10-");
    RawGet(mServer->HostAndPort(), "/nothing");
    mServer.reset();
    const std::string log = Korvane::Testing::ReadFile(mDirectory / "server.log");
    EXPECT_NE(log.find("Z 127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find(" GET /files/myproduct.dmg 206\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" GET /nothing 404\n"), std::string::npos) << log;
}
