#include "resources/Downloader.h"

#include "basictools/logger/CLog.h"
#include "resources/Check.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <boost/algorithm/string/predicate.hpp>
#include <boost/filesystem/operations.hpp>

#include <algorithm>
#include <fstream>

namespace fs = boost::filesystem;

namespace Korvane
{
namespace UpdateManager
{
namespace
{
template <typename... Parts> void Log(ELogLevel level, const Parts&... parts)
{
    CSingleton<CLog>::getInstance()->buildLog("download", level, parts...);
}

void DiscardStopRequests(SharedQueue<int>& requests)
{
    int request = 0;
    while (requests.TryPop(request))
    {
    }
}
} // namespace

DownloaderBackgrounder::DownloaderBackgrounder(const std::string& name)
{
    // Started last, so that the thread never sees a member under construction.
    mActive = ActiveDownloader::createActive(name);
}

DownloaderBackgrounder::~DownloaderBackgrounder()
{
    StopDownload(true);
    // The worker must be gone before the client, the queue and the mutex.
    mActive.reset();
}

void DownloaderBackgrounder::StartDownload(Data data)
{
    auto shared = std::make_shared<Data>(std::move(data));
    mTransferState.store(TransferIdle);

    const std::string& url = shared->mUrl;
    if (url.size() >= 3 && boost::algorithm::iequals(url.substr(0, 3), "ftp"))
    {
        mActive->Send(std::bind(&DownloaderBackgrounder::FtpDownload, this, shared));
        return;
    }
    if (!boost::algorithm::istarts_with(url, "http"))
        shared->mUrl = "http://" + url;
    mActive->Send(std::bind(&DownloaderBackgrounder::HttpDownload, this, shared));
}

void DownloaderBackgrounder::StopDownload(bool wait)
{
    if (mTransferState.load() == TransferRunning)
        mStopRequests.Push(1);
    if (wait)
    {
        std::lock_guard<std::mutex> untilTheJobEnds(mDownloadMutex);
    }
}

bool DownloaderBackgrounder::HasStopped() const
{
    const int state = mTransferState.load();
    return state != TransferIdle && state != TransferRunning;
}

std::string DownloaderBackgrounder::CreatePath(std::shared_ptr<Data> data)
{
    Poco::URI uri(data->mUrl);
    if (uri.getScheme().empty())
        uri.setScheme(kDefaultScheme);
    return uri.toString();
}

void DownloaderBackgrounder::FtpDownload(std::shared_ptr<Data> /*data*/) {}

void DownloaderBackgrounder::HttpDownload(std::shared_ptr<Data> data)
{
    std::lock_guard<std::mutex> lock(mDownloadMutex);
    // A request that reached the queue after the previous job had ended was
    // meant for that job, not for this one.
    DiscardStopRequests(mStopRequests);

    const fs::path file = data->mDestination;
    Log(eLogInfo, "HttpDownload Start ", data->mUrl, " -> ", file,
        " (expected size: ", data->mExpectedSize, ", checksum: ", data->mExpectedChecksum);

    try
    {
        const std::string url = CreatePath(data);
        mTransferState.store(TransferRunning);

        const int64_t existing = fs::exists(file) ? static_cast<int64_t>(fs::file_size(file)) : 0;
        if (existing != data->mResumeFrom)
        {
            data->mResumeFrom = 0;
            fs::remove(file);
        }

        double progress = 0.0;
        if (data->mExpectedSize > 0 && data->mResumeFrom >= 0)
            progress = std::min(1.0, static_cast<double>(data->mResumeFrom) /
                                         static_cast<double>(data->mExpectedSize));
        mTransferProgress.store(progress);

        // The user's Downloads folder (or wherever the file goes) may not exist yet.
        if (file.has_parent_path())
            fs::create_directories(file.parent_path());
        std::ofstream out(file.string(), std::ios::binary | std::ios::app);

        mClient.StartingAt(data->mResumeFrom).Setup(url);
        mTotalSize = mClient.GetTotalLenght();

        if (mClient.HasSetupSucceeded())
        {
            if (mClient.RangeIgnored())
            {
                // The server sent the whole resource (200) for a ranged request:
                // appending it would splice two copies together.
                Log(eLogInfo, "Server ignored the range for ", file, ", downloading from 0");
                data->mResumeFrom = 0;
                out.close();
                out.open(file.string(), std::ios::binary | std::ios::trunc);
            }
            mTransferProgress.store(mClient.GetProgress());
            while (mClient.HasBytesToRead())
            {
                if (mClient.Read(out) == 0)
                {
                    mTransferState.store(TransferStopped);
                    break;
                }
                mTransferProgress.store(mClient.GetProgress());
                mDownloadedSize = mClient.GetPosition();
                int request = 0;
                if (!mStopRequests.Empty() && mStopRequests.TryPop(request))
                {
                    mTransferState.store(TransferStopped);
                    break;
                }
            }
            if (mClient.GetResult() == HttpResultInterrupted)
                mTransferState.store(TransferStopped);
            else if (mClient.GetResult() == HttpResultFailed)
                mTransferState.store(TransferFailed);
        }
        else
        {
            mTransferState.store(mClient.GetResult() == HttpResultConnectionError ? TransferStopped
                                                                                  : TransferFailed);
        }

        out.close();
        Log(eLogInfo, "Download complete (", file, ")");
        if (mTransferState.load() == TransferRunning)
            mTransferState.store(CheckDownload(data, file));
    }
    catch (const Poco::Exception& error)
    {
        Log(eLogError, "Error while downloading ", data->mUrl, " to ", file.string(), " : ",
            error.displayText());
        mTransferState.store(TransferFailed);
    }
    catch (const std::exception& error)
    {
        Log(eLogError, "Error while downloading ", data->mUrl, " to ", file.string(), " : ",
            error.what());
        mTransferState.store(TransferFailed);
    }

    // A stop asked after the transfer loop had ended must not stop the next one.
    int request = 0;
    if (!mStopRequests.Empty())
        mStopRequests.TryPop(request);
}

DownloaderBackgrounder::TransferState
DownloaderBackgrounder::CheckDownload(std::shared_ptr<Data> data, fs::path file)
{
    TransferState result = TransferComplete;
    if (mTotalSize <= 0)
    {
        Log(eLogError, "Invalid expected size for ", data->mDestination.string(), " (", mTotalSize,
            ")");
    }
    else
    {
        mDownloadedSize = Check::ComputeSize(file);
        if (mDownloadedSize != mTotalSize)
        {
            Log(eLogError, "The size of ", file.string(), " is ", mDownloadedSize, " while ",
                mTotalSize, " is expected");
            result = TransferFailed;
        }
    }

    mComputedChecksum.clear();
    if (data->mExpectedChecksum.empty())
    {
        Log(eLogWarning, "No expected checksum for ", file.string(), ". Can't verify download.");
        return result;
    }
    mComputedChecksum = Check::ComputeChecksum(file);
    Log(eLogDebug, "Checksum : '", mComputedChecksum, "'. Expected: '", data->mExpectedChecksum,
        "'");
    if (mComputedChecksum != data->mExpectedChecksum)
    {
        Log(eLogError, "Bad checksum for ", file.string());
        result = TransferFailed;
    }
    return result;
}

} // namespace UpdateManager
} // namespace Korvane
