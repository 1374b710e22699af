#pragma once

#include "resources/Active.h"
#include "resources/HttpClient.h"
#include "resources/SharedQueue.h"

#include <boost/filesystem/path.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Korvane
{
namespace UpdateManager
{

// Downloads one product's installer on its own thread, appending to what is
// already on disk so that an interrupted download resumes where it stopped,
// then checks the file's size and MD5.
//
// StartDownload, StopDownload, HasStopped and the reads of the public members
// are for the GUI thread; the transfer and the checks run on the worker
// thread, one job at a time. The GUI thread polls mTransferState (and, while
// it is TransferRunning, mTransferProgress); it reads mComputedChecksum only
// after it has seen TransferComplete. All log lines go to channel "download".
class DownloaderBackgrounder
{
  public:
    // One download. mResumeFrom is the number of bytes already in
    // mDestination; the job fetches from 0 when the file has another size.
    struct Data
    {
        std::string mUrl;
        boost::filesystem::path mDestination;
        std::string mExpectedChecksum; // lower-case MD5 hex; empty: not verified
        int64_t mExpectedSize = 0;     // for the first progress value only
        int64_t mResumeFrom = 0;
    };

    enum TransferState
    {
        TransferIdle = 0,     // nothing running (a job may be queued)
        TransferRunning = 1,  // a transfer job runs
        TransferStopped = 2,  // ended early; resume from the file's size
        TransferComplete = 4, // complete and checked
        TransferFailed = 5,   // the transfer or a check failed
    };

    static constexpr const char* kDefaultScheme = "http";

    // Starts the worker thread, named `name` in its log lines.
    explicit DownloaderBackgrounder(const std::string& name);
    // Stops a running transfer and waits for it, then runs any job still
    // queued and ends the worker thread.
    ~DownloaderBackgrounder();

    DownloaderBackgrounder(const DownloaderBackgrounder&) = delete;
    DownloaderBackgrounder& operator=(const DownloaderBackgrounder&) = delete;

    // Sets TransferIdle and queues the transfer. Returns at once. An "ftp"
    // address queues a job that transfers nothing; an address without "http"
    // in front gets "http://".
    void StartDownload(Data data);
    // Asks a running transfer to stop within one chunk (a queued one is not
    // affected); with `wait`, returns only once a running transfer has ended.
    void StopDownload(bool wait);
    // Whether the last transfer has ended (stopped, complete or failed).
    bool HasStopped() const;

    // The jobs, run on the worker thread.
    void HttpDownload(std::shared_ptr<Data> data);
    void FtpDownload(std::shared_ptr<Data> data);
    // The URL actually requested; throws Poco::SyntaxException for a URL that
    // cannot be parsed.
    std::string CreatePath(std::shared_ptr<Data> data);
    // Size against the server's total, then MD5 against the expected one.
    TransferState CheckDownload(std::shared_ptr<Data> data, boost::filesystem::path file);

  private:
    std::unique_ptr<ActiveDownloader> mActive;
    SharedQueue<int> mStopRequests;

  public:
    std::atomic<double> mTransferProgress{0.0};
    std::atomic<int> mTransferState{TransferIdle};

  private:
    HttpClient mClient;
    int64_t mDownloadedSize = 0;
    int64_t mTotalSize = 0;

  public:
    std::string mComputedChecksum;

  private:
    std::mutex mDownloadMutex;
};

} // namespace UpdateManager
} // namespace Korvane
