#include "InstallerTestSupport.h"

#include "resources/InstallThread.h"
#include "resources/Installer.h"

#include <gtest/gtest.h>

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <deque>
#include <thread>

using namespace Korvane;
using namespace Korvane::Testing;
using Korvane::UpdateManager::Installer;
using Korvane::UpdateManager::InstallThread;
namespace fs = boost::filesystem;

namespace
{
fs::path Root()
{
    return PlatformRootEnvironment::Root();
}

// Replaces the open tool by one that signals it started and then waits for a
// release file, so that an install can be held on the install thread.
class HeldOpenTool
{
  public:
    HeldOpenTool()
    {
        WriteFile(Root() / "usr/bin/open",
                  "#!/bin/sh\n"
                  "root=\"" +
                      Root().string() +
                      "\"\n"
                      ": > \"$root/open-started\"\n"
                      "while [ ! -e \"$root/open-release\" ]; do sleep 0.02; done\n"
                      "printf '%s\\n' \"$2\" >> \"$root/open.log\"\n");
        fs::permissions(Root() / "usr/bin/open", fs::perms(0755));
    }
    ~HeldOpenTool()
    {
        Release();
        InstallStandIns(Root());
        fs::remove(Root() / "open-started");
        fs::remove(Root() / "open-release");
    }
    bool WaitUntilStarted() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!fs::exists(Root() / "open-started"))
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    void Release() const { WriteFile(Root() / "open-release", ""); }
};

Installer HeldInstaller()
{
    const fs::path file = Root() / "Held.pkg";
    WriteFile(file, "p");
    Installer installer("http://x", file, UpdateManager::InstallInProgress);
    installer.SetStatus(UpdateManager::InstallInProgress);
    return installer;
}

Installer MissingInstaller(int index)
{
    Installer installer("http://x", Root() / ("missing-" + std::to_string(index) + ".dmg"),
                        UpdateManager::InstallInProgress);
    installer.SetStatus(UpdateManager::InstallInProgress);
    return installer;
}

std::vector<Installer*> CollectFinished(InstallThread& thread, size_t count)
{
    std::vector<Installer*> finished;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (finished.size() < count && std::chrono::steady_clock::now() < deadline)
    {
        if (Installer* installer = thread.PopOutputCommand())
            finished.push_back(installer);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return finished;
}
} // namespace

TEST(InstallThreadTest, NullIsIgnoredAndInstallersComeBackInOrder)
{
    std::deque<Installer> installers;
    for (int index = 0; index < 3; ++index)
        installers.push_back(MissingInstaller(index));
    InstallThread* thread = InstallThread::getInstance();
    thread->ScheduleInstall(nullptr);
    for (Installer& installer : installers)
        installer.StartInstall();
    const std::vector<Installer*> finished = CollectFinished(*thread, 3);
    ASSERT_EQ(finished.size(), 3u);
    for (size_t index = 0; index < 3; ++index)
    {
        EXPECT_EQ(finished[index], &installers[index]);
        EXPECT_EQ(installers[index].GetStatus(), UpdateManager::UpdateNeeded);
    }
    EXPECT_FALSE(thread->HasOutputCommand());
    EXPECT_EQ(thread->PopOutputCommand(), nullptr);
    InstallThread::destroyInstance();
}

TEST(InstallThreadTest, TheThirtyThirdWaitingInstallerIsDropped)
{
    HeldOpenTool openTool;
    Installer held = HeldInstaller();
    std::deque<Installer> waiting;
    for (int index = 0; index < 33; ++index)
        waiting.push_back(MissingInstaller(index));

    InstallThread* thread = InstallThread::getInstance();
    thread->ScheduleInstall(&held);
    ASSERT_TRUE(openTool.WaitUntilStarted());
    for (Installer& installer : waiting)
        thread->ScheduleInstall(&installer);
    openTool.Release();

    // The worker may finish faster than this thread collects: the finished
    // queue holds 32 as well, so a 33rd finished one may be dropped too.
    const std::vector<Installer*> finished = CollectFinished(*thread, 32);
    EXPECT_GE(finished.size(), 32u);
    InstallThread::destroyInstance();
    EXPECT_EQ(held.GetStatus(), UpdateManager::InstallComplete);
    for (int index = 0; index < 32; ++index)
        EXPECT_EQ(waiting[static_cast<size_t>(index)].GetStatus(), UpdateManager::UpdateNeeded);
    EXPECT_EQ(waiting.back().GetStatus(), UpdateManager::InstallInProgress);
}

TEST(InstallThreadTest, DestructionWaitsForTheRunningAndTheWaitingInstallers)
{
    HeldOpenTool openTool;
    Installer held = HeldInstaller();
    std::deque<Installer> waiting;
    for (int index = 0; index < 3; ++index)
        waiting.push_back(MissingInstaller(index));

    held.StartInstall();
    ASSERT_TRUE(openTool.WaitUntilStarted());
    for (Installer& installer : waiting)
        installer.StartInstall();
    std::thread releaser([&] { openTool.Release(); });
    InstallThread::destroyInstance();
    releaser.join();

    EXPECT_EQ(held.GetStatus(), UpdateManager::InstallComplete);
    for (const Installer& installer : waiting)
        EXPECT_EQ(installer.GetStatus(), UpdateManager::UpdateNeeded);
}

TEST(InstallThreadTest, ExitInstallEndsAnIdleThread)
{
    Installer installer = MissingInstaller(0);
    installer.StartInstall();
    installer.ExitInstall();
    EXPECT_EQ(installer.GetStatus(), UpdateManager::UpdateNeeded);
    InstallThread::destroyInstance();
}
