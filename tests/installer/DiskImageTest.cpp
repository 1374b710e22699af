#include "InstallerTestSupport.h"

#include "resources/Installer.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

using namespace Korvane::Testing;
using Korvane::UpdateManager::Installer;
namespace fs = boost::filesystem;

namespace
{
fs::path Root()
{
    return PlatformRootEnvironment::Root();
}
} // namespace

TEST(DiskImageTest, FindAvailableVolumeTakesTheFirstFreeNumberedName)
{
    const fs::path base = fs::path(Volumes()) / "free";
    EXPECT_EQ(Installer::FindAvailableVolume(base), base);
    fs::create_directories(base);
    EXPECT_EQ(Installer::FindAvailableVolume(base).string(), base.string() + "-1");
    fs::create_directories(base.string() + "-1");
    EXPECT_EQ(Installer::FindAvailableVolume(base).string(), base.string() + "-2");
    fs::remove(base);
    EXPECT_EQ(Installer::FindAvailableVolume(base), base);
    fs::remove(base.string() + "-1");
}

TEST(DiskImageTest, ExistingMountPointIsRefusedWithoutRunningTheTool)
{
    const fs::path image = Root() / "refused.dmg";
    ASSERT_TRUE(MakeArchive(image, {{"A.pkg", "a"}}));
    const fs::path mountPoint = fs::path(Volumes()) / "taken";
    fs::create_directories(mountPoint);
    bool mounted = true;
    const std::string log =
        CaptureLog([&] { mounted = Installer::MountVolume(image, mountPoint); });
    EXPECT_FALSE(mounted);
    EXPECT_NE(log.find("The target directory \"" + mountPoint.string() + "\" already exists "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Returned "), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(mountPoint / "A.pkg"));
    fs::remove(mountPoint);
}

TEST(DiskImageTest, DirectoryOrMissingFileIsNotAnImage)
{
    const fs::path directory = Root() / "folder.dmg";
    fs::create_directories(directory);
    const fs::path mountPoint = fs::path(Volumes()) / "never";
    for (const fs::path& image : {directory, Root() / "missing.dmg"})
    {
        bool mounted = true;
        const std::string log =
            CaptureLog([&] { mounted = Installer::MountVolume(image, mountPoint); });
        EXPECT_FALSE(mounted);
        EXPECT_NE(log.find("\"" + image.string() + "\" is not a valid file and cannot be mounted"),
                  std::string::npos)
            << log;
        EXPECT_FALSE(fs::exists(mountPoint));
    }
}

TEST(DiskImageTest, BadImageFailsToMountAndLeavesNoMountPoint)
{
    const fs::path image = Root() / "broken.dmg";
    WriteFile(image, "this is no archive");
    const fs::path mountPoint = fs::path(Volumes()) / "broken";
    bool mounted = true;
    const std::string log =
        CaptureLog([&] { mounted = Installer::MountVolume(image, mountPoint); });
    EXPECT_FALSE(mounted);
    EXPECT_NE(log.find("Failed to mount \"" + mountPoint.string() + "\" (returned 1)"),
              std::string::npos)
        << log;
    EXPECT_FALSE(fs::exists(mountPoint));
}

TEST(DiskImageTest, FindsThePackageAmongOtherFilesOnly)
{
    struct Case
    {
        std::map<std::string, std::string> files;
        std::string expected;
    };
    const Case cases[] = {
        {{{"Readme.txt", "r"}, {"Product.pkg", "p"}}, "Product.pkg"},
        {{{"Readme.txt", "r"}, {"Product.PKG", "p"}}, ""},
        {{{"Bundle.pkg/", ""}, {"Bundle.pkg/Contents", "c"}}, ""},
        {{{"pkg", "no dot"}, {"archive.pkg.zip", "z"}}, ""},
    };
    Installer installer;
    for (const Case& testCase : cases)
    {
        TempDirectory directory;
        for (const auto& [name, contents] : testCase.files)
        {
            if (name.back() == '/')
                fs::create_directories(directory / name);
            else
                WriteFile(directory / name, contents);
        }
        const std::string expected =
            testCase.expected.empty() ? "" : (directory / testCase.expected).string();
        EXPECT_EQ(installer.FindFileWithExtension(directory.Path(), "pkg"), expected);
    }
    std::string found = "x";
    const std::string log = CaptureLog(
        [&] { found = installer.FindFileWithExtension(Root() / "no such directory", "pkg"); });
    EXPECT_EQ(found, "");
    EXPECT_EQ(log.find("extension"), std::string::npos) << log;
}

TEST(DiskImageTest, PathsWithSpacesAndShellCharactersMountAndUnmount)
{
    const fs::path image = Root() / "my dl's" / "Setup $(touch x); `id` \"q\".dmg";
    ASSERT_TRUE(MakeArchive(image, {{"Product.pkg", "package"}}));
    const fs::path mountPoint = fs::path(Volumes()) / "vol 'a' $HOME;b";
    ASSERT_TRUE(Installer::MountVolume(image, mountPoint));
    EXPECT_EQ(ReadFile(mountPoint / "Product.pkg"), "package");
    Installer installer;
    EXPECT_EQ(installer.FindFileWithExtension(mountPoint, "pkg"),
              (mountPoint / "Product.pkg").string());
    const std::string log = CaptureLog([&] { Installer::UnmountVolume(mountPoint); });
    EXPECT_FALSE(fs::exists(mountPoint));
    EXPECT_NE(log.find(" unmounted succesfully"), std::string::npos) << log;
    EXPECT_FALSE(fs::exists(fs::current_path() / "x"));
}

TEST(DiskImageTest, UnmountingAMissingMountPointRunsNothing)
{
    const fs::path mountPoint = fs::path(Volumes()) / "gone";
    const std::string log = CaptureLog([&] { Installer::UnmountVolume(mountPoint); });
    EXPECT_NE(log.find("Cannot unmount \"" + mountPoint.string() +
                       "\" because the directory does not exist"),
              std::string::npos)
        << log;
}
