#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <string>
#include <vector>

namespace Korvane
{
namespace Updater
{

class UpdaterWindow;
class UpdaterLookAndFeel;

// The application object: reads the command line, opens the update window and,
// once the toolkit's loop has ended, lets main() relaunch the product.
class JUCEUpdaterApplication : public juce::JUCEApplication
{
  public:
    JUCEUpdaterApplication();
    ~JUCEUpdaterApplication() override;

    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted(const juce::String& commandLine) override;

    // Written on the message thread in initialise() and shutdown(), read by
    // main() after the loop; they outlive the application object.
    static bool sShouldRelaunch;
    static std::vector<std::string> sRelaunchCommandLine;

  private:
    std::unique_ptr<UpdaterWindow> mWindow;
    std::unique_ptr<UpdaterLookAndFeel> mLookAndFeel;
};

} // namespace Updater
} // namespace Korvane
