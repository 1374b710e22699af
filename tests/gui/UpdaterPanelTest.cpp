#include "updater/UpdaterPanel.h"
#include "updater/lookandfeel/UpdaterLookAndFeel.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using Korvane::Updater::UpdaterLookAndFeel;
using Korvane::Updater::UpdaterPanel;

namespace
{
class UpdaterPanelTest : public ::testing::Test
{
  protected:
    juce::ScopedJuceInitialiser_GUI mToolkit;
};

struct LayoutCase
{
    int width;
    int height;
    juce::Rectangle<int> label;
    juce::Rectangle<int> bar;
    juce::Rectangle<int> launchInstaller;
    juce::Rectangle<int> quit;
};

void PrintTo(const LayoutCase& layout, std::ostream* out)
{
    *out << layout.width << "x" << layout.height;
}

class UpdaterPanelLayoutTest : public ::testing::TestWithParam<LayoutCase>
{
  protected:
    juce::ScopedJuceInitialiser_GUI mToolkit;
};

// The bar samples the stored value on its own repaint timer; one tick makes it
// take the current value. The timer is a private base of the bar, which only a
// C-style cast reaches; ticking by hand keeps the test free of a message loop.
void TickBar(juce::ProgressBar& bar)
{
    ((juce::Timer&)bar).timerCallback();
}

juce::Image Snapshot(juce::Component& component)
{
    return component.createComponentSnapshot(component.getLocalBounds(), true, 1.0f);
}
} // namespace

TEST_P(UpdaterPanelLayoutTest, LaysOutChildrenFromItsSize)
{
    const LayoutCase& expected = GetParam();
    UpdaterPanel panel("main", nullptr, nullptr);
    panel.setBounds(0, 0, expected.width, expected.height);

    EXPECT_EQ(panel.GetMessageLabel().getBounds(), expected.label);
    EXPECT_EQ(panel.GetProgressBar().getBounds(), expected.bar);
    EXPECT_EQ(panel.GetLaunchInstallerButton().getBounds(), expected.launchInstaller);
    EXPECT_EQ(panel.GetQuitButton().getBounds(), expected.quit);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, UpdaterPanelLayoutTest,
    ::testing::Values(
        // The window's own size.
        LayoutCase{
            300, 100, {0, 0, 300, 50}, {10, 45, 280, 30}, {20, 51, 110, 24}, {170, 51, 110, 24}},
        // A low panel: the bar is half the height.
        LayoutCase{
            300, 40, {0, 0, 300, 20}, {10, 10, 280, 20}, {20, 6, 110, 24}, {170, 6, 110, 24}},
        // Odd sizes truncate toward zero.
        LayoutCase{
            301, 99, {0, 0, 301, 49}, {10, 44, 281, 30}, {20, 50, 110, 24}, {170, 50, 110, 24}}),
    [](const ::testing::TestParamInfo<LayoutCase>& info)
    { return std::to_string(info.param.width) + "x" + std::to_string(info.param.height); });

TEST_F(UpdaterPanelTest, StartsInProgressModeAndSwitchesToManualInstall)
{
    UpdaterPanel panel("main", nullptr, nullptr);
    EXPECT_EQ(panel.getName(), "main");
    EXPECT_EQ(panel.GetMessageLabel().getName(), "message");
    EXPECT_EQ(panel.GetLaunchInstallerButton().getButtonText(), "Launch Installer");
    EXPECT_EQ(panel.GetQuitButton().getButtonText(), "Quit");
    EXPECT_EQ(panel.GetMessageLabel().getJustificationType(), juce::Justification::centred);

    auto visibility = [&panel]()
    {
        return std::make_tuple(
            panel.GetMessageLabel().isVisible(), panel.GetProgressBar().isVisible(),
            panel.GetLaunchInstallerButton().isVisible(), panel.GetQuitButton().isVisible());
    };
    EXPECT_EQ(visibility(), std::make_tuple(true, true, false, false));

    panel.SetMessage("Install failed.");
    panel.SetProgress(0.25);
    panel.ShowManualInstall(true);
    EXPECT_EQ(visibility(), std::make_tuple(true, false, true, true));

    panel.ShowManualInstall(false);
    EXPECT_EQ(visibility(), std::make_tuple(true, true, false, false));
    EXPECT_EQ(panel.GetMessageLabel().getText(), "Install failed.");
    EXPECT_DOUBLE_EQ(panel.GetProgress(), 0.25);
}

TEST_F(UpdaterPanelTest, ButtonsRunTheirOwnAction)
{
    int launches = 0;
    int quits = 0;
    UpdaterPanel panel(
        "main", [&launches]() { ++launches; }, [&quits]() { ++quits; });
    panel.ShowManualInstall(true);

    panel.buttonClicked(&panel.GetLaunchInstallerButton());
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(quits, 0);

    panel.buttonClicked(&panel.GetQuitButton());
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(quits, 1);
}

TEST_F(UpdaterPanelTest, ButtonWithoutActionDoesNothing)
{
    int quits = 0;
    UpdaterPanel panel("main", nullptr, [&quits]() { ++quits; });
    panel.ShowManualInstall(true);

    // Called directly: the click must neither crash nor reach the other action.
    panel.buttonClicked(&panel.GetLaunchInstallerButton());
    EXPECT_EQ(quits, 0);

    UpdaterPanel silent("main", nullptr, nullptr);
    silent.buttonClicked(&silent.GetLaunchInstallerButton());
    silent.buttonClicked(&silent.GetQuitButton());
}

TEST_F(UpdaterPanelTest, MessageShowsEachByteAsOneCharacter)
{
    UpdaterPanel panel("main", nullptr, nullptr);
    panel.SetMessage("Downloading latest version...");
    EXPECT_EQ(panel.GetMessageLabel().getText(), "Downloading latest version...");
    panel.SetMessage("");
    EXPECT_EQ(panel.GetMessageLabel().getText(), "");
}

// The bar follows the value the panel stores: unknown progress shows an empty
// bar without text, a later half shows half a bar.
TEST_F(UpdaterPanelTest, BarPaintsTheStoredProgress)
{
    UpdaterLookAndFeel lookAndFeel;
    UpdaterPanel panel("main", nullptr, nullptr);
    panel.setLookAndFeel(&lookAndFeel);
    panel.setBounds(0, 0, 300, 100);
    juce::ProgressBar& bar = panel.GetProgressBar();
    const juce::Colour background = bar.findColour(juce::ProgressBar::backgroundColourId);
    const juce::Colour lightBlue(0xffadd8e6);

    auto onlyBackground = [&]()
    {
        const juce::Image image = Snapshot(bar);
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (image.getPixelAt(x, y) != background)
                    return false;
        return true;
    };
    panel.SetProgress(-1.0);
    TickBar(bar);
    EXPECT_TRUE(onlyBackground());

    auto halfFilled = [&]()
    {
        const juce::Image image = Snapshot(bar);
        return image.getPixelAt(139, 1) == lightBlue && image.getPixelAt(140, 1) == background;
    };
    panel.SetProgress(0.5);
    TickBar(bar);
    EXPECT_TRUE(halfFilled());
    panel.setLookAndFeel(nullptr);
}
