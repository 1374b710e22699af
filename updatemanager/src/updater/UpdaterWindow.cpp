#include "updater/UpdaterWindow.h"

#include "DefaultResourceServer.h"

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <set>
#include <stdexcept>
#include <thread>

namespace Korvane
{
namespace Updater
{

using UpdateManager::UpdateStatus;

namespace
{
const char kTitle[] = "Auto Update";
const int kPanelWidth = 300;
const int kPanelHeight = 100;
const int kTickMilliseconds = 50;
// The sixth pause in a row ends the run: five resumes are tried.
const int32_t kMaxResumes = 4;
const auto kPauseAfterResume = std::chrono::milliseconds(200);

const char kDownloadingMessage[] = "Downloading latest version...";
const char kInstallingMessage[] = "Install in progress...";
const char kUpdateFailedMessage[] = "Update failed.";
const char kInstallFailedMessage[] = "Install failed.";
const char kNotHandledMessage[] = "Update status not handled: ";

bool EndsTheRunAtStart(UpdateStatus status)
{
    return status == UpdateStatus::Unknown || status == UpdateStatus::OsNotSupported ||
           status == UpdateStatus::Error;
}
} // namespace

UpdaterWindow::UpdaterWindow(const std::string& sku)
    : juce::DocumentWindow(kTitle, juce::Colours::lightgrey, juce::DocumentWindow::closeButton,
                           true),
      mPanel(
          "main", [this]() { LaunchManualInstall(); }, [this]() { closeButtonPressed(); }),
      mUpdateManager(std::string(), UpdateManager::DefaultResourceServer()), mProductSku(sku)
{
}

UpdaterWindow::~UpdaterWindow()
{
    stopTimer();
    ProductChanges().RemoveListener(this);
    // The panel is a member, not owned content: detach it before it goes.
    clearContentComponent();
}

void UpdaterWindow::Init()
{
    mPanel.setBounds(0, 0, kPanelWidth, kPanelHeight);
    mPausedRetries = 0;

    mUpdateManager.SetAdditionalProducts({mProductSku});
    mUpdateManager.Update(mProductSku);
    ProductChanges().AddListener(this);

    bool usable = false;
    try
    {
        const UpdateStatus status = mUpdateManager.GetProduct(mProductSku).mInstaller.GetStatus();
        usable = !EndsTheRunAtStart(status) && mUpdateManager.LaunchDownload(mProductSku, true);
    }
    catch (const std::out_of_range&)
    {
        usable = false;
    }
    if (!usable)
    {
        std::cout.flush();
        std::exit(1);
    }

    mPanel.SetMessage(kDownloadingMessage);

    setUsingNativeTitleBar(true);
    centreWithSize(mPanel.getWidth(), mPanel.getHeight());
    setVisible(true);
    setContentNonOwned(&mPanel, true);
    toFront(true);
    setAlwaysOnTop(true);
    startTimer(kTickMilliseconds);
}

void UpdaterWindow::Terminate()
{
    stopTimer();
    ProductChanges().RemoveListener(this);
}

void UpdaterWindow::closeButtonPressed()
{
    juce::JUCEApplicationBase::quit();
}

UpdateManager::EventSource<UpdateManager::ProductChangedEvent>& UpdaterWindow::ProductChanges()
{
    return mUpdateManager;
}

double UpdaterWindow::DownloadFraction() const
{
    const UpdateManager::ProductModel& product = mUpdateManager.Product(0);
    if (!product.mDownloader)
        return 0.0;
    return product.mDownloader->mTransferProgress.load();
}

void UpdaterWindow::ShowInstallFailedOrQuit()
{
    if (mInstallLaunched)
    {
        mPanel.SetMessage(kInstallFailedMessage);
        mPanel.ShowManualInstall(true);
    }
    else
    {
        mPanel.SetMessage(kUpdateFailedMessage);
        mCloseRequested = true;
    }
}

void UpdaterWindow::timerCallback()
{
    mUpdateManager.ProcessState();
    mUpdateManager.ProcessCompletedInstallers();

    const UpdateManager::ProductModel& product = mUpdateManager.Product(0);
    switch (product.mInstaller.GetStatus())
    {
    case UpdateStatus::DownloadInProgress:
        mPanel.SetProgress(DownloadFraction());
        break;
    case UpdateStatus::DownloadFailed:
    case UpdateStatus::Error:
        if (mInstallLaunched)
        {
            mPanel.SetMessage(kInstallFailedMessage);
            mPanel.ShowManualInstall(true);
        }
        else
            mCloseRequested = true;
        break;
    case UpdateStatus::InstallInProgress:
    {
        const double progress = product.mInstaller.GetProgress();
        if (progress >= 0.0)
            mPanel.SetProgress(progress);
        break;
    }
    default:
        break;
    }

    if (mCloseRequested)
        closeButtonPressed();
}

void UpdaterWindow::notify(const UpdateManager::ProductChangedEvent&)
{
    // This window has one product: whatever the event names, show that one.
    const UpdateManager::ProductModel& product = mUpdateManager.Product(0);
    const UpdateStatus status = product.mInstaller.GetStatus();
    switch (status)
    {
    case UpdateStatus::UpdateNeeded:
    case UpdateStatus::DownloadInProgress:
        mPausedRetries = 0;
        mPanel.SetMessage(kDownloadingMessage);
        mPanel.SetProgress(DownloadFraction());
        break;
    case UpdateStatus::DownloadPaused:
    {
        const int32_t pauses = mPausedRetries++;
        if (pauses > kMaxResumes)
        {
            mPanel.SetProgress(0.0);
            mPanel.SetMessage(kUpdateFailedMessage);
            mCloseRequested = true;
        }
        else
        {
            mUpdateManager.LaunchDownload(mProductSku, false);
            // Gives a server that just dropped the connection a moment.
            std::this_thread::sleep_for(kPauseAfterResume);
        }
        break;
    }
    case UpdateStatus::DownloadFailed:
    case UpdateStatus::Error:
        mPanel.SetProgress(0.0);
        ShowInstallFailedOrQuit();
        break;
    case UpdateStatus::InstallerAvailable:
        if (!mInstallLaunched)
        {
            mInstallLaunched = true;
            mUpdateManager.LaunchInstall(mProductSku, true);
            mPanel.SetMessage(kInstallingMessage);
            mPanel.SetProgress(-1.0);
        }
        break;
    case UpdateStatus::InstallInProgress:
    {
        mPanel.SetMessage(kInstallingMessage);
        const double progress = product.mInstaller.GetProgress();
        if (progress >= 0.0)
            mPanel.SetProgress(progress);
        break;
    }
    case UpdateStatus::InstallComplete:
        mUpdateManager.CancelDownload(mProductSku);
        mShouldRelaunch = true;
        mCloseRequested = true;
        closeButtonPressed();
        break;
    default:
        // One line each, so that it never runs into the log lines.
        std::cout << kNotHandledMessage << static_cast<int>(status) << std::endl;
        break;
    }
}

void UpdaterWindow::LaunchManualInstall()
{
    // A second press while the installer is open must not re-read the product:
    // that would take the installer back from the install thread and queue it
    // a second time.
    const UpdateStatus status = mUpdateManager.Product(0).mInstaller.GetStatus();
    if (status == UpdateStatus::InstallerStart || status == UpdateStatus::InstallInProgress)
        return;

    mUpdateManager.Update(mProductSku);
    if (mUpdateManager.LaunchInstall(mProductSku, false))
        setAlwaysOnTop(false);
}

} // namespace Updater
} // namespace Korvane
