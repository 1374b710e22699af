#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <string>

namespace Korvane
{
namespace Updater
{

// Content of the update window: one status line, a progress bar and, after a
// failed install, "Launch Installer" and "Quit". It holds no update logic: the
// window says what to show and receives the two button actions.
// Message thread only.
class UpdaterPanel : public juce::Component, public juce::Button::Listener
{
  public:
    UpdaterPanel(const juce::String& name, std::function<void()> onLaunchInstaller,
                 std::function<void()> onQuit);
    ~UpdaterPanel() override;

    // The text is shown byte by byte: every message of this program is ASCII.
    void SetMessage(const std::string& text);
    // A fraction from 0.0 to 1.0, or -1.0 while no progress is known (empty bar,
    // no text). The bar reads the value itself on its own repaint timer.
    void SetProgress(double progress);
    // true: the two buttons replace the progress bar; false: the bar comes back.
    void ShowManualInstall(bool show);

    void resized() override;
    void buttonClicked(juce::Button* button) override;

    // For tests and screenshots of the layout.
    const juce::Label& GetMessageLabel() const { return mMessageLabel; }
    juce::ProgressBar& GetProgressBar() { return mProgressBar; }
    juce::TextButton& GetLaunchInstallerButton() { return mLaunchInstallerButton; }
    juce::TextButton& GetQuitButton() { return mQuitButton; }
    double GetProgress() const { return mProgress; }

  private:
    double mProgress = 0.0;
    juce::Label mMessageLabel;
    juce::ProgressBar mProgressBar;
    juce::TextButton mLaunchInstallerButton;
    juce::TextButton mQuitButton;
    std::function<void()> mOnLaunchInstaller;
    std::function<void()> mOnQuit;

    JUCE_DECLARE_NON_COPYABLE(UpdaterPanel)
};

} // namespace Updater
} // namespace Korvane
