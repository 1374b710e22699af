#include "resources/Active.h"

#include "basictools/logger/CLog.h"

namespace Korvane
{
namespace UpdateManager
{

ActiveDownloader::ActiveDownloader(const std::string& name) : mThreadName(name) {}

ActiveDownloader::~ActiveDownloader()
{
    // A thread that never started (createActive failed) gets no job to wait for.
    if (!mThread.joinable())
        return;
    Send(std::bind(&ActiveDownloader::DoDone, this));
    mThread.join();
}

std::unique_ptr<ActiveDownloader> ActiveDownloader::createActive(const std::string& name)
{
    std::unique_ptr<ActiveDownloader> active(new ActiveDownloader(name));
    active->mThread = std::thread(&ActiveDownloader::Run, active.get());
    return active;
}

void ActiveDownloader::Send(Job job)
{
    mJobs.Push(std::move(job));
}

void ActiveDownloader::Run()
{
    CSingleton<CLog>::getInstance()->buildLog("download", eLogDebug,
                                              "ActiveDownloader Start Thread", mThreadName);
    while (!mDone)
    {
        Job job;
        mJobs.WaitAndPop(job);
        if (job)
            job();
    }
    CSingleton<CLog>::getInstance()->buildLog("download", eLogDebug, "ActiveDownloader Exit Thread",
                                              mThreadName);
}

void ActiveDownloader::DoDone()
{
    mDone = true;
}

} // namespace UpdateManager
} // namespace Korvane
