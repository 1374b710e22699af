#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace Korvane
{
namespace Updater
{

// The application's look: the toolkit's V3 look with a light-blue progress fill
// and a flat progress bar (background, fill from the left, centred percentage).
// Message thread only.
class UpdaterLookAndFeel : public juce::LookAndFeel_V3
{
  public:
    UpdaterLookAndFeel();
    ~UpdaterLookAndFeel() override;

    // The fill is clamped to 0..1 (NaN counts as 0) and truncated to whole
    // pixels; the text, when not empty, is drawn centred at 0.6 x height.
    void drawProgressBar(juce::Graphics& g, juce::ProgressBar& bar, int width, int height,
                         double progress, const juce::String& text) override;
};

} // namespace Updater
} // namespace Korvane
