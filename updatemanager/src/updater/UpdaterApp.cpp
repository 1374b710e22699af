#include "updater/UpdaterApp.h"

#include "basictools/logger/CLog.h"
#include "updater/CommandLine.h"
#include "updater/UpdaterWindow.h"
#include "updater/lookandfeel/UpdaterLookAndFeel.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace Korvane
{
namespace Updater
{

bool JUCEUpdaterApplication::sShouldRelaunch = false;
std::vector<std::string> JUCEUpdaterApplication::sRelaunchCommandLine;

JUCEUpdaterApplication::JUCEUpdaterApplication() = default;

JUCEUpdaterApplication::~JUCEUpdaterApplication()
{
    mLookAndFeel.reset();
    mWindow.reset();
}

const juce::String JUCEUpdaterApplication::getApplicationName()
{
    return "Updater";
}

const juce::String JUCEUpdaterApplication::getApplicationVersion()
{
    return "1.0.5.20";
}

bool JUCEUpdaterApplication::moreThanOneInstanceAllowed()
{
    return true;
}

void JUCEUpdaterApplication::initialise(const juce::String&)
{
    std::vector<std::string> arguments;
    for (const juce::String& parameter : getCommandLineParameterArray())
        arguments.push_back(parameter.toStdString());

    const CommandLine commandLine = ParseCommandLine(arguments);
    sRelaunchCommandLine = commandLine.relaunchCommandLine;
    if (!commandLine.valid)
    {
        std::cout << UsageText() << std::flush;
        std::exit(1);
    }

    mLookAndFeel = std::make_unique<UpdaterLookAndFeel>();
    juce::LookAndFeel::setDefaultLookAndFeel(mLookAndFeel.get());

    // Init may end the process (status 1) when there is nothing to update.
    mWindow = std::make_unique<UpdaterWindow>(commandLine.sku);
    mWindow->Init();
}

void JUCEUpdaterApplication::shutdown()
{
    if (mWindow)
    {
        sShouldRelaunch = mWindow->ShouldRelaunch();
        // Ends the download workers and waits for an install already handed
        // to the install thread.
        mWindow.reset();
    }
    juce::Desktop::getInstance().setDefaultLookAndFeel(nullptr);
}

void JUCEUpdaterApplication::anotherInstanceStarted(const juce::String&) {}

} // namespace Updater

namespace
{
juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new Updater::JUCEUpdaterApplication;
}

void Relaunch()
{
    using Updater::JUCEUpdaterApplication;
    std::vector<std::string> commandLine = JUCEUpdaterApplication::sRelaunchCommandLine;
    const std::string path = Updater::RelaunchProgramPath(commandLine);
    std::vector<char*> arguments = Updater::RelaunchArgumentArray(commandLine);
    execv(path.c_str(), arguments.data());
    std::exit(1);
}
} // namespace

} // namespace Korvane

int main(int argc, char* argv[])
{
    using Korvane::Updater::JUCEUpdaterApplication;
    juce::JUCEApplicationBase::createInstance = &Korvane::juce_CreateApplication;
    juce::JUCEApplicationBase::main(argc, const_cast<const char**>(argv));

    if (JUCEUpdaterApplication::sShouldRelaunch &&
        !JUCEUpdaterApplication::sRelaunchCommandLine.empty())
        Korvane::Relaunch();

    CSingleton<CLog>::destroyInstance();
    return 0;
}
