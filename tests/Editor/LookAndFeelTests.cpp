#include "Editor/ChannelNumberComboLookAndFeel.h"
#include "Editor/ScribbleStripLookAndFeel.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

namespace
{
    juce::Rectangle<int> capBoundsFor (VelmoraLookAndFeel& lookAndFeel, juce::Slider& slider)
    {
        juce::Image image (juce::Image::ARGB, slider.getWidth(), slider.getHeight(), true);
        juce::Graphics g (image);
        lookAndFeel.drawLinearSlider (g, 0, 0, slider.getWidth(), slider.getHeight(), 0.0f, 0.0f, 0.0f, juce::Slider::LinearVertical, slider);
        return lookAndFeel.faderCap->getBounds();
    }

    juce::Image renderBox (juce::ComboBox& box)
    {
        return box.createComponentSnapshot (box.getLocalBounds(), false, 1.0f);
    }
}

TEST (VelmoraLookAndFeel, TheCapFollowsTheFaderValue)
{
    VelmoraLookAndFeel lookAndFeel;
    juce::Slider slider (juce::Slider::LinearVertical, juce::Slider::NoTextBox);
    slider.setRange (0.0, 1.0, 0.0);
    slider.setSize (120, 455);

    const std::pair<double, int> cases[] = {
        { 0.0, 325 },
        { 0.01, 321 },
        { 0.25, 243 },
        { 0.5, 162 },
        { (double) 0.72f, 90 },
        { 0.75, 81 },
        { 0.99, 3 },
        { 1.0, 0 },
    };

    for (const auto& [value, top] : cases)
    {
        SCOPED_TRACE (value);
        slider.setValue (value, juce::dontSendNotification);
        EXPECT_EQ (capBoundsFor (lookAndFeel, slider), juce::Rectangle<int> (0, top, 120, 130));
    }

    // A slider narrower than the cap gets a cap of width 0 whose left edge is its centre; the
    // cap still paints itself 120 x 130.
    slider.setSize (100, 455);
    slider.setValue (0.5, juce::dontSendNotification);
    EXPECT_EQ (capBoundsFor (lookAndFeel, slider), juce::Rectangle<int> (50, 162, 0, 130));

    // The position ignores the slider's skew.
    slider.setSize (120, 455);
    slider.setSkewFactor (0.3);
    slider.setValue (0.5, juce::dontSendNotification);
    EXPECT_EQ (capBoundsFor (lookAndFeel, slider).getY(), 162);
}

TEST (VelmoraLookAndFeel, TheCapIndexLineSitsOnTheScaleMarks)
{
    // The background is drawn at half size; the fader's top is at editor y 140 and the cap's
    // index line is 65 pixels below the cap's top. Mark centres are at image y 409.5 (+10),
    // 589.5 (0) and 1059.5 (infinity).
    VelmoraLookAndFeel lookAndFeel;
    juce::Slider slider (juce::Slider::LinearVertical, juce::Slider::NoTextBox);
    slider.setRange (0.0, 1.0, 0.0);
    slider.setSize (120, 455);

    const std::pair<double, double> marks[] = { { 1.0, 409.5 }, { (double) 0.72f, 589.5 }, { 0.0, 1059.5 } };

    for (const auto& [value, markImageY] : marks)
    {
        slider.setValue (value, juce::dontSendNotification);
        const auto indexLineImageY = 2.0 * (140 + capBoundsFor (lookAndFeel, slider).getY() + 65);
        EXPECT_NEAR (indexLineImageY, markImageY, 3.0) << value;
    }
}

TEST (VelmoraLookAndFeel, FontsAndTextLabels)
{
    VelmoraLookAndFeel velmora;
    ChannelNumberComboLookAndFeel channel;
    ScribbleStripLookAndFeel scribble;
    juce::ComboBox box;
    juce::Label label;

    const auto interfaceName = juce::Typeface::createSystemTypefaceFor (BinaryData::interface_font_ttf, BinaryData::interface_font_ttfSize)->getName();
    const auto channelName = juce::Typeface::createSystemTypefaceFor (BinaryData::channel_font_otf, BinaryData::channel_font_otfSize)->getName();
    const auto markerName = juce::Typeface::createSystemTypefaceFor (BinaryData::marker_font_ttf, BinaryData::marker_font_ttfSize)->getName();
    EXPECT_NE (interfaceName, channelName);

    const struct
    {
        juce::Font font;
        juce::String typeface;
        float height;
    } cases[] = {
        { velmora.getComboBoxFont (box), interfaceName, 18.0f },
        { velmora.getPopupMenuFont(), interfaceName, 18.0f },
        { channel.getPopupMenuFont(), interfaceName, 18.0f },
        { channel.getComboBoxFont (box), channelName, 44.0f },
        { scribble.getLabelFont (label), markerName, 28.0f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.typeface);
        EXPECT_EQ (c.font.getTypefacePtr()->getName(), c.typeface);
        EXPECT_FLOAT_EQ (c.font.getHeight(), c.height);
    }

    EXPECT_EQ (velmora.findColour (juce::ComboBox::textColourId), juce::Colours::white);

    // The text label: centred, white, taking no clicks, in the box's own rectangle.
    box.setSize (180, 30);
    velmora.positionComboBoxText (box, label);
    EXPECT_EQ (label.getBounds(), juce::Rectangle<int> (2, 2, 178, 28));
    EXPECT_EQ (label.getJustificationType(), juce::Justification::centred);
    EXPECT_EQ (label.findColour (juce::Label::textColourId), juce::Colours::white);
    EXPECT_FLOAT_EQ (label.getFont().getHeight(), 18.0f);

    bool interceptsSelf = true, interceptsChildren = true;
    label.getInterceptsMouseClicks (interceptsSelf, interceptsChildren);
    EXPECT_FALSE (interceptsSelf);
    EXPECT_FALSE (interceptsChildren);

    box.setSize (70, 60);
    channel.positionComboBoxText (box, label);
    EXPECT_EQ (label.getBounds(), juce::Rectangle<int> (1, 5, 68, 58));
    EXPECT_FLOAT_EQ (label.getFont().getHeight(), 44.0f);
}

TEST (VelmoraLookAndFeel, FramesAreDrawnOnlyForAnEnabledBoxInUse)
{
    // Without a pointer over the box and with its list closed no frame is drawn, enabled or
    // not; a real window test covers hovering and open lists.
    VelmoraLookAndFeel velmora;
    ChannelNumberComboLookAndFeel channel;

    for (auto* lookAndFeel : { (VelmoraLookAndFeel*) &velmora, (VelmoraLookAndFeel*) &channel })
    {
        for (bool enabled : { true, false })
        {
            juce::ComboBox box;
            box.setLookAndFeel (lookAndFeel);
            box.setSize (180, 60);
            box.setEnabled (enabled);

            const auto image = renderBox (box);

            for (int y = 0; y < image.getHeight(); ++y)
                for (int x = 0; x < image.getWidth(); ++x)
                    ASSERT_EQ (image.getPixelAt (x, y).getAlpha(), 0) << x << ", " << y;

            box.setLookAndFeel (nullptr);
        }
    }
}
