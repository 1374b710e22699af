#include "resources/InstallThread.h"

#include "basictools/logger/CLog.h"
#include "resources/Installer.h"

#include <chrono>

namespace Korvane
{
namespace UpdateManager
{
namespace
{
constexpr auto kIdleSleep = std::chrono::milliseconds(500);
} // namespace

InstallThread::InstallThread()
{
    mInstallThread = std::thread([this] { Run(); });
}

InstallThread::~InstallThread()
{
    mExit = true;
    if (mInstallThread.joinable())
        mInstallThread.join();
}

void InstallThread::ScheduleInstall(Installer* installer)
{
    if (installer != nullptr)
        (void)mPending.push(installer);
}

bool InstallThread::HasOutputCommand()
{
    return mFinished.read_available() > 0;
}

Installer* InstallThread::PopOutputCommand()
{
    Installer* installer = nullptr;
    if (!mFinished.pop(installer))
        return nullptr;
    return installer;
}

void InstallThread::ExitAndJoin()
{
    mExit = true;
    if (mInstallThread.joinable())
        mInstallThread.join();
}

void InstallThread::Run()
{
    CSingleton<CLog>::getInstance()->buildLog("install", eLogInfo, "Start install thread");
    // An exit request ends the thread only once nothing is waiting, so that
    // an installer handed over just before the request still runs.
    if (mExit && mPending.read_available() == 0)
        return;
    for (;;)
    {
        Installer* installer = nullptr;
        if (!mPending.pop(installer))
        {
            std::this_thread::sleep_for(kIdleSleep);
            if (mExit && mPending.read_available() == 0)
                return;
            continue;
        }
        if (installer == nullptr)
            continue;
        installer->Run();
        (void)mFinished.push(installer);
    }
}

} // namespace UpdateManager
} // namespace Korvane
