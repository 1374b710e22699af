#include "resources/HttpResourceClient.h"
#include "resources/ProductDescriptionFactory.h"
#include "resources/ProductResources.h"

#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"
#include "support/LoopbackHttpServer.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include <optional>
#include <sstream>

using boost::property_tree::ptree;
using Korvane::Testing::CapturedStdout;
using Korvane::Testing::LoopbackHttpServer;
using Korvane::Testing::RecordedRequest;
using Korvane::Testing::ScriptedResponse;
using Korvane::UpdateManager::HttpResourceClient;
using Korvane::UpdateManager::HttpResultComplete;
using Korvane::UpdateManager::HttpResultConnectionError;
using Korvane::UpdateManager::HttpResultInterrupted;
using Korvane::UpdateManager::HttpResultNone;
using Korvane::UpdateManager::ProductDescription;
using Korvane::UpdateManager::ProductDescriptionFactory;
using Korvane::UpdateManager::ProductResources;

namespace
{
const std::string kCorpus = UPDATER_SOURCE_DIR "/tests/resources/corpus/";

ptree Json(const std::string& text)
{
    std::istringstream in(text);
    ptree tree;
    boost::property_tree::read_json(in, tree);
    return tree;
}

// Standard output (log lines included) from the construction to Release().
class Output
{
  public:
    explicit Output(const CLog::ChannelLevels& levels)
    {
        CSingleton<CLog>::destroyInstance();
        mCapture.emplace();
        CSingleton<CLog>::getInstance()->SetChannelLevels(levels);
    }
    std::string Release()
    {
        CSingleton<CLog>::destroyInstance();
        return mCapture->Release();
    }

  private:
    std::optional<CapturedStdout> mCapture;
};
} // namespace

TEST(ProductResources, CreatePath)
{
    EXPECT_EQ(ProductResources::CreatePath("myproduct", "mac", "latest"),
              "/api/resources/soft/myproduct/mac/latest");
}

struct EnvelopeCase
{
    const char* name;
    std::string json;
    bool valid;
    std::string logged; // expected log text, empty for none
};

void PrintTo(const EnvelopeCase& c, std::ostream* out)
{
    *out << c.name;
}

class ProductResourcesEnvelope : public ::testing::TestWithParam<EnvelopeCase>
{
};

TEST_P(ProductResourcesEnvelope, Checks)
{
    const EnvelopeCase& c = GetParam();
    const ptree answer = Json(c.json);
    Output output({{"update_manager", eLogDebug}});
    const ProductResources resources(answer);
    const std::string text = output.Release();

    EXPECT_EQ(resources.IsValidResources(), c.valid);
    if (c.valid)
    {
        EXPECT_EQ(resources.GetProductProperties().get<std::string>("name"), "first");
        EXPECT_EQ(text.find("update_manager"), std::string::npos) << text;
    }
    else
    {
        EXPECT_TRUE(resources.GetProductProperties().empty());
        EXPECT_NE(text.find(c.logged), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProductResourcesEnvelope,
    ::testing::Values(
        EnvelopeCase{"OneOfOne", R"({"total": 1, "resources": [{"name": "first"}]})", true, ""},
        EnvelopeCase{"TotalAsString", R"({"total": "1", "resources": [{"name": "first"}]})", true,
                     ""},
        EnvelopeCase{"ObjectMembersCount",
                     R"({"total": 2, "resources": {"a": {"name": "first"}, "b": {}}})", true, ""},
        EnvelopeCase{"MoreThanTotal", R"({"total": 2, "resources": [{"name": "first"}, {}, {}]})",
                     false, "| error  | Invalid resources: got 3 while total indicates 2"},
        EnvelopeCase{"Empty", R"({"total": 0, "resources": []})", false,
                     "| warning | Resource is empty"},
        EnvelopeCase{"FractionalTotal", R"({"total": 1.5, "resources": [{}]})", false,
                     "| error  | Error in resource parsing: conversion of data to type"},
        EnvelopeCase{"NoResources", R"({"total": 1})", false,
                     "| error  | Error in resource parsing: No such node (resources)"},
        EnvelopeCase{"NoTotal", R"({"resources": [{}]})", false,
                     "Error in resource parsing: No such node (total)"},
        EnvelopeCase{"NegativeTotal", R"({"total": -1, "resources": [{}]})", false,
                     "Invalid resources: got 1 while total indicates -1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProductResources, ShowDumpsTheProperties)
{
    const ProductResources resources(
        Json(R"({"total": 1, "resources": [{"name": "n", "links": {"href": "h"}}]})"));
    CapturedStdout capture;
    resources.Show();
    EXPECT_EQ(capture.Release(),
              "+ :  {\n +name : n {\n }\n +links :  {\n  +href : h {\n  }\n }\n}\n");
}

struct FactoryCase
{
    const char* name;
    std::string json;
    bool created;
    std::string printed; // expected on standard output
    std::string productPage;
    uint64_t size;
    std::string productName = "My Product";
};

void PrintTo(const FactoryCase& c, std::ostream* out)
{
    *out << c.name;
}

class ProductDescriptionFactoryCreate : public ::testing::TestWithParam<FactoryCase>
{
};

const std::string kBase = R"("product_sku": "myproduct", "name": "My Product", "version": "2.1",
                             "permalink": "http://h/files/p.dmg")";

TEST_P(ProductDescriptionFactoryCreate, Fills)
{
    const FactoryCase& c = GetParam();
    const ptree resource = Json(c.json);
    ProductDescription product;
    ProductDescriptionFactory factory;
    CapturedStdout capture;
    const bool created = factory.Create("myproduct", "1.0", resource, product);
    const std::string printed = capture.Release();

    EXPECT_EQ(created, c.created);
    EXPECT_EQ(printed, c.printed);
    if (created)
    {
        EXPECT_EQ(product.mSku, "myproduct");
        EXPECT_EQ(product.mLocalVersion, "1.0");
        EXPECT_EQ(product.mName, c.productName);
        EXPECT_EQ(product.mVersion, "2.1");
        EXPECT_EQ(product.mPermalink, "http://h/files/p.dmg");
        EXPECT_EQ(product.mProductPage, c.productPage);
        EXPECT_EQ(product.mSize, c.size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProductDescriptionFactoryCreate,
    ::testing::Values(
        FactoryCase{"OtherSku",
                    R"({"product_sku": "other", "name": "n", "version": "1.0", "permalink": "p",
                        "resources_site_link": "s"})",
                    false, "", "", 0},
        FactoryCase{"NoSku", R"({"name": "n"})", false, "No such node (product_sku)\n", "", 0},
        FactoryCase{"NoName",
                    R"({"product_sku": "myproduct", "version": "1", "permalink": "p",
                        "resources_site_link": "s"})",
                    false, "No such node (name)\n", "", 0},
        FactoryCase{"SiteLinkWhenHrefEmpty",
                    "{" + kBase + R"(, "links": {"product_page": {"href": ""}},
                                      "resources_site_link": "http://site"})",
                    true, "", "http://site", 0},
        FactoryCase{"HrefFirst",
                    "{" + kBase + R"(, "links": {"product_page": {"href": "http://page"}},
                                      "resources_site_link": "http://site"})",
                    true, "", "http://page", 0},
        FactoryCase{"NoProductPage", "{" + kBase + "}", false,
                    "No such node (resources_site_link)\n", "", 0},
        FactoryCase{"SizeNotANumber",
                    "{" + kBase + R"(, "resources_site_link": "s", "size": "12k"})", true, "", "s",
                    0},
        FactoryCase{"SizeNumber", "{" + kBase + R"(, "resources_site_link": "s", "size": 1048576})",
                    true, "", "s", 1048576},
        FactoryCase{"SizeString",
                    "{" + kBase + R"(, "resources_site_link": "s", "size": "1048576"})", true, "",
                    "s", 1048576},
        FactoryCase{"SizeNegative", "{" + kBase + R"(, "resources_site_link": "s", "size": "-5"})",
                    true, "", "s", 0},
        FactoryCase{"NameIsAnObject",
                    R"({"product_sku": "myproduct", "name": {"x": "y"}, "version": "2.1",
                        "permalink": "http://h/files/p.dmg", "resources_site_link": "s"})",
                    true, "", "s", 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProductDescriptionFactory, FillsEveryFieldFromTheCorpusAnswer)
{
    ptree answer;
    boost::property_tree::read_json(kCorpus + "valid.json", answer);
    const ProductResources resources(answer);
    ASSERT_TRUE(resources.IsValidResources());
    ProductDescription product;
    ASSERT_TRUE(ProductDescriptionFactory().Create("myproduct", "not_installed",
                                                   resources.GetProductProperties(), product));
    EXPECT_EQ(product.mName, "My Product");
    EXPECT_EQ(product.mVersion, "2.1.0");
    EXPECT_EQ(product.mProductPage, "http://example.invalid/myproduct");
    EXPECT_EQ(product.mPlatformMinVersion, "10.9");
    EXPECT_EQ(product.mPlatformMaxVersion, "10.15");
    EXPECT_EQ(product.mPlatformDisplayVersion, "macOS 10.9 to 10.15");
    EXPECT_EQ(product.mSize, 1048576u);
    EXPECT_EQ(product.mChecksum, "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(product.mLocalVersion, "not_installed");
}

struct GetCase
{
    const char* name;
    int status;
    std::string corpusFile; // body from the corpus; empty for a short text
    bool got;
    int result;
    std::string logged;
};

void PrintTo(const GetCase& c, std::ostream* out)
{
    *out << c.name;
}

class HttpResourceClientGet : public ::testing::TestWithParam<GetCase>
{
};

TEST_P(HttpResourceClientGet, Answers)
{
    const GetCase& c = GetParam();
    const std::string body = c.corpusFile.empty()
                                 ? std::string("Not Found")
                                 : Korvane::Testing::ReadFile(kCorpus + c.corpusFile);
    LoopbackHttpServer server([&](const RecordedRequest&)
                              { return ScriptedResponse::Status(c.status, body); });
    Output output({{"web", eLogInfo}});
    HttpResourceClient client;
    ptree answer;
    bool progressCalled = false;
    const bool got = client.Get(server.HostAndPort() +
                                    ProductResources::CreatePath("myproduct", "mac", "latest"),
                                answer, [&](double) { progressCalled = true; });
    const std::string text = output.Release();

    EXPECT_EQ(got, c.got);
    EXPECT_EQ(client.GetResult(), c.result);
    EXPECT_FALSE(progressCalled);
    if (c.logged.empty())
    {
        EXPECT_EQ(text.find("| web"), std::string::npos) << text;
    }
    else
    {
        EXPECT_NE(text.find(c.logged), std::string::npos) << text;
    }
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].mTarget, "/api/resources/soft/myproduct/mac/latest");
    EXPECT_EQ(server.Requests()[0].Header("Range"), std::nullopt);
    if (got)
    {
        EXPECT_EQ(answer.get<std::string>("total"), "1");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HttpResourceClientGet,
    ::testing::Values(GetCase{"Valid", 200, "valid.json", true, HttpResultComplete, ""},
                      GetCase{"HtmlPage", 200, "html.json", false, HttpResultComplete,
                              "| error  | Invalid json format Response: "},
                      GetCase{"NotFound", 404, "", false, HttpResultNone, ""},
                      GetCase{"PartialContentIsAccepted", 206, "valid.json", true,
                              HttpResultComplete, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HttpResourceClient, IncompleteBodyIsNoAnswer)
{
    const std::string body = Korvane::Testing::ReadFile(kCorpus + "valid.json");
    LoopbackHttpServer server(
        [&](const RecordedRequest&)
        {
            ScriptedResponse response = ScriptedResponse::Status(200, body);
            response.mCut = ScriptedResponse::Cut::Close;
            response.mCutAfter = body.size() / 2;
            return response;
        });
    HttpResourceClient client;
    ptree answer;
    EXPECT_FALSE(client.Get(server.Url("/api"), answer, nullptr));
    EXPECT_EQ(client.GetResult(), HttpResultInterrupted);
}

TEST(HttpResourceClient, EmptyBodyWithoutLengthIsNotJson)
{
    LoopbackHttpServer server(
        [](const RecordedRequest&)
        {
            ScriptedResponse response = ScriptedResponse::Status(200, "{}");
            response.mAnnounceLength = false;
            return response;
        });
    HttpResourceClient client;
    ptree answer;
    EXPECT_FALSE(client.Get(server.Url("/api"), answer, nullptr));
    EXPECT_EQ(client.GetResult(), HttpResultComplete);
}

TEST(HttpResourceClient, TotalMismatchFromTheCorpusIsInvalid)
{
    const std::string body = Korvane::Testing::ReadFile(kCorpus + "total-mismatch.json");
    LoopbackHttpServer server([&](const RecordedRequest&)
                              { return ScriptedResponse::Status(200, body); });
    HttpResourceClient client;
    ptree answer;
    ASSERT_TRUE(client.Get(server.Url("/api"), answer, nullptr));
    EXPECT_FALSE(ProductResources(answer).IsValidResources());
}

// A recursive JSON reader would run out of stack on these; they are refused.
TEST(HttpResourceClientParse, DeeplyNestedAnswerIsNotJson)
{
    CapturedStdout capture;
    CSingleton<CLog>::getInstance()->SetChannelLevels({{"web", eLogInfo}});
    ptree answer;
    EXPECT_FALSE(HttpResourceClient::ParseAnswer(std::string(300000, '['), answer));
    EXPECT_FALSE(HttpResourceClient::ParseAnswer(
        "{\"total\": 1, \"resources\": [" + std::string(300000, '{') + "]}", answer));
    EXPECT_TRUE(HttpResourceClient::ParseAnswer("{\"a\": [[[[{\"b\": [1]}]]]]}", answer));
    CSingleton<CLog>::destroyInstance();
    EXPECT_NE(capture.Release().find("Invalid json format Response: "), std::string::npos);
}
