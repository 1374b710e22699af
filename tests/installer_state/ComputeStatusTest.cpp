#include "resources/Installer.h"

#include "basictools/logger/CLog.h"
#include "support/CapturedStdout.h"
#include "support/TempDirectory.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <optional>
#include <ostream>
#include <string>

namespace fs = boost::filesystem;
using Korvane::Testing::CapturedStdout;
using Korvane::Testing::TempDirectory;
using Korvane::Testing::WriteFile;
using namespace Korvane::UpdateManager;

namespace
{
constexpr int64_t kThreeGiB = 3LL * 1024 * 1024 * 1024;

enum class ConfirmKind
{
    None,      // no confirm file
    Text,      // a confirm file holding `confirmText`
    Directory, // a non-empty directory where the confirm file would be
};

struct StatusCase
{
    const char* name;
    std::string localVersion;
    std::string latestVersion;
    std::optional<int64_t> installerSize; // none: no installer file
    ConfirmKind confirm;
    std::string confirmText;
    UpdateStatus expectedStatus;
    int64_t expectedStartingPosition;
    bool confirmRemains;
    std::string expectedLog; // "" when no update_manager line is expected
    // Name the installer so that its confirm file's name is too long for the
    // file system: testing for the confirm file fails, the installer's works.
    bool confirmNameTooLong = false;
    // Name the installer so that testing for it fails.
    bool installerNameTooLong = false;
};

void PrintTo(const StatusCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string Confirm(const std::string& size)
{
    return "{\n    \"size\": \"" + size + "\",\n    \"checksum\": \"0123\"\n}\n";
}

class ComputeStatusTest : public ::testing::TestWithParam<StatusCase>
{
  protected:
    fs::path InstallerPath(const StatusCase& c) const
    {
        if (c.installerNameTooLong)
            return mDirectory / std::string(300, 'i');
        if (c.confirmNameTooLong)
            return mDirectory / (std::string(250, 'i') + ".dmg");
        return mDirectory / "Setup.dmg";
    }

    void Lay(const StatusCase& c, const Installer& installer)
    {
        if (c.installerSize)
        {
            WriteFile(installer.GetFile(), "");
            fs::resize_file(installer.GetFile(), static_cast<uintmax_t>(*c.installerSize));
        }
        if (c.confirm == ConfirmKind::Text)
            WriteFile(installer.GetConfirmFile(), c.confirmText);
        if (c.confirm == ConfirmKind::Directory)
            WriteFile(installer.GetConfirmFile() / "inside", "x");
    }

    TempDirectory mDirectory;
};

TEST_P(ComputeStatusTest, StatusFollowsVersionsAndFilesOnDisk)
{
    const StatusCase& c = GetParam();
    CapturedStdout capture;
    CSingleton<CLog>::getInstance()->SetChannelLevels({{"update_manager", eLogDebug}});

    Installer installer("http://host/Setup.dmg", InstallerPath(c), Error);
    Lay(c, installer);
    installer.ComputeStatus(c.localVersion, c.latestVersion);

    EXPECT_EQ(installer.GetStatus(), c.expectedStatus);
    EXPECT_EQ(installer.GetStartingPosition(), c.expectedStartingPosition);
    if (c.installerSize && !c.installerNameTooLong)
    {
        ASSERT_TRUE(fs::exists(installer.GetFile())) << "the installer file is never deleted";
        EXPECT_EQ(static_cast<int64_t>(fs::file_size(installer.GetFile())), *c.installerSize);
    }
    if (c.confirm != ConfirmKind::None)
    {
        EXPECT_EQ(fs::exists(installer.GetConfirmFile()), c.confirmRemains);
    }

    CSingleton<CLog>::destroyInstance();
    const std::string log = capture.Release();
    if (c.expectedLog.empty())
    {
        EXPECT_EQ(log.find("update_manager"), std::string::npos) << log;
    }
    else
    {
        EXPECT_NE(log.find(c.expectedLog), std::string::npos) << log;
    }
}

const std::string kOld = "1.2.0";
const std::string kNew = "1.3.0";

INSTANTIATE_TEST_SUITE_P(
    Cases, ComputeStatusTest,
    ::testing::Values(
        StatusCase{"NoInstallerFile", kOld, kNew, std::nullopt, ConfirmKind::None, "", UpdateNeeded,
                   0, false, ""},
        StatusCase{"PartialDownload", kOld, kNew, 1000, ConfirmKind::None, "", DownloadPaused, 1000,
                   false, ""},
        StatusCase{"ConfirmedDownload", kOld, kNew, 1000, ConfirmKind::Text, Confirm("1000"),
                   InstallerAvailable, 0, true, ""},
        StatusCase{"ConfirmedSizeAsJsonNumber", kOld, kNew, 1000, ConfirmKind::Text,
                   "{\"size\": 1000}", InstallerAvailable, 0, true, ""},
        StatusCase{"ConfirmOfAnotherSize", kOld, kNew, 1000, ConfirmKind::Text, Confirm("999"),
                   DownloadPaused, 1000, false, ""},
        StatusCase{"EmptyInstallerNeverConfirmed", kOld, kNew, 0, ConfirmKind::Text, Confirm("0"),
                   DownloadPaused, 0, false, ""},
        StatusCase{"ThreeGiBInstallerConfirmedByExactSize", kOld, kNew, kThreeGiB,
                   ConfirmKind::Text, Confirm("3221225472"), InstallerAvailable, 0, true, ""},
        StatusCase{"ThreeGiBInstallerWithTruncatedSize", kOld, kNew, kThreeGiB, ConfirmKind::Text,
                   Confirm("-1073741824"), DownloadPaused, kThreeGiB, false, ""},
        StatusCase{"ConfirmNotJson", kOld, kNew, 1000, ConfirmKind::Text, "size=1000",
                   DownloadPaused, 1000, false, "Error reading confirm file \""},
        StatusCase{"ConfirmEmpty", kOld, kNew, 1000, ConfirmKind::Text, "", DownloadPaused, 1000,
                   false, "Setup.dmg.confirm\"("},
        StatusCase{"ConfirmWithoutSize", kOld, kNew, 1000, ConfirmKind::Text,
                   "{\"checksum\": \"0123\"}", DownloadPaused, 1000, false, ""},
        StatusCase{"ConfirmSizeNotANumber", kOld, kNew, 1000, ConfirmKind::Text,
                   Confirm("1000 bytes"), DownloadPaused, 1000, false, ""},
        StatusCase{"ConfirmSizeIsAnObject", kOld, kNew, 1000, ConfirmKind::Text,
                   "{\"size\": {\"bytes\": \"1000\"}}", DownloadPaused, 1000, false, ""},
        StatusCase{"ConfirmCannotBeRemoved", kOld, kNew, 1000, ConfirmKind::Directory, "",
                   DownloadPaused, 1000, true, "Failed to remove \""},
        StatusCase{"LatestVersionUnusable", kOld, "1.3.x", 1000, ConfirmKind::Text, Confirm("999"),
                   Unknown, 0, true, ""},
        StatusCase{"LatestVersionEmpty", "", "", std::nullopt, ConfirmKind::None, "", Unknown, 0,
                   false, ""},
        StatusCase{"InstalledIsLatest", kNew, kNew, 1000, ConfirmKind::Text, Confirm("999"),
                   UpToDate, 0, true, ""},
        StatusCase{"InstalledIsNewer", "1.10", "1.9.9", 1000, ConfirmKind::None, "", UpToDate, 0,
                   false, ""},
        StatusCase{"NotInstalled", "not_installed", kNew, 1000, ConfirmKind::None, "",
                   DownloadPaused, 1000, false, ""},
        StatusCase{"InstallerCannotBeTested", kOld, kNew, std::nullopt, ConfirmKind::None, "",
                   UpdateNeeded, 0, false, "Failed to check file existence. (", false, true},
        StatusCase{"ConfirmCannotBeTested", kOld, kNew, 1000, ConfirmKind::None, "", DownloadPaused,
                   1000, false, "Failed to check file existence. (", true}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

TEST(ComputeStatusRunningDownloadTest, OnlyStartingPositionIsReset)
{
    TempDirectory directory;
    WriteFile(directory / "Setup.dmg", std::string(1000, 'x'));
    Installer installer("http://host/Setup.dmg", directory / "Setup.dmg", Error, "1.2", "1.3");
    ASSERT_EQ(installer.GetStatus(), DownloadPaused);
    ASSERT_EQ(installer.GetStartingPosition(), 1000);

    installer.SetStatus(DownloadInProgress);
    installer.ComputeStatus("1.2", "1.3");
    EXPECT_EQ(installer.GetStatus(), DownloadInProgress);
    EXPECT_EQ(installer.GetStartingPosition(), 0);
}

TEST(InstallerTest, DefaultState)
{
    const Installer installer;
    EXPECT_EQ(installer.GetDownloadURL(), "");
    EXPECT_TRUE(installer.GetFile().empty());
    EXPECT_EQ(installer.GetStartingPosition(), 0);
    EXPECT_EQ(installer.GetStatus(), Error);
    EXPECT_EQ(installer.GetProgress(), -1.0);
}

TEST(InstallerTest, ThreeArgumentConstructorComputesWithEmptyVersions)
{
    const Installer installer("http://host/a.dmg", "/nowhere/a.dmg", InstallerStart);
    EXPECT_EQ(installer.GetStatus(), Unknown);
    EXPECT_EQ(installer.GetDownloadURL(), "http://host/a.dmg");
    EXPECT_EQ(installer.GetFile(), fs::path("/nowhere/a.dmg"));
}

TEST(InstallerTest, ConfirmFileIsTheFullNamePlusExtension)
{
    const Installer installer("u", "/d/Setup.tar.gz", Error);
    EXPECT_EQ(installer.GetConfirmFile(), fs::path("/d/Setup.tar.gz.confirm"));
    EXPECT_STREQ(Installer::kConfirmExtension, ".confirm");
}

TEST(InstallerTest, CopiesCarryStatusAndProgress)
{
    Installer installer("u", "/d/a.dmg", Error);
    installer.SetStatus(InstallInProgress);
    installer.SetURLAndFile("v", "/e/b.dmg");
    const Installer copy(installer);
    EXPECT_EQ(copy.GetStatus(), InstallInProgress);
    EXPECT_EQ(copy.GetDownloadURL(), "v");
    EXPECT_EQ(copy.GetFile(), fs::path("/e/b.dmg"));
    EXPECT_EQ(copy.GetProgress(), -1.0);

    Installer assigned;
    assigned = copy;
    EXPECT_EQ(assigned.GetStatus(), InstallInProgress);
    EXPECT_EQ(assigned.GetFile(), fs::path("/e/b.dmg"));
}
} // namespace

// The fuzzing seeds: only the one whose "size" matches confirms the download;
// none of the others may do more than make it a partial download.
TEST(ComputeStatusCorpusTest, SeedsAreJudgedWithoutCrashing)
{
    const fs::path corpus = fs::path(UPDATER_SOURCE_DIR) / "tests/installer_state/corpus";
    size_t seeds = 0;
    for (const auto& entry : fs::directory_iterator(corpus))
    {
        TempDirectory directory;
        WriteFile(directory / "Setup.dmg", "hello world");
        fs::copy_file(entry.path(), directory / "Setup.dmg.confirm");
        Installer installer("u", directory / "Setup.dmg", Error, "1.0", "2.0");
        const bool confirms = entry.path().filename() == "valid.confirm";
        EXPECT_EQ(installer.GetStatus(), confirms ? InstallerAvailable : DownloadPaused)
            << entry.path();
        EXPECT_EQ(installer.GetStartingPosition(), confirms ? 0 : 11) << entry.path();
        EXPECT_EQ(fs::exists(directory / "Setup.dmg.confirm"), confirms) << entry.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 5u);
}

// A confirm file nested deep enough to exhaust the stack of a recursive JSON
// reader is refused like any unreadable one: partial download, file deleted.
TEST(ComputeStatusCorpusTest, DeeplyNestedConfirmFileIsAPartialDownload)
{
    CapturedStdout capture;
    CSingleton<CLog>::getInstance()->SetChannelLevels({{"update_manager", eLogInfo}});
    TempDirectory directory;
    WriteFile(directory / "Setup.dmg", "hello world");
    WriteFile(directory / "Setup.dmg.confirm",
              "{\"size\": " + std::string(200000, '[') + std::string(200000, ']') + "}");
    Installer installer("u", directory / "Setup.dmg", Error, "1.0", "2.0");
    EXPECT_EQ(installer.GetStatus(), DownloadPaused);
    EXPECT_EQ(installer.GetStartingPosition(), 11);
    EXPECT_FALSE(fs::exists(directory / "Setup.dmg.confirm"));
    CSingleton<CLog>::destroyInstance();
    EXPECT_NE(capture.Release().find("Error reading confirm file "), std::string::npos);
}
