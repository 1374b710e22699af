#include "resources/Installer.h"

#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>

namespace fs = boost::filesystem;
using Korvane::Testing::ReadFile;
using Korvane::Testing::TempDirectory;
using Korvane::Testing::WriteFile;
using namespace Korvane::UpdateManager;

namespace
{
const std::string kHelloMd5 = "5eb63bbbe01eeed093cb22bb8f5acdc3";

struct ConfirmTest : ::testing::Test
{
    ConfirmTest() { WriteFile(mDirectory / "Setup.dmg", "hello world"); }

    TempDirectory mDirectory;
    Installer mInstaller{"http://host/Setup.dmg", mDirectory / "Setup.dmg", Error};
};

TEST_F(ConfirmTest, EmptyChecksumIsComputed)
{
    mInstaller.ConfirmDownload("");
    EXPECT_EQ(ReadFile(mDirectory / "Setup.dmg.confirm"),
              "{\n    \"size\": \"11\",\n    \"checksum\": \"" + kHelloMd5 + "\"\n}\n");
}

TEST_F(ConfirmTest, GivenChecksumIsWrittenUnchanged)
{
    mInstaller.ConfirmDownload("NOT-Checked");
    EXPECT_EQ(ReadFile(mDirectory / "Setup.dmg.confirm"),
              "{\n    \"size\": \"11\",\n    \"checksum\": \"NOT-Checked\"\n}\n");
}

TEST_F(ConfirmTest, EarlierContentIsReplaced)
{
    WriteFile(mDirectory / "Setup.dmg.confirm", std::string(500, ' ') + "{}");
    mInstaller.ConfirmDownload(kHelloMd5);
    EXPECT_EQ(ReadFile(mDirectory / "Setup.dmg.confirm"),
              "{\n    \"size\": \"11\",\n    \"checksum\": \"" + kHelloMd5 + "\"\n}\n");
}

TEST_F(ConfirmTest, ConfirmedDownloadIsThenAvailable)
{
    mInstaller.ConfirmDownload("");
    mInstaller.ComputeStatus("1.0", "2.0");
    EXPECT_EQ(mInstaller.GetStatus(), InstallerAvailable);
    EXPECT_EQ(mInstaller.GetStartingPosition(), 0);
}

TEST_F(ConfirmTest, UnwritableConfirmFileRaisesTheWriterError)
{
    fs::create_directories(mDirectory / "Setup.dmg.confirm");
    EXPECT_THROW(mInstaller.ConfirmDownload(""), boost::property_tree::json_parser_error);
}
} // namespace
