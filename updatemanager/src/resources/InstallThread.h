#pragma once

#include "basictools/CSingleton.h"

#include <boost/lockfree/spsc_queue.hpp>

#include <atomic>
#include <thread>

namespace Korvane
{
namespace UpdateManager
{

class Installer;

// The process-wide install worker: runs installers one at a time and hands
// each back when done. ScheduleInstall and PopOutputCommand are called from
// one thread (the GUI thread), the worker is the other end of both queues.
// Installers are held by address: each must stay alive until popped.
class InstallThread : public CSingleton<InstallThread>
{
  public:
    static constexpr size_t kQueueCapacity = 32;

    InstallThread();
    // Ends the worker after every installer already waiting has run.
    ~InstallThread() override;

    // Null is ignored; dropped without a message when 32 are waiting.
    void ScheduleInstall(Installer* installer);
    bool HasOutputCommand();
    // The oldest finished installer, or null.
    Installer* PopOutputCommand();
    void ExitAndJoin();

  private:
    void Run();

    std::thread mInstallThread;
    std::atomic<bool> mExit{false};
    boost::lockfree::spsc_queue<Installer*, boost::lockfree::capacity<kQueueCapacity>> mPending;
    boost::lockfree::spsc_queue<Installer*, boost::lockfree::capacity<kQueueCapacity>> mFinished;
};

} // namespace UpdateManager
} // namespace Korvane
