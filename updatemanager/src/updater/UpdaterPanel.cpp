#include "updater/UpdaterPanel.h"

#include <algorithm>
#include <utility>

namespace Korvane
{
namespace Updater
{

namespace
{
const int kBarMargin = 10;
const int kMaxBarHeight = 30;
const int kButtonWidth = 110;
const int kButtonHeight = 24;
} // namespace

UpdaterPanel::UpdaterPanel(const juce::String& name, std::function<void()> onLaunchInstaller,
                           std::function<void()> onQuit)
    : juce::Component(name), mMessageLabel("message", juce::String()), mProgressBar(mProgress),
      mLaunchInstallerButton("Launch Installer", juce::String()),
      mQuitButton("Quit", juce::String()), mOnLaunchInstaller(std::move(onLaunchInstaller)),
      mOnQuit(std::move(onQuit))
{
    mMessageLabel.setJustificationType(juce::Justification::centred);
    mLaunchInstallerButton.addListener(this);
    mQuitButton.addListener(this);

    addAndMakeVisible(mMessageLabel);
    addAndMakeVisible(mProgressBar);
    addChildComponent(mLaunchInstallerButton);
    addChildComponent(mQuitButton);
}

UpdaterPanel::~UpdaterPanel()
{
    mLaunchInstallerButton.removeListener(this);
    mQuitButton.removeListener(this);
}

void UpdaterPanel::SetMessage(const std::string& text)
{
    // Each byte is one character; the label repaints asynchronously.
    mMessageLabel.setText(juce::String(text.c_str(), text.size()), juce::sendNotificationAsync);
}

void UpdaterPanel::SetProgress(double progress)
{
    mProgress = progress;
}

void UpdaterPanel::ShowManualInstall(bool show)
{
    mProgressBar.setVisible(!show);
    mLaunchInstallerButton.setVisible(show);
    mQuitButton.setVisible(show);
}

void UpdaterPanel::resized()
{
    const int width = getWidth();
    const int height = getHeight();
    const int half = height / 2;
    const int barHeight = std::min(half, kMaxBarHeight);
    const int baseLine = (3 * height) / 4;

    mMessageLabel.setBounds(0, 0, width, half);
    mProgressBar.setBounds(kBarMargin, baseLine - barHeight, width - 2 * kBarMargin, barHeight);
    mLaunchInstallerButton.setBounds(width / 4 - kButtonWidth / 2, baseLine - kButtonHeight,
                                     kButtonWidth, kButtonHeight);
    mQuitButton.setBounds((3 * width) / 4 - kButtonWidth / 2, baseLine - kButtonHeight,
                          kButtonWidth, kButtonHeight);
}

void UpdaterPanel::buttonClicked(juce::Button* button)
{
    if (button == &mLaunchInstallerButton && mOnLaunchInstaller)
        mOnLaunchInstaller();
    else if (button == &mQuitButton && mOnQuit)
        mOnQuit();
}

} // namespace Updater
} // namespace Korvane
