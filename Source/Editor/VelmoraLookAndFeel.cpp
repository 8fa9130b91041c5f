#include "VelmoraLookAndFeel.h"
#include "EmbeddedImages.h"

#include "EmbeddedTypefaces.h"

#include <BinaryData.h>

VelmoraLookAndFeel::VelmoraLookAndFeel()
    : faderCap (std::make_unique<QuillmereFaderCap>())
    , wideFrameImage (EmbeddedImages::get (BinaryData::frame_wide_png, BinaryData::frame_wide_pngSize))
    , interfaceTypeface (EmbeddedTypefaces::getInstance()->interfaceTypeface)
{
    setColour (juce::ComboBox::textColourId, juce::Colours::white);
}

VelmoraLookAndFeel::~VelmoraLookAndFeel() = default;

juce::Font VelmoraLookAndFeel::fontOf (const juce::Typeface::Ptr& typeface, float height)
{
    juce::Font font (typeface);
    font.setHeight (height);
    return font;
}

bool VelmoraLookAndFeel::shouldDrawFrame (juce::ComboBox& box)
{
    return box.isEnabled() && (box.isMouseOver (true) || box.isPopupActive());
}

void VelmoraLookAndFeel::drawComboBox (juce::Graphics& g, int, int, bool, int, int, int, int, juce::ComboBox& box)
{
    // The body and the arrow are part of the artwork; only the hover frame is drawn, at the
    // selector's fixed size.
    if (shouldDrawFrame (box))
        g.drawImage (wideFrameImage, 0, 0, 180, 30, 0, 0, wideFrameImage.getWidth(), wideFrameImage.getHeight());
}

juce::Font VelmoraLookAndFeel::getComboBoxFont (juce::ComboBox&)
{
    return fontOf (interfaceTypeface, 18.0f);
}

void VelmoraLookAndFeel::positionComboBoxText (juce::ComboBox& box, juce::Label& label)
{
    label.setBounds (2, 2, box.getWidth() - 2, box.getHeight() - 2);
    label.setJustificationType (juce::Justification::centred);
    label.setFont (getComboBoxFont (box));
    label.setColour (juce::Label::textColourId, box.findColour (juce::ComboBox::textColourId));

    // Every click on a selector reaches the box itself, which opens its list. The label of
    // an editable box would take the keyboard focus and hand arrow keys to the box; keys
    // go on to the host instead, and only the text editor takes the focus while text is typed.
    label.setInterceptsMouseClicks (false, false);
    label.setWantsKeyboardFocus (false);
}

juce::Font VelmoraLookAndFeel::getPopupMenuFont()
{
    return fontOf (interfaceTypeface, 18.0f);
}

void VelmoraLookAndFeel::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos, float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle style, juce::Slider& slider)
{
    g.fillAll (slider.findColour (juce::Slider::backgroundColourId));

    if (style == juce::Slider::LinearVertical)
    {
        layoutFaderCap (width, slider);
        faderCap->highlighted = slider.isMouseOver (false);
        faderCap->paint (g);
    }
    else if (style != juce::Slider::LinearBar)
    {
        drawLinearSliderBackground (g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style, slider);
        drawLinearSliderThumb (g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style, slider);
    }
}

void VelmoraLookAndFeel::layoutFaderCap (int width, juce::Slider& slider)
{
    // 32-bit float arithmetic, linear in the value (the slider's skew is not used), on the
    // slider component's own height. For the editor's 120 x 455 fader the 120 x 130 cap
    // travels 325 pixels, its top at the slider's top at full level.
    const auto sliderHeight = (float) slider.getHeight();
    const auto capWidth = 120 * (width / 120);
    const auto capHeight = (sliderHeight / 455.0f) * 130.0f;
    const auto proportion = (float) ((slider.getValue() - slider.getMinimum()) / (slider.getMaximum() - slider.getMinimum()));
    const auto x = (float) (width / 2) - (float) capWidth * 0.5f;
    const auto travel = sliderHeight - capHeight;
    const auto y = travel - travel * proportion;

    faderCap->setBounds ((int) x, (int) y, capWidth, (int) capHeight);
}
