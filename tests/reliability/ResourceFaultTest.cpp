// Faults of the resource server, through the query the update manager makes:
// the answer is fetched, parsed and its envelope checked. Each case ends with
// no product description to act on, within the client's bounds, and without
// a crash.
#include "basictools/logger/CLog.h"
#include "resources/HttpResourceClient.h"
#include "resources/ProductDescriptionFactory.h"
#include "resources/ProductResources.h"
#include "support/CapturedStdout.h"
#include "support/LoopbackHttpServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

using namespace Korvane::Testing;
using namespace Korvane::UpdateManager;
using Cut = ScriptedResponse::Cut;

namespace
{
const char kPath[] = "/api/resources/soft/myproduct/mac/latest";

std::string Resource(const std::string& extra = "")
{
    return R"({"product_sku": "myproduct", "name": "My Product", "version": "2.0.0",)"
           R"( "permalink": "http://127.0.0.1/files/Setup.dmg",)"
           R"( "resources_site_link": "http://127.0.0.1/myproduct")" +
           extra + "}";
}

std::string Answer(const std::string& total, const std::string& resources)
{
    return R"({"total": )" + total + R"(, "resources": [)" + resources + "]}";
}

// What the update manager gets out of one query: whether the answer was
// fetched and parsed, and whether a product description came out of it.
struct Outcome
{
    bool fetched = false;
    int result = -1;
    bool described = false;
};

Outcome Query(const std::string& url)
{
    HttpResourceClient client;
    boost::property_tree::ptree answer;
    Outcome outcome;
    outcome.fetched = client.Get(url, answer, [](double) {});
    outcome.result = client.GetResult();
    if (!outcome.fetched)
        return outcome;
    const ProductResources resources(answer);
    ProductDescription product;
    outcome.described = resources.IsValidResources() &&
                        ProductDescriptionFactory().Create(
                            "myproduct", "1.0.0", resources.GetProductProperties(), product);
    return outcome;
}

struct ResourceCase
{
    const char* name;
    std::function<ScriptedResponse()> answer;
    bool fetched;
    int result;
    const char* logged; // a line the case must log ("" for none)
};

class ResourceFault : public ::testing::TestWithParam<ResourceCase>
{
};

TEST_P(ResourceFault, GivesNoProductDescription)
{
    const ResourceCase& resourceCase = GetParam();
    CapturedStdout capture;
    CSingleton<CLog>::getInstance()->SetChannelLevels(
        {{"web", eLogInfo}, {"update_manager", eLogInfo}});
    // Made once before the server starts, so that making a large answer does
    // not count against the client's time-out.
    resourceCase.answer();
    LoopbackHttpServer server([&resourceCase](const RecordedRequest&)
                              { return resourceCase.answer(); });

    const Outcome outcome = Query(server.Url(kPath));
    EXPECT_EQ(outcome.fetched, resourceCase.fetched);
    EXPECT_EQ(outcome.result, resourceCase.result);
    EXPECT_FALSE(outcome.described);

    CSingleton<CLog>::destroyInstance();
    const std::string log = capture.Release();
    EXPECT_NE(log.find(resourceCase.logged), std::string::npos) << log.substr(0, 2000);
}

ScriptedResponse Json(const std::string& body)
{
    auto response = ScriptedResponse::Status(200, body);
    response.mHeaders.emplace_back("Content-Type", "application/json");
    return response;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ResourceFault,
    ::testing::Values(
        ResourceCase{
            "HtmlPageInsteadOfJson",
            [] { return ScriptedResponse::Status(200, "<html><body>Maintenance</body></html>"); },
            false, HttpResultComplete, "Invalid json format Response: "},
        ResourceCase{"TotalNotMatchingResources", [] { return Json(Answer("2", Resource())); },
                     true, HttpResultComplete, "Invalid resources: got 1 while total indicates 2"},
        ResourceCase{"TotalThatIsNoNumber", [] { return Json(Answer("\"one\"", Resource())); },
                     true, HttpResultComplete, "Error in resource parsing: "},
        ResourceCase{"ServerError", [] { return ScriptedResponse::Status(500, "{}"); }, false,
                     HttpResultNone, ""},
        ResourceCase{"RedirectIsNotFollowed",
                     []
                     {
                         auto response = ScriptedResponse::Status(301);
                         response.mHeaders.emplace_back("Location", "/elsewhere");
                         return response;
                     },
                     false, HttpResultNone, ""},
        ResourceCase{"AnswerCutInTheMiddle",
                     []
                     {
                         auto response = Json(Answer("1", Resource()));
                         response.mCut = Cut::Reset;
                         response.mCutAfter = response.mBody.size() / 2;
                         return response;
                     },
                     false, HttpResultInterrupted, ""},
        ResourceCase{"NoResponseAtAll",
                     []
                     {
                         auto response = ScriptedResponse::Status(200);
                         response.mNoResponse = true;
                         return response;
                     },
                     false, HttpResultConnectionError, "Error connecting to "},
        // A recursive reader would run out of stack long before the end.
        ResourceCase{"DeeplyNestedJson",
                     [] { return Json(std::string(1000000, '[') + std::string(1000000, ']')); },
                     false, HttpResultComplete, "Invalid json format Response: "},
        ResourceCase{"FiftyMegabyteAnswer",
                     []
                     {
                         // Built once: copying it is quick, building it is not.
                         static const ScriptedResponse answer =
                             Json(Answer("1", Resource(R"(, "padding": ")" +
                                                       std::string(50 << 20, 'x') + "\"")));
                         return answer;
                     },
                     false, HttpResultNone, "Resource answer too large"},
        ResourceCase{"ProductOfAnotherSku",
                     []
                     {
                         std::string resource = Resource();
                         resource.replace(resource.find("myproduct"), 9, "otherproduct");
                         return Json(Answer("1", resource));
                     },
                     true, HttpResultComplete, ""}),
    [](const ::testing::TestParamInfo<ResourceCase>& info)
    { return std::string(info.param.name); });

TEST(ResourceAnswer, HealthyAnswerGivesTheProduct)
{
    LoopbackHttpServer server([](const RecordedRequest&) { return Json(Answer("1", Resource())); });
    const Outcome outcome = Query(server.Url(kPath));
    EXPECT_TRUE(outcome.fetched);
    EXPECT_TRUE(outcome.described);
}

// An answer that never ends is not held in memory without bound either.
TEST(ResourceAnswer, AnnouncedHugeAnswerIsRefusedUnread)
{
    LoopbackHttpServer server(
        [](const RecordedRequest&)
        {
            auto response = Json(Answer("1", Resource()));
            response.mAnnouncedLength = int64_t{1} << 40;
            response.mCut = Cut::Close;
            response.mCutAfter = response.mBody.size();
            return response;
        });
    const Outcome outcome = Query(server.Url(kPath));
    EXPECT_FALSE(outcome.fetched);
    EXPECT_FALSE(outcome.described);
}

} // namespace
