#pragma once

#include "UpdateManager.h"
#include "UpdateManagerEvent.h"
#include "basictools/eventsystem.h"
#include "updater/UpdaterPanel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <string>

namespace Korvane
{
namespace Updater
{

// The program's one window and its main loop: owns the update manager for one
// product, starts the download when it opens, advances the manager every
// 50 ms, follows the product's status changes on its panel, launches the
// silent install and decides when the application quits and whether the
// product is relaunched afterwards.
// Everything runs on the toolkit's message thread.
class UpdaterWindow : public juce::DocumentWindow,
                      public UpdateManager::IEventListener<UpdateManager::ProductChangedEvent>,
                      public juce::Timer
{
  public:
    explicit UpdaterWindow(const std::string& sku);
    ~UpdaterWindow() override;

    // First information cycle and forced download, then shows the window and
    // starts the timer. Ends the process with status 1, without showing
    // anything, when the product is unknown to the server, has no usable
    // version, does not support this system, or its download cannot start.
    virtual void Init();
    // Stops the timer and stops listening to the manager.
    virtual void Terminate();

    void closeButtonPressed() override;
    void notify(const UpdateManager::ProductChangedEvent& event) override;
    void timerCallback() override;

    // The panel's "Launch Installer": opens the installer for the user; ignored
    // while an install is already under way.
    void LaunchManualInstall();

    // Set once the product's install has completed; read by the application
    // when it shuts down.
    bool ShouldRelaunch() const { return mShouldRelaunch; }

  private:
    UpdateManager::EventSource<UpdateManager::ProductChangedEvent>& ProductChanges();
    double DownloadFraction() const;
    void ShowInstallFailedOrQuit();

    UpdaterPanel mPanel;
    UpdateManager::UpdateManager mUpdateManager;
    bool mCloseRequested = false;
    std::string mProductSku;
    bool mShouldRelaunch = false;
    bool mInstallLaunched = false;
    int32_t mPausedRetries = 0;

    JUCE_DECLARE_NON_COPYABLE(UpdaterWindow)
};

} // namespace Updater
} // namespace Korvane
