#include "DefaultResourceServer.h"
#include "UpdateManager.h"
#include "support/ScopedEnvironment.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using Korvane::Testing::ScopedEnvironment;
using Korvane::UpdateManager::DefaultResourceServer;
using Korvane::UpdateManager::UpdateManager;

namespace
{
struct OutputFileCase
{
    const char* label;
    const char* url;
    std::optional<std::string> home;
    const char* expected; // empty: no usable installer file
};

class OutputFileTest : public ::testing::TestWithParam<OutputFileCase>
{
};

TEST_P(OutputFileTest, NamesTheFileInTheDownloadsFolder)
{
    const OutputFileCase& param = GetParam();
    ScopedEnvironment home("HOME", param.home);
    UpdateManager manager("", "127.0.0.1:1");
    EXPECT_EQ(manager.GetOutputFileFromUrl(param.url).string(), param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, OutputFileTest,
    ::testing::Values(
        OutputFileCase{"HomeSet", "http://host/dl/Setup.dmg", std::string("/Users/u"),
                       "/Users/u/Downloads/Setup.dmg"},
        OutputFileCase{"HomeUnset", "http://host/dl/Setup.dmg", std::nullopt,
                       "~/Downloads/Setup.dmg"},
        OutputFileCase{"BareName", "Setup.dmg", std::string("/h"), "/h/Downloads/Setup.dmg"},
        OutputFileCase{"EncodedSpaceKept", "http://host/dl/Setup%20v2.dmg", std::string("/h"),
                       "/h/Downloads/Setup%20v2.dmg"},
        OutputFileCase{"QueryLastSegment", "http://host/dl/get?file=a/Setup.dmg", std::string("/h"),
                       "/h/Downloads/Setup.dmg"},
        // Names that would make the folder itself, or its parent, the file.
        OutputFileCase{"TrailingSlash", "http://host/dl/", std::string("/h"), ""},
        OutputFileCase{"Dot", "http://host/dl/.", std::string("/h"), ""},
        OutputFileCase{"DotDot", "http://host/dl/..", std::string("/h"), ""},
        OutputFileCase{"Empty", "", std::string("/h"), ""},
        OutputFileCase{"BareDotDot", "..", std::string("/h"), ""},
        OutputFileCase{"EncodedDotDot", "http://host/dl/%2e%2e", std::string("/h"), ""},
        OutputFileCase{"EncodedDot", "http://host/dl/%2E", std::string("/h"), ""},
        OutputFileCase{"EncodedSlashes", "http://host/dl/..%2F..%2Fetc", std::string("/h"), ""},
        OutputFileCase{"EncodedSlash", "http://host/dl/a%2fb.dmg", std::string("/h"), ""},
        OutputFileCase{"EncodedNul", "http://host/dl/Setup.dmg%00.txt", std::string("/h"), ""}),
    [](const ::testing::TestParamInfo<OutputFileCase>& info)
    { return std::string(info.param.label); });

template <size_t N> std::string WithNul(const char (&text)[N])
{
    return std::string(text, N - 1);
}

TEST(OutputFileNulTest, ANulInTheNameIsRefused)
{
    ScopedEnvironment home("HOME", std::string("/h"));
    UpdateManager manager("", "127.0.0.1:1");
    EXPECT_TRUE(manager.GetOutputFileFromUrl(WithNul("http://h/..\0x")).empty());
    EXPECT_TRUE(manager.GetOutputFileFromUrl(WithNul("http://h/a\0b")).empty());
}

TEST(DefaultResourceServerTest, EnvironmentOverridesTheBuiltInHost)
{
    {
        ScopedEnvironment server("UPDATER_RESOURCE_SERVER", std::string("example.org:81"));
        EXPECT_EQ(DefaultResourceServer(), "example.org:81");
    }
    {
        ScopedEnvironment server("UPDATER_RESOURCE_SERVER", std::nullopt);
        EXPECT_EQ(DefaultResourceServer(), UPDATER_DEFAULT_RESOURCE_SERVER);
    }
    {
        ScopedEnvironment server("UPDATER_RESOURCE_SERVER", std::string(""));
        EXPECT_EQ(DefaultResourceServer(), UPDATER_DEFAULT_RESOURCE_SERVER);
    }
}
} // namespace
