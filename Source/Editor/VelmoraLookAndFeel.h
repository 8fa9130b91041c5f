#pragma once

#include "QuillmereFaderCap.h"

/** The editor's drawing style. Most of the picture is the background artwork, so this draws
    little: no combo-box body or arrow, no fader track or thumb; a lilac frame around a
    selector while the pointer is over it or its list is open; the fader cap at the fader's
    value; text in the embedded interface face. Message thread only.
*/
class VelmoraLookAndFeel : public juce::LookAndFeel_V3
{
public:
    VelmoraLookAndFeel();
    ~VelmoraLookAndFeel() override;

    void drawComboBox (juce::Graphics& g, int width, int height, bool isButtonDown, int buttonX, int buttonY, int buttonW, int buttonH, juce::ComboBox& box) override;
    juce::Font getComboBoxFont (juce::ComboBox& box) override;
    void positionComboBoxText (juce::ComboBox& box, juce::Label& label) override;
    juce::Font getPopupMenuFont() override;
    void drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos, float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle style, juce::Slider& slider) override;

    std::unique_ptr<QuillmereFaderCap> faderCap;
    juce::Image wideFrameImage;
    juce::Typeface::Ptr interfaceTypeface; // the process's one, from EmbeddedTypefaces

protected:
    /** A font on one of the embedded typefaces, at a height. */
    static juce::Font fontOf (const juce::Typeface::Ptr& typeface, float height);

    /** Whether a selector shows its hover frame: enabled, and under the pointer or open. */
    static bool shouldDrawFrame (juce::ComboBox& box);

private:
    void layoutFaderCap (int width, juce::Slider& slider);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (VelmoraLookAndFeel)
};
