#include "IPCClient.h"
#include "IPCCommon.h"

#include "platform/MessageChannel.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace Korvane;
using namespace Korvane::IPC;
using Platform::MessageDictionary;
using Platform::MessageServer;
using Platform::MessageValue;
using Platform::PeerCredentials;

namespace
{
constexpr char kService[] = "TestService";

struct ReceivedRequest
{
    MessageDictionary message;
    bool wantsReply = false;
};

// A real server on the per-user socket of the test service, run on a thread
// of its own. Each request is answered by the current behaviour.
class TestServer
{
  public:
    using Behaviour = std::function<MessageServer::Response(const MessageDictionary&)>;

    explicit TestServer(Behaviour behaviour) : mBehaviour(std::move(behaviour))
    {
        std::string error;
        const std::string path =
            Platform::ServiceSocketPath(std::string(kMacDomainName) + kService, false);
        EXPECT_TRUE(mServer.Listen(path, 0600, error)) << error;
        mThread = std::thread(
            [this]
            {
                mServer.Serve([this](const PeerCredentials&, const MessageDictionary* request,
                                     bool wantsReply) { return Handle(request, wantsReply); });
            });
    }
    ~TestServer()
    {
        Release();
        mServer.Stop();
        mThread.join();
    }

    std::vector<ReceivedRequest> Requests()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        return mRequests;
    }
    bool WaitForRequests(size_t count)
    {
        std::unique_lock<std::mutex> lock(mMutex);
        return mChanged.wait_for(lock, std::chrono::seconds(30),
                                 [&] { return mRequests.size() >= count; });
    }
    // Lets a Hold() behaviour answer.
    void Release()
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mReleased = true;
        mChanged.notify_all();
    }
    MessageServer::Response Hold(MessageServer::Response response)
    {
        std::unique_lock<std::mutex> lock(mMutex);
        mChanged.wait(lock, [&] { return mReleased; });
        return response;
    }

  private:
    MessageServer::Response Handle(const MessageDictionary* request, bool wantsReply)
    {
        if (request == nullptr)
            return {};
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mRequests.push_back({*request, wantsReply});
            mChanged.notify_all();
        }
        return mBehaviour(*request);
    }

    Behaviour mBehaviour;
    MessageServer mServer;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mChanged;
    std::vector<ReceivedRequest> mRequests;
    bool mReleased = false;
};

MessageServer::Response Reply(const std::string& text)
{
    MessageServer::Response response;
    response.action = MessageServer::Response::Action::Reply;
    response.reply.emplace(kPropertyMessage, MessageValue::Data(text));
    return response;
}

MessageServer::Response CloseConnection()
{
    MessageServer::Response response;
    response.action = MessageServer::Response::Action::Close;
    return response;
}

class IPCClientTest : public ::testing::Test
{
  protected:
    Testing::TempDirectory mRuntime;
    Testing::ScopedEnvironment mRuntimeDir{"XDG_RUNTIME_DIR", mRuntime.Path().string()};
};
} // namespace

TEST_F(IPCClientTest, RequestCarriesSourceAndMessageAndReplyOkSucceeds)
{
    TestServer server([](const MessageDictionary&) { return Reply("ok"); });
    IPCClient client("updater", kService, 0, false);
    std::string reply;
    const IPCErrorCode code = client.SyncSendWithReply("run /x 'a b'", reply);
    EXPECT_FALSE(code) << code.GetErrorMessage();
    EXPECT_EQ(reply, "ok");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const MessageDictionary expected = {{kPropertySource, MessageValue::String("updater")},
                                        {kPropertyMessage, MessageValue::Data("run /x 'a b'")}};
    EXPECT_EQ(requests[0].message, expected);
    EXPECT_TRUE(requests[0].wantsReply);
}

TEST_F(IPCClientTest, ReplyWithoutMessageIsSuccessWithEmptyText)
{
    TestServer server(
        [](const MessageDictionary&)
        {
            MessageServer::Response response;
            response.action = MessageServer::Response::Action::Reply;
            response.reply.emplace("other", MessageValue::String("x"));
            return response;
        });
    IPCClient client("updater", kService, 0, false);
    std::string reply = "stale";
    EXPECT_FALSE(client.SyncSendWithReply("hello", reply));
    EXPECT_EQ(reply, "");
}

TEST_F(IPCClientTest, SecondRequestWhileAReplyIsOutstandingIsRefused)
{
    TestServer* serverPointer = nullptr;
    TestServer server([&](const MessageDictionary&) { return serverPointer->Hold(Reply("ok")); });
    serverPointer = &server;
    IPCClient client("updater", kService, 0, false);
    ASSERT_FALSE(client.AsyncSendWithReply("first"));
    ASSERT_TRUE(server.WaitForRequests(1));

    std::string reply = "untouched";
    EXPECT_EQ(client.AsyncSendWithReply("second").GetValue(), eIPCOperationInProgress);
    EXPECT_EQ(client.SyncSendWithReply("third", reply).GetValue(), eIPCOperationInProgress);
    EXPECT_EQ(client.Send("fourth").GetValue(), eIPCOperationInProgress);
    EXPECT_EQ(reply, "untouched");

    server.Release();
    EXPECT_FALSE(client.ReceiveReply(reply));
    EXPECT_EQ(reply, "ok");
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(IPCClientTest, ReceiveWithoutRequestReportsNoMessageSent)
{
    IPCClient client("updater", kService, 0, false);
    std::string reply = "untouched";
    const IPCErrorCode code = client.ReceiveReply(reply);
    EXPECT_EQ(code.GetValue(), eIPCNoMessageSent);
    EXPECT_EQ(code.GetErrorMessage(), "Tried to receive a reply but not message was sent.");
    EXPECT_EQ(reply, "untouched");
}

TEST_F(IPCClientTest, ServerDyingMidRequestFailsThatRequestOnlyAndNextOneWorks)
{
    std::atomic<int> calls{0};
    TestServer server([&](const MessageDictionary&)
                      { return calls++ == 0 ? CloseConnection() : Reply("ok"); });
    IPCClient client("updater", kService, 0, false);
    std::string reply;
    const IPCErrorCode first = client.SyncSendWithReply("run", reply);
    EXPECT_EQ(first.GetValue(), eIPCConnectionFailed);
    EXPECT_EQ(first.GetErrorMessage(), "Connection to server process failed. ");
    EXPECT_FALSE(client.SyncSendWithReply("run", reply));
    EXPECT_EQ(reply, "ok");
}

TEST_F(IPCClientTest, UnreachableServerFailsAndTheNextRequestReconnects)
{
    IPCClient client("updater", kService, 0, false);
    std::string reply;
    EXPECT_EQ(client.SyncSendWithReply("run", reply).GetValue(), eIPCConnectionFailed);
    EXPECT_EQ(client.SyncSendWithReply("run", reply).GetValue(), eIPCConnectionFailed);

    TestServer server([](const MessageDictionary&) { return Reply("ok"); });
    EXPECT_FALSE(client.SyncSendWithReply("run", reply));
    EXPECT_EQ(reply, "ok");
}

TEST_F(IPCClientTest, ReplyNotInTimeFailsAndDropsTheConnection)
{
    TestServer* serverPointer = nullptr;
    std::atomic<int> calls{0};
    TestServer server([&](const MessageDictionary&)
                      { return calls++ == 0 ? serverPointer->Hold(Reply("late")) : Reply("ok"); });
    serverPointer = &server;
    IPCClient client("updater", kService, 500, false);
    std::string reply = "untouched";
    EXPECT_EQ(client.SyncSendWithReply("slow", reply).GetValue(), eIPCConnectionFailed);
    EXPECT_EQ(reply, "untouched");
    server.Release();
    EXPECT_FALSE(client.SyncSendWithReply("fast", reply));
    EXPECT_EQ(reply, "ok");
}

TEST_F(IPCClientTest, MessageWithoutReplyGetsNoAnswerAndDoesNotConfuseTheNextReply)
{
    TestServer server([](const MessageDictionary& request)
                      { return Reply("re: " + request.at(kPropertyMessage).bytes); });
    IPCClient client("updater", kService, 0, false);
    EXPECT_FALSE(client.Send("note"));
    std::string reply;
    EXPECT_FALSE(client.SyncSendWithReply("question", reply));
    EXPECT_EQ(reply, "re: question");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].wantsReply);
}

TEST_F(IPCClientTest, DestroyingAClientWithAnOutstandingReplyReturns)
{
    TestServer* serverPointer = nullptr;
    TestServer server([&](const MessageDictionary&) { return serverPointer->Hold(Reply("ok")); });
    serverPointer = &server;
    {
        IPCClient client("updater", kService, 0, false);
        ASSERT_FALSE(client.AsyncSendWithReply("pending"));
        ASSERT_TRUE(server.WaitForRequests(1));
    }
    server.Release();
}

TEST_F(IPCClientTest, PrivilegedAndPerUserServicesUseDifferentSockets)
{
    const std::string service = std::string(kMacDomainName) + "UpdaterHelper";
    EXPECT_EQ(Platform::ServiceSocketPath(service, false),
              (mRuntime.Path() / "com.Korvane.UpdaterHelper").string());
    EXPECT_NE(Platform::ServiceSocketPath(service, true).find("/var/run/com.Korvane.UpdaterHelper"),
              std::string::npos);
}
