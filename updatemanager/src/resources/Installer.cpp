#include "resources/Installer.h"

#include "ProductDescription.h"
#include "basictools/logger/CLog.h"
#include "resources/Check.h"
#include "scanner/JsonCommentStripper.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = boost::filesystem;
namespace pt = boost::property_tree;

namespace Korvane
{
namespace UpdateManager
{
namespace
{
// A confirm file is one flat object.
constexpr size_t kMaxConfirmDepth = 16;

template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog("update_manager", level, parts...);
}

// The "size" member of a confirm file; 0 when the file is unreadable, not
// JSON, or the member is missing or not a number.
int64_t ReadConfirmedSize(const fs::path& confirm)
{
    pt::ptree document;
    try
    {
        std::ifstream in(confirm.string(), std::ios::binary);
        if (!in)
            throw pt::json_parser_error("cannot open file", confirm.string(), 0);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (in.bad())
            throw pt::json_parser_error("read error", confirm.string(), 0);
        // The recursive reader would run out of stack on a deeply nested file.
        if (const size_t line = FindExcessiveNesting(text, kMaxConfirmDepth))
            throw pt::json_parser_error("nesting too deep", confirm.string(), line);
        std::istringstream json(text);
        pt::read_json(json, document);
    }
    // Besides parse errors, a read failure (the confirm path is a directory,
    // an I/O error) escapes the parser as a stream exception.
    catch (const std::exception& error)
    {
        Log(eLogError, "Error reading confirm file ", confirm, "(", error.what(), ")");
    }
    return document.get<int64_t>("size", 0);
}
} // namespace

Installer::Installer() = default;

Installer::Installer(const std::string& url, const fs::path& file, UpdateStatus status)
    : Installer(url, file, status, "", "")
{
}

Installer::Installer(const std::string& url, const fs::path& file, UpdateStatus status,
                     const std::string& localVersion, const std::string& latestVersion)
    : mDownloadUrl(url), mFile(file), mStatus(status)
{
    ComputeStatus(localVersion, latestVersion);
}

Installer::Installer(const Installer& other)
    : mDownloadUrl(other.mDownloadUrl), mFile(other.mFile),
      mStartingPosition(other.mStartingPosition), mStatus(other.mStatus.load()),
      mSilent(other.mSilent), mInstallProgress(other.mInstallProgress.load())
{
}

Installer& Installer::operator=(const Installer& other)
{
    if (this != &other)
    {
        mDownloadUrl = other.mDownloadUrl;
        mFile = other.mFile;
        mStartingPosition = other.mStartingPosition;
        mStatus.store(other.mStatus.load());
        mSilent = other.mSilent;
        mInstallProgress.store(other.mInstallProgress.load());
    }
    return *this;
}

fs::path Installer::GetConfirmFile() const
{
    fs::path confirm = mFile;
    confirm += kConfirmExtension;
    return confirm;
}

void Installer::SetURLAndFile(const std::string& url, const fs::path& file)
{
    mDownloadUrl = url;
    mFile = file;
}

void Installer::ComputeStatus(const std::string& localVersion, const std::string& latestVersion)
{
    mStartingPosition = 0;
    if (mStatus.load() == DownloadInProgress)
        return;

    const uint64_t installed = ProductDescription::StringVersionToInt(localVersion);
    const uint64_t latest = ProductDescription::StringVersionToInt(latestVersion);
    if (latest == 0)
    {
        mStatus.store(Unknown);
        return;
    }
    if (installed >= latest)
    {
        mStatus.store(UpToDate);
        return;
    }

    const fs::path confirm = GetConfirmFile();
    bool fileExists = false;
    bool confirmExists = false;
    try
    {
        fileExists = fs::exists(mFile);
        confirmExists = fs::exists(confirm);
    }
    catch (const fs::filesystem_error& error)
    {
        Log(eLogWarning, "Failed to check file existence. (", error.what(), ")");
    }

    if (!fileExists)
    {
        mStartingPosition = 0;
        mStatus.store(UpdateNeeded);
        return;
    }

    const int64_t size = Check::ComputeSize(mFile);
    if (confirmExists)
    {
        if (size != 0 && ReadConfirmedSize(confirm) == size)
        {
            mStatus.store(InstallerAvailable);
            return;
        }
        try
        {
            fs::remove(confirm);
        }
        catch (const fs::filesystem_error& error)
        {
            Log(eLogError, "Failed to remove ", confirm, "(", error.what(), ")");
        }
    }

    mStartingPosition = size;
    mStatus.store(DownloadPaused);
}

void Installer::ConfirmDownload(const std::string& checksum)
{
    const int64_t size = Check::ComputeSize(mFile);
    pt::ptree document;
    document.put("size", std::to_string(size));
    document.put("checksum", checksum.empty() ? Check::ComputeChecksum(mFile) : checksum);
    pt::write_json(GetConfirmFile().string(), document, std::locale(), true);
}

} // namespace UpdateManager
} // namespace Korvane
