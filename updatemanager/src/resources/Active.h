#pragma once

#include "resources/SharedQueue.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace Korvane
{
namespace UpdateManager
{

// An active object: one worker thread that runs the jobs sent to it one at a
// time, in the order in which they were sent. Send() may be called from any
// thread and never waits for the job. Jobs must not throw.
class ActiveDownloader
{
  public:
    using Job = std::function<void()>;

    explicit ActiveDownloader(const std::string& name);
    // Runs every job already sent, then ends and joins the worker thread. The
    // owner must not Send() concurrently with or after destruction.
    virtual ~ActiveDownloader();

    ActiveDownloader(const ActiveDownloader&) = delete;
    ActiveDownloader& operator=(const ActiveDownloader&) = delete;

    // The only way to get a running object. A failure to start the thread
    // propagates as std::system_error.
    static std::unique_ptr<ActiveDownloader> createActive(const std::string& name);

    void Send(Job job);

  private:
    // The worker thread's body.
    void Run();
    // Ends the loop; sent as the last job by the destructor.
    void DoDone();

    std::string mThreadName;
    SharedQueue<Job> mJobs;
    std::thread mThread;
    // Written and read only on the worker thread.
    bool mDone = false;
};

} // namespace UpdateManager
} // namespace Korvane
