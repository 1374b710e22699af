#include "updater/lookandfeel/UpdaterLookAndFeel.h"

#include <cmath>

namespace Korvane
{
namespace Updater
{

namespace
{
const float kFontHeightRatio = 0.6f;

double ClampProgress(double progress)
{
    if (std::isnan(progress) || progress < 0.0)
        return 0.0;
    if (progress > 1.0)
        return 1.0;
    return progress;
}
} // namespace

UpdaterLookAndFeel::UpdaterLookAndFeel()
{
    setColour(juce::ProgressBar::foregroundColourId, juce::Colours::lightblue);
}

UpdaterLookAndFeel::~UpdaterLookAndFeel() = default;

void UpdaterLookAndFeel::drawProgressBar(juce::Graphics& g, juce::ProgressBar& bar, int width,
                                         int height, double progress, const juce::String& text)
{
    const juce::Colour background = bar.findColour(juce::ProgressBar::backgroundColourId);
    const juce::Colour foreground = bar.findColour(juce::ProgressBar::foregroundColourId);

    g.fillAll(background);

    const int filledWidth = static_cast<int>(width * ClampProgress(progress));
    g.setColour(foreground);
    g.fillRect(0, 0, filledWidth, height);

    if (text.isNotEmpty())
    {
        g.setColour(juce::Colour::contrasting(background, foreground));
        g.setFont(static_cast<float>(height) * kFontHeightRatio);
        g.drawText(text, 0, 0, width, height, juce::Justification::centred, false);
    }
}

} // namespace Updater
} // namespace Korvane
