#include "BundleFixture.h"
#include "LogLines.h"
#include "basictools/sharedobject.h"
#include "scanner/FileVersionFinder.h"
#include "scanner/RegKeyVersionFinder.h"
#include "scanner/VersionFinderSet.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

using namespace Korvane::UpdateManager;
using Korvane::SharedObject;
using Korvane::Testing::ChannelCapture;
using Korvane::Testing::InfoPlist;
using Korvane::Testing::ScopedEnvironment;
using Korvane::Testing::TempDirectory;
using Korvane::Testing::WriteBundle;
using Korvane::Testing::WriteFile;

namespace
{
const char kUntouched[] = "untouched";
} // namespace

TEST(BundleVersionTest, NormalisesTheBundleVersion)
{
    struct Case
    {
        std::string value;
        bool result;
        std::string version;
    };
    const Case cases[] = {
        {"1.2.3", true, "1.2.3"},
        {"01.002.3", true, "1.2.3"},
        {"1.2.3.4567", true, "1.2.3.4567"},
        {"1.2.3.4.5", true, "1.2.3.4"},
        {"1..2.3", true, "1.2.3"},
        {".1.2.3.", true, "1.2.3"},
        {"1.2.3b7", true, "1.2.3"},
        {" 1. +2.3", true, "1.2.3"},
        {"1.2", false, kUntouched},
        {"", false, kUntouched},
        {"...", false, kUntouched},
        {"a.2.3", false, kUntouched},
        {"1.2.x", false, kUntouched},
        {"1.2.3.x", false, "1.2.3"},
        {"1.2.99999999999999999999999", false, kUntouched},
        // 29 bytes fit the buffer, 30 do not.
        {"0001.0002.0003.00000000000004", true, "1.2.3.4"},
        {"0001.0002.0003.000000000000004", false, kUntouched},
        {std::string(64, '1'), false, kUntouched},
    };
    TempDirectory directory;
    int index = 0;
    for (const Case& c : cases)
    {
        const auto bundle = directory / ("Product" + std::to_string(index++) + ".app");
        WriteBundle(bundle, InfoPlist(c.value));
        std::string version = kUntouched;
        EXPECT_EQ(SharedObject::GetBundleVersionMac(bundle.string(), version), c.result)
            << "'" << c.value << "'";
        EXPECT_EQ(version, c.version) << "'" << c.value << "'";
    }
}

TEST(BundleVersionTest, UnreadableInformationListFails)
{
    const char kValueNotString[] = "<plist version=\"1.0\"><dict><key>CFBundleVersion</key>"
                                   "<integer>3</integer></dict></plist>";
    const char kKeyMissing[] = "<plist version=\"1.0\"><dict><key>CFBundleShortVersionString</key>"
                               "<string>1.2.3</string></dict></plist>";
    const char kKeyOnlyNested[] = "<plist version=\"1.0\"><dict><key>Inner</key><dict>"
                                  "<key>CFBundleVersion</key><string>1.2.3</string>"
                                  "</dict></dict></plist>";
    const char kKeyLast[] =
        "<plist version=\"1.0\"><dict><key>CFBundleVersion</key></dict></plist>";
    const char kNotXml[] = "bplist00\x01\x02 binary";
    const char kTruncated[] = "<plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>1.2";
    const char kNoPlistRoot[] = "<dict><key>CFBundleVersion</key><string>1.2.3</string></dict>";

    TempDirectory directory;
    int index = 0;
    for (const char* plist : {kValueNotString, kKeyMissing, kKeyOnlyNested, kKeyLast, kNotXml,
                              kTruncated, kNoPlistRoot})
    {
        const auto bundle = directory / ("Bad" + std::to_string(index++) + ".app");
        WriteBundle(bundle, plist);
        std::string version = kUntouched;
        EXPECT_FALSE(SharedObject::GetBundleVersionMac(bundle.string(), version)) << plist;
        EXPECT_EQ(version, kUntouched) << plist;
    }

    // A bundle without an information list, a missing path, a plain file.
    boost::filesystem::create_directories(directory / "Empty.app");
    WriteFile(directory / "file.app", InfoPlist("1.2.3"));
    for (const auto& path : {directory / "Empty.app", directory / "Missing.app",
                             directory / "file.app", boost::filesystem::path()})
    {
        std::string version = kUntouched;
        EXPECT_FALSE(SharedObject::GetBundleVersionMac(path.string(), version)) << path;
        EXPECT_EQ(version, kUntouched) << path;
    }
}

TEST(FileVersionFinderTest, FoundBundleLogsItsVersion)
{
    TempDirectory directory;
    const auto bundle = directory / "My Product.app";
    WriteBundle(bundle, InfoPlist("4.5.6.7"));

    ChannelCapture log("update_manager");
    const FileVersionFinder finder(bundle.string());
    std::string version;
    bool found = false;
    EXPECT_TRUE(finder.Get(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "4.5.6.7");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"debug: FileVersion: Found version 4.5.6.7 "
                                                    "for item " +
                                                    bundle.string()});
}

TEST(FileVersionFinderTest, BundleWithoutVersionIsFoundWithoutVersion)
{
    TempDirectory directory;
    boost::filesystem::create_directories(directory / "NoPlist.app");
    const FileVersionFinder finder((directory / "NoPlist.app").string());
    std::string version = kUntouched;
    bool found = false;
    EXPECT_FALSE(finder.Get(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, kUntouched);
}

TEST(FileVersionFinderTest, MissingPathIsNotFound)
{
    TempDirectory directory;
    for (const std::string& path : {(directory / "Missing.app").string(),
                                    (directory / "f" / "x" / "y.app").string(), std::string()})
    {
        const FileVersionFinder finder(path);
        std::string version = kUntouched;
        bool found = true;
        EXPECT_FALSE(finder.Get(version, found)) << path;
        EXPECT_FALSE(found) << path;
        EXPECT_EQ(version, kUntouched) << path;
    }
}

TEST(FileVersionFinderTest, UserMarkerFollowsHome)
{
    TempDirectory directory;
    WriteBundle(directory / "Applications" / "A.app", InfoPlist("2.0.1"));
    {
        ScopedEnvironment home("HOME", directory.Path().string());
        const FileVersionFinder finder("<user>Applications/A.app");
        EXPECT_EQ(finder.Path(), directory.Path().string() + "/Applications/A.app");
        std::string version;
        bool found = false;
        EXPECT_TRUE(finder.Get(version, found));
        EXPECT_EQ(version, "2.0.1");
    }
    {
        ScopedEnvironment home("HOME", std::nullopt);
        const FileVersionFinder finder("<user>Applications/A.app");
        EXPECT_EQ(finder.Path(), "~/Applications/A.app");
        std::string version;
        bool found = true;
        EXPECT_FALSE(finder.Get(version, found));
        EXPECT_FALSE(found);
    }
}

TEST(RegKeyVersionFinderTest, SplitsTheKeyAndNeverFinds)
{
    const RegKeyVersionFinder backslash(L"HKLM\\Software\\Korvane\\Product", L"Version", L"");
    EXPECT_EQ(backslash.KeyPath(), L"HKLM\\Software\\Korvane");
    EXPECT_EQ(backslash.KeyName(), L"Product");
    EXPECT_EQ(backslash.ValueName(), L"Version");
    EXPECT_EQ(backslash.Extra(), L"");

    const RegKeyVersionFinder slash(L"a\\b/c", L"v", L"x");
    EXPECT_EQ(slash.KeyPath(), L"a\\b");
    EXPECT_EQ(slash.KeyName(), L"c");
    EXPECT_EQ(slash.Extra(), L"x");

    const RegKeyVersionFinder plain(L"Product", L"v", L"");
    EXPECT_EQ(plain.KeyPath(), L"Product");
    EXPECT_EQ(plain.KeyName(), L"Product");

    std::string version = kUntouched;
    bool found = true;
    EXPECT_FALSE(backslash.Get(version, found));
    EXPECT_FALSE(found);
    EXPECT_EQ(version, kUntouched);
}

TEST(VersionFinderSetTest, FirstFinderMissesSecondFinds)
{
    TempDirectory directory;
    WriteBundle(directory / "Second.app", InfoPlist("2.0.1"));
    WriteBundle(directory / "Third.app", InfoPlist("3.0.0"));
    VersionFinderSet set;
    set.Add(std::make_unique<FileVersionFinder>((directory / "Missing.app").string()));
    set.Add(std::make_unique<FileVersionFinder>((directory / "Second.app").string()));
    set.Add(std::make_unique<FileVersionFinder>((directory / "Third.app").string()));

    std::string version;
    bool found = false;
    EXPECT_TRUE(set.Get(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "2.0.1");
}

TEST(VersionFinderSetTest, EmptySetLogsAndReportsUnknown)
{
    ChannelCapture log("update_manager");
    const VersionFinderSet set;
    std::string version = kUntouched;
    bool found = true;
    EXPECT_FALSE(set.Get(version, found));
    EXPECT_FALSE(found);
    EXPECT_EQ(version, "unknown");
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{"debug: VersionFinderSet: Didn't find any version number."});
}

TEST(VersionFinderSetTest, RegKeyOnlySetFindsNothing)
{
    VersionFinderSet set;
    set.Add(std::make_unique<RegKeyVersionFinder>(L"HKLM\\Software\\P", L"Version", L""));
    std::string version = kUntouched;
    bool found = true;
    EXPECT_FALSE(set.Get(version, found));
    EXPECT_FALSE(found);
    EXPECT_EQ(version, "unknown");
}

TEST(VersionFinderSetTest, UnreadableBundleIsFoundAsUnknownAndBadFourthPartKeepsThreeParts)
{
    TempDirectory directory;
    boost::filesystem::create_directories(directory / "NoPlist.app");
    WriteBundle(directory / "Odd.app", InfoPlist("1.2.3.x"));

    VersionFinderSet unreadable;
    unreadable.Add(std::make_unique<FileVersionFinder>((directory / "NoPlist.app").string()));
    std::string version;
    bool found = false;
    EXPECT_FALSE(unreadable.Get(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "unknown");

    VersionFinderSet odd;
    odd.Add(std::make_unique<FileVersionFinder>((directory / "Odd.app").string()));
    EXPECT_FALSE(odd.Get(version, found));
    EXPECT_TRUE(found);
    EXPECT_EQ(version, "1.2.3");
}

// The recursive XML reader must never see a deeply nested list: it would run
// out of stack. A list nested a little deeper than any real one still reads.
TEST(BundleVersionTest, DeeplyNestedInformationListFailsWithoutCrashing)
{
    TempDirectory directory;
    std::string deep;
    for (int level = 0; level < 200000; ++level)
        deep += "<a>";
    WriteBundle(directory / "Deep.app", "<plist version=\"1.0\"><dict>" + deep);
    std::string version = kUntouched;
    EXPECT_FALSE(SharedObject::GetBundleVersionMac((directory / "Deep.app").string(), version));
    EXPECT_EQ(version, kUntouched);

    std::string nested = "<key>Nested</key>";
    for (int level = 0; level < 50; ++level)
        nested = "<dict><key>Inner</key><dict/>" + nested + "<x/></dict>";
    WriteBundle(directory / "Nested.app",
                "<plist version=\"1.0\"><dict>" + nested +
                    "<key>CFBundleVersion</key><string>1.2.3</string></dict></plist>");
    EXPECT_TRUE(SharedObject::GetBundleVersionMac((directory / "Nested.app").string(), version));
    EXPECT_EQ(version, "1.2.3");
}
