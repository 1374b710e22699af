#include "updater/lookandfeel/UpdaterLookAndFeel.h"

#include <gtest/gtest.h>

#include <limits>

using Korvane::Updater::UpdaterLookAndFeel;

namespace
{
const juce::Colour kLightBlue(0xffadd8e6);

struct Painting
{
    juce::Image image;
    juce::Colour background;
    juce::Colour foreground;
};

class UpdaterLookAndFeelTest : public ::testing::Test
{
  protected:
    Painting Paint(int width, int height, double progress, const juce::String& text)
    {
        juce::ProgressBar bar(mProgress);
        bar.setLookAndFeel(&mLookAndFeel);
        juce::Image image(juce::Image::ARGB, width, height, true);
        {
            juce::Graphics g(image);
            mLookAndFeel.drawProgressBar(g, bar, width, height, progress, text);
        }
        Painting painting{image, bar.findColour(juce::ProgressBar::backgroundColourId),
                          bar.findColour(juce::ProgressBar::foregroundColourId)};
        bar.setLookAndFeel(nullptr);
        return painting;
    }

    juce::ScopedJuceInitialiser_GUI mToolkit;
    UpdaterLookAndFeel mLookAndFeel;
    double mProgress = 0.0;
};

// Number of columns, from the left, whose pixels on the top row are the fill.
int FilledColumns(const Painting& painting)
{
    int columns = 0;
    while (columns < painting.image.getWidth() &&
           painting.image.getPixelAt(columns, 0) == painting.foreground)
        ++columns;
    return columns;
}

// Pixels that are neither background nor fill: the drawn text.
int TextPixels(const Painting& painting)
{
    int count = 0;
    for (int y = 0; y < painting.image.getHeight(); ++y)
        for (int x = 0; x < painting.image.getWidth(); ++x)
        {
            const juce::Colour pixel = painting.image.getPixelAt(x, y);
            if (pixel != painting.background && pixel != painting.foreground)
                ++count;
        }
    return count;
}

// Whether every pixel of the column range [from, to) on every row not touched
// by the text is `colour`; rows are checked at the top and bottom edges.
bool EdgeRowsAre(const Painting& painting, int from, int to, juce::Colour colour)
{
    for (int y : {0, painting.image.getHeight() - 1})
        for (int x = from; x < to; ++x)
            if (painting.image.getPixelAt(x, y) != colour)
                return false;
    return true;
}
} // namespace

TEST_F(UpdaterLookAndFeelTest, ProgressFillIsLightBlue)
{
    EXPECT_EQ(mLookAndFeel.findColour(juce::ProgressBar::foregroundColourId), kLightBlue);
    EXPECT_EQ(kLightBlue.getARGB(), 0xffadd8e6u);
    // The background keeps the base look's colour.
    juce::LookAndFeel_V3 base;
    EXPECT_EQ(mLookAndFeel.findColour(juce::ProgressBar::backgroundColourId),
              base.findColour(juce::ProgressBar::backgroundColourId));
}

TEST_F(UpdaterLookAndFeelTest, HalfProgressFillsHalfAndShowsPercentage)
{
    const Painting painting = Paint(280, 30, 0.5, "50%");
    EXPECT_EQ(painting.foreground, kLightBlue);
    EXPECT_EQ(FilledColumns(painting), 140);
    EXPECT_TRUE(EdgeRowsAre(painting, 0, 140, kLightBlue));
    EXPECT_TRUE(EdgeRowsAre(painting, 140, 280, painting.background));
    EXPECT_GT(TextPixels(painting), 0);

    // The text is centred: its pixels lie around the middle of the bar.
    int left = 280;
    int right = -1;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 280; ++x)
        {
            const juce::Colour pixel = painting.image.getPixelAt(x, y);
            if (pixel != painting.background && pixel != painting.foreground)
            {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    EXPECT_NEAR((left + right) / 2.0, 140.0, 3.0);
    // Font height 18 on a bar 30 high: the glyphs stay well inside 30 rows and
    // are wider than a single character.
    EXPECT_GT(right - left, 18);
}

TEST_F(UpdaterLookAndFeelTest, FullProgressFillsTheWidth)
{
    const Painting painting = Paint(280, 30, 1.0, "100%");
    EXPECT_EQ(FilledColumns(painting), 280);
    EXPECT_TRUE(EdgeRowsAre(painting, 0, 280, kLightBlue));
    EXPECT_GT(TextPixels(painting), 0);
}

TEST_F(UpdaterLookAndFeelTest, UnknownProgressDrawsOnlyTheBackground)
{
    const Painting painting = Paint(280, 30, -1.0, "");
    EXPECT_EQ(FilledColumns(painting), 0);
    EXPECT_TRUE(EdgeRowsAre(painting, 0, 280, painting.background));
    EXPECT_EQ(TextPixels(painting), 0);
}

TEST_F(UpdaterLookAndFeelTest, FillWidthIsTruncated)
{
    EXPECT_EQ(FilledColumns(Paint(281, 30, 0.5, "")), 140);
    EXPECT_EQ(FilledColumns(Paint(280, 30, 0.999, "")), 279);
}

TEST_F(UpdaterLookAndFeelTest, OutOfRangeProgressIsClamped)
{
    EXPECT_EQ(FilledColumns(Paint(280, 30, 7.0, "")), 280);
    EXPECT_EQ(FilledColumns(Paint(280, 30, -0.5, "")), 0);
    EXPECT_EQ(FilledColumns(Paint(280, 30, std::numeric_limits<double>::quiet_NaN(), "")), 0);
}
