// Hostile text where outside input meets the engine: a SKU from the command
// line becomes part of the resource query. Whatever it holds, the query goes
// to the resource server and nowhere else, as one well-formed request (or is
// refused before anything is sent), and nothing crashes.
#include "basictools/logger/CLog.h"
#include "resources/HttpResourceClient.h"
#include "resources/ProductResources.h"
#include "support/LoopbackHttpServer.h"

#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace Korvane::Testing;
using namespace Korvane::UpdateManager;

namespace
{
struct HostileSku
{
    const char* name;
    const char* sku;
};

class HostileSkuQuery : public ::testing::TestWithParam<HostileSku>
{
};

bool HasRawControlOrSpace(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](unsigned char c) { return c <= 0x20 || c == 0x7f; });
}

TEST_P(HostileSkuQuery, ReachesOnlyTheResourceServerOnceWellFormed)
{
    LoopbackHttpServer server([](const RecordedRequest&)
                              { return ScriptedResponse::Status(404, "not found"); });
    const std::string url =
        server.HostAndPort() + ProductResources::CreatePath(GetParam().sku, "mac", "latest");

    HttpResourceClient client;
    boost::property_tree::ptree answer;
    bool refused = false;
    try
    {
        EXPECT_FALSE(client.Get(url, answer, [](double) {}));
    }
    catch (const Poco::Exception&)
    {
        refused = true; // the URL parser refused it: nothing was sent
    }
    CSingleton<CLog>::destroyInstance();

    const auto requests = server.Requests();
    if (refused)
    {
        EXPECT_TRUE(requests.empty());
        return;
    }
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].mMethod, "GET");
    EXPECT_EQ(requests[0].mTarget.rfind("/api/resources/soft/", 0), 0u) << requests[0].mTarget;
    EXPECT_FALSE(HasRawControlOrSpace(requests[0].mTarget)) << requests[0].mTarget;
    EXPECT_EQ(requests[0].Header("Host"), server.HostAndPort());
    EXPECT_EQ(requests[0].Header("X-Injected"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileSkuQuery,
    ::testing::Values(HostileSku{"Slash", "my/product"},
                      HostileSku{"Traversal", "../../../../etc/passwd"},
                      HostileSku{"QueryMark", "product?debug=1&x=../y"},
                      HostileSku{"Fragment", "product#top"}, HostileSku{"Spaces", "my product  2"},
                      HostileSku{"NonAscii", "prod\xc3\xbc"
                                             "ct-\xe2\x82\xac"},
                      HostileSku{"InvalidUtf8", "prod\xff\xfe"},
                      HostileSku{"AtSign", "user@evil.example:80"},
                      HostileSku{"HeaderInjection", "x HTTP/1.1\r\nX-Injected: 1\r\n\r\n"},
                      HostileSku{"PercentEscapes", "%2e%2e%2f%00"}, HostileSku{"Empty", ""}),
    [](const ::testing::TestParamInfo<HostileSku>& info) { return std::string(info.param.name); });

} // namespace
