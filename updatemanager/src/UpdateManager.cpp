#include "UpdateManager.h"

#include "basictools/CSingleton.h"
#include "basictools/CTiming.h"
#include "basictools/logger/CLog.h"
#include "resources/HttpResourceClient.h"
#include "resources/InstallThread.h"
#include "resources/ProductDescriptionFactory.h"
#include "resources/ProductResources.h"

#include <boost/filesystem/operations.hpp>
#include <boost/property_tree/ptree.hpp>

#include <cstdlib>
#include <exception>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
constexpr const char* kChannel = "update_manager";
constexpr const char* kNotInstalled = "not_installed";
constexpr const char* kPlatform = "mac";
constexpr const char* kLatest = "latest";
// HttpClient's result for a connection that could not be made.
constexpr int kConnectionFailed = 5;

template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog(kChannel, level, parts...);
}

// Statuses in which the installer's URL and file are in use by a download or
// an install and must not be replaced by an information update.
bool KeepsItsFile(UpdateStatus status)
{
    return status == DownloadInProgress || status == DownloadPaused || status == InstallerStart ||
           status == InstallInProgress;
}

bool IsKnownStatus(UpdateStatus status)
{
    return status >= Unknown && status <= Error;
}

int HexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

std::string PercentDecoded(const std::string& text)
{
    std::string decoded;
    for (size_t at = 0; at < text.size(); ++at)
    {
        if (text[at] == '%' && at + 2 < text.size() && HexValue(text[at + 1]) >= 0 &&
            HexValue(text[at + 2]) >= 0)
        {
            decoded += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
            at += 2;
        }
        else
        {
            decoded += text[at];
        }
    }
    return decoded;
}

// The URL comes from the network: a name that is empty, "." or ".." would
// make the Downloads folder itself (or its parent) the installer file, which a
// cancelled download then deletes. Names that only turn into such a thing, or
// into a path, once percent-decoded are refused as well.
bool IsUsableFileName(const std::string& name)
{
    for (const std::string& form : {name, PercentDecoded(name)})
    {
        if (form.empty() || form == "." || form == ".." || form.find('/') != std::string::npos ||
            form.find('\0') != std::string::npos)
            return false;
    }
    return true;
}
} // namespace

UpdateManager::UpdateManager(const std::string& definitionFile, const std::string& server)
    : mScanner(boost::filesystem::path(definitionFile)), mResourceServer(server), mOnlineMode(true)
{
    Log(eLogInfo, " Initialize UpdateManager");
}

UpdateManager::~UpdateManager()
{
    Log(eLogInfo, " Terminate UpdateManager");
    // The install thread holds pointers into the table: it must have run its
    // installers and ended before the products (and their download workers)
    // go with the members.
    CSingleton<InstallThread>::destroyInstance();
}

// --- Information cycle -------------------------------------------------------

void UpdateManager::Create()
{
    Update();
}

void UpdateManager::Create(const std::string& sku, const std::string& localVersion)
{
    Update(ProcessProductInfo(LocalVersions{{sku, localVersion}}));
}

void UpdateManager::Update()
{
    Log(eLogInfo, "Create update manager data");
    LocalVersions localVersions = mScanner.Scan();
    for (const std::string& sku : mAdditionalProducts)
        localVersions.emplace(sku, kNotInstalled);

    const Descriptions descriptions = ProcessProductInfo(localVersions);
    for (auto it = mProducts.begin(); it != mProducts.end();)
    {
        // An installer with the install thread stays until it is given back.
        const bool wanted = descriptions.count(it->first) != 0;
        if (wanted || mInstallsInFlight.count(&it->second.mInstaller) != 0)
            ++it;
        else
            it = mProducts.erase(it);
    }
    Update(descriptions);
}

void UpdateManager::Update(const std::string& sku)
{
    const std::pair<std::string, std::string> found = mScanner.Scan(sku);
    LocalVersions localVersions;
    if (!found.first.empty())
        localVersions.emplace(found.first, found.second);
    else if (mAdditionalProducts.count(sku) != 0)
        localVersions.emplace(sku, kNotInstalled);
    Update(ProcessProductInfo(localVersions));
}

void UpdateManager::Update(Descriptions descriptions)
{
    for (const auto& entry : descriptions)
    {
        const ProductDescription& description = entry.second;
        if (ProductModel* model = Find(description.mSku))
            MergeExisting(*model, description);
        else
            AddNew(description);
    }
    LogData();
    EventSource<ProductListChangedEvent>::Notify(ProductListChangedEvent{});
}

void UpdateManager::MergeExisting(ProductModel& model, const ProductDescription& description)
{
    model.mDescription = description;
    Installer& installer = model.mInstaller;
    if (description.mPermalink != installer.GetDownloadURL() &&
        !KeepsItsFile(installer.GetStatus()))
        installer.SetURLAndFile(description.mPermalink,
                                GetOutputFileFromUrl(description.mPermalink));
    installer.ComputeStatus(description.mLocalVersion, description.mVersion);
    if (installer.GetStatus() == UpdateNeeded && !description.IsOsSupported())
        installer.SetStatus(OsNotSupported);
}

void UpdateManager::AddNew(const ProductDescription& description)
{
    const boost::filesystem::path file = GetOutputFileFromUrl(description.mPermalink);
    ProductModel model(description);
    model.mInstaller = Installer(description.mPermalink, file, Unknown, description.mLocalVersion,
                                 description.mVersion);
    if (model.mInstaller.GetStatus() == UpdateNeeded && !description.IsOsSupported())
        model.mInstaller.SetStatus(OsNotSupported);
    mProducts[description.mSku] = model;
    EventSource<ProductChangedEvent>::Notify(ProductChangedEvent{description.mSku});
}

void UpdateManager::SetAdditionalProducts(const std::set<std::string>& products)
{
    if (&products != &mAdditionalProducts)
        mAdditionalProducts = products;
}

void UpdateManager::SetOnlineMode(bool online)
{
    mOnlineMode = online;
}

UpdateManager::Descriptions UpdateManager::ProcessProductInfo(const LocalVersions& localVersions)
{
    CTiming timing("ProcessProductInfo", true);
    Log(eLogInfo, " Getting descriptions for all products");

    Descriptions result;
    for (const auto& local : localVersions)
    {
        ProductDescription placeholder;
        placeholder.mLocalVersion = local.second;
        placeholder.mSku = local.first;
        result.emplace(local.first, std::move(placeholder));
    }
    if (!mOnlineMode)
        return result;

    HttpResourceClient client;
    for (const auto& local : localVersions)
    {
        const std::string& sku = local.first;
        const std::string url =
            mResourceServer + ProductResources::CreatePath(sku, kPlatform, kLatest);
        boost::property_tree::ptree tree;
        bool answered = false;
        try
        {
            answered = client.Get(url, tree, {});
        }
        catch (const std::exception&)
        {
            // A SKU that makes the URL unparsable: treated like a bad answer.
            answered = false;
        }

        if (answered)
        {
            const ProductResources resources(tree);
            if (!resources.IsValidResources())
            {
                Log(eLogWarning, " Could not get product information for ", sku,
                    ": invalid resource data");
                continue;
            }
            const boost::property_tree::ptree properties = resources.GetProductProperties();
            ProductDescription description;
            ProductDescriptionFactory factory;
            if (factory.Create(sku, local.second, properties, description))
                result[description.mSku] = std::move(description);
            else
                Log(eLogWarning, " Could not get product information for ", sku,
                    ": invalid description data");
        }
        else if (client.GetResult() == kConnectionFailed)
        {
            Log(eLogError, " Could not connect to resources server.");
            break;
        }
        else
        {
            Log(eLogError, " Could not get product information for ", sku,
                ": invalid response (no response or invalid json format");
        }
    }
    return result;
}

void UpdateManager::LogData() const
{
    Log(eLogDebug, "  Local computed data:");
    for (const auto& entry : mProducts)
    {
        const ProductDescription& description = entry.second.mDescription;
        const Installer& installer = entry.second.mInstaller;
        Log(eLogDebug, "Data for ", description.mName, ":", "\n",
            "  URL:            ", description.mPermalink, "\n",
            "  SKU:            ", description.mSku, "\n",
            "  Local version:  ", description.mLocalVersion, "\n",
            "  Latest Version: ", description.mVersion, "\n",
            "  Installer File: ", installer.GetFile(), "\n",
            "  Status:         ", ToString(installer.GetStatus()));
    }
}

boost::filesystem::path UpdateManager::GetOutputFileFromUrl(const std::string& url) const
{
    std::string directory = "~/Downloads/";
    if (const char* home = std::getenv("HOME"))
        directory.replace(0, 1, home);

    const size_t lastSlash = url.rfind('/');
    const std::string name = lastSlash == std::string::npos ? url : url.substr(lastSlash + 1);
    if (!IsUsableFileName(name))
        return boost::filesystem::path();
    return boost::filesystem::path(directory) / name;
}

const ProductModel& UpdateManager::GetProduct(const std::string& sku) const
{
    return mProducts.at(sku);
}

const ProductModel& UpdateManager::Product(int position) const
{
    if (position < 0 || static_cast<uint64_t>(position) >= Count())
        throw std::out_of_range("UpdateManager::Product: position outside the table");
    return std::next(mProducts.begin(), position)->second;
}

uint64_t UpdateManager::Count() const
{
    return mProducts.size();
}

const UpdateManager::ProductTable& UpdateManager::Products() const
{
    return mProducts;
}

ProductModel* UpdateManager::Find(const std::string& sku)
{
    const auto it = mProducts.find(sku);
    return it == mProducts.end() ? nullptr : &it->second;
}

// --- Tick --------------------------------------------------------------------

void UpdateManager::ProcessState()
{
    // Walk by key, not by iterator: listeners run inside the loop and may
    // change the table.
    for (auto it = mProducts.begin(); it != mProducts.end();)
    {
        const std::string sku = it->first;
        ProductModel& model = it->second;
        const std::string name = model.mDescription.mName;
        const UpdateStatus before = model.mInstaller.GetStatus();
        bool skip = false;
        bool announceComplete = false;

        switch (before)
        {
        case DownloadInProgress:
            if (!model.mDownloader ||
                model.mDownloader->mTransferState.load() > DownloaderBackgrounder::TransferFailed)
                skip = true;
            else
                ProcessDownload(sku, model);
            break;
        case DownloadPaused:
        case InstallerAvailable:
            model.mInstaller.ComputeStatus(model.mDescription.mLocalVersion,
                                           model.mDescription.mVersion);
            break;
        case InstallerStart:
            model.mInstaller.SetStatus(InstallInProgress);
            mInstallsInFlight.insert(&model.mInstaller);
            model.mInstaller.StartInstall();
            break;
        case InstallComplete:
            announceComplete = true;
            break;
        case OsNotSupported:
            skip = true;
            break;
        default:
            skip = !IsKnownStatus(before);
            break;
        }

        // The download handling may have fired events: look the product up
        // again before reading it.
        ProductModel* current = skip ? nullptr : Find(sku);
        if (current != nullptr)
        {
            const UpdateStatus after = current->mInstaller.GetStatus();
            if (announceComplete)
                EventSource<ProductChangedEvent>::Notify(ProductChangedEvent{sku});
            else if (after != before)
            {
                Log(eLogInfo, "State for product ", name, sku, " switch from ", ToString(before),
                    " to ", ToString(after));
                EventSource<ProductChangedEvent>::Notify(ProductChangedEvent{sku});
            }
        }
        it = mProducts.upper_bound(sku);
    }
}

void UpdateManager::ProcessDownload(const std::string& sku, ProductModel& model)
{
    DownloaderBackgrounder& downloader = *model.mDownloader;
    switch (downloader.mTransferState.load())
    {
    case DownloaderBackgrounder::TransferIdle:
        break;
    case DownloaderBackgrounder::TransferRunning:
        EventSource<DownloadProgressEvent>::Notify(
            DownloadProgressEvent{sku, downloader.mTransferProgress.load(), false});
        break;
    case DownloaderBackgrounder::TransferStopped:
    case DownloaderBackgrounder::TransferStopped + 1:
        model.mInstaller.SetStatus(DownloadPaused);
        break;
    case DownloaderBackgrounder::TransferComplete:
        try
        {
            model.mInstaller.ConfirmDownload(downloader.mComputedChecksum);
        }
        catch (const std::exception& error)
        {
            // Left unconfirmed: the next status computation sees a partial
            // download, which can be resumed.
            Log(eLogError, " Could not confirm download for ", model.mDescription.mName, " (", sku,
                "): ", error.what());
            boost::system::error_code ignored;
            boost::filesystem::remove(model.mInstaller.GetConfirmFile(), ignored);
            model.mInstaller.SetStatus(DownloadPaused);
            break;
        }
        model.mInstaller.SetStatus(InstallerAvailable);
        EventSource<DownloadProgressEvent>::Notify(DownloadProgressEvent{sku, 100.0, true});
        if (ProductModel* current = Find(sku))
        {
            if (current->mDescription.mPermalink != current->mInstaller.GetDownloadURL())
                Update(sku);
        }
        break;
    case DownloaderBackgrounder::TransferFailed:
        model.mInstaller.SetStatus(DownloadFailed);
        break;
    default:
        break;
    }
}

void UpdateManager::ProcessCompletedInstallers()
{
    InstallThread* installThread = CSingleton<InstallThread>::getInstance();
    if (!installThread->HasOutputCommand())
        return;
    Installer* finished = installThread->PopOutputCommand();
    if (finished == nullptr)
        return;
    mInstallsInFlight.erase(finished);

    const boost::filesystem::path file = finished->GetFile();
    for (auto& entry : mProducts)
    {
        ProductModel& model = entry.second;
        if (model.mInstaller.GetFile() != file)
            continue;
        const std::string sku = entry.first;
        Log(eLogInfo, "Installation of ", model.mDescription.mName, file, " complete with status ",
            ToString(finished->GetStatus()));
        EventSource<ProductChangedEvent>::Notify(ProductChangedEvent{sku});
        Update(sku);
        return;
    }
    Log(eLogError, " Could not find product information for ", file,
        " to process completed installer");
}

// --- Controls ----------------------------------------------------------------

bool UpdateManager::HasUsableFile(const ProductModel& model) const
{
    return !model.mInstaller.GetFile().empty();
}

void UpdateManager::StartDownload(ProductModel& model)
{
    DownloaderBackgrounder::Data job;
    job.mUrl = model.mInstaller.GetDownloadURL();
    job.mDestination = model.mInstaller.GetFile();
    job.mExpectedChecksum = model.mDescription.mChecksum;
    job.mExpectedSize = static_cast<int64_t>(model.mDescription.mSize);
    job.mResumeFrom = model.mInstaller.GetStartingPosition();
    model.mDownloader->StartDownload(job);
    model.mInstaller.SetStatus(DownloadInProgress);
}

void UpdateManager::LaunchDownload()
{
    for (auto& entry : mProducts)
    {
        ProductModel& model = entry.second;
        const UpdateStatus status = model.mInstaller.GetStatus();
        if ((status == UpdateNeeded || status == DownloadPaused) && model.mDownloader &&
            HasUsableFile(model))
            StartDownload(model);
        else if (status == InstallerAvailable)
            model.mInstaller.SetStatus(InstallerStart);
    }
}

bool UpdateManager::LaunchDownload(const std::string& sku, bool force)
{
    ProductModel* model = Find(sku);
    if (model == nullptr)
    {
        Log(eLogError, "Could not find product info for ", sku, " while launching download");
        return false;
    }
    model->mInstaller.ComputeStatus(model->mDescription.mLocalVersion,
                                    model->mDescription.mVersion);
    if (force)
        CancelDownload(sku);

    const UpdateStatus status = model->mInstaller.GetStatus();
    const bool allowed = force || status == UpdateNeeded || status == DownloadPaused;
    if (allowed && HasUsableFile(*model) && model->mDownloader)
    {
        Log(eLogInfo, " Launch download for ", model->mDescription.mName, " (", sku, ")");
        StartDownload(*model);
        return true;
    }
    Log(eLogWarning, " Attempt to launch download for ", model->mDescription.mName, " (", sku,
        ") but status is ", ToString(status));
    return false;
}

bool UpdateManager::CancelDownload(const std::string& sku)
{
    if (!StopDownload(sku, true))
        return false;
    ProductModel& model = *Find(sku);
    try
    {
        // A product without a usable installer file has nothing on disk; its
        // empty path must not turn into a relative ".confirm" here.
        if (HasUsableFile(model))
        {
            boost::filesystem::remove(model.mInstaller.GetFile());
            boost::filesystem::remove(model.mInstaller.GetConfirmFile());
        }
        model.mInstaller.ComputeStatus(model.mDescription.mLocalVersion,
                                       model.mDescription.mVersion);
    }
    catch (const boost::filesystem::filesystem_error&)
    {
        return false;
    }
    return true;
}

bool UpdateManager::StopDownload(const std::string& sku, bool wait)
{
    ProductModel* model = Find(sku);
    if (model == nullptr)
    {
        Log(eLogError, "Could not find product info for ", sku, " while stopping download");
        return false;
    }
    Log(eLogInfo, "Stop download for ", model->mDescription.mName, " (", sku, ")");
    if (model->mDownloader)
        model->mDownloader->StopDownload(wait);
    return true;
}

bool UpdateManager::IsDownloading(const std::string& sku)
{
    const ProductModel* model = Find(sku);
    return model != nullptr && model->mDownloader &&
           model->mDownloader->mTransferState.load() == DownloaderBackgrounder::TransferRunning;
}

bool UpdateManager::LaunchInstall(const std::string& sku, bool silent)
{
    ProductModel* model = Find(sku);
    if (model == nullptr)
    {
        Log(eLogWarning, "Could not find product info for ", sku, " while launching install");
        return false;
    }
    const std::string& name = model->mDescription.mName;
    if (model->mInstaller.GetStatus() != InstallerAvailable)
    {
        Log(eLogWarning, "Attempt to launch installer for ", name, " (", sku,
            ") but installer is not available.");
        return false;
    }
    Log(eLogInfo, "Launch download for ", name, " (", sku, ")");
    model->mInstaller.SetSilent(silent);
    model->mInstaller.SetStatus(InstallerStart);
    return true;
}

} // namespace UpdateManager
} // namespace Korvane
