#include "ChannelMuteButton.h"
#include "EmbeddedImages.h"

#include <BinaryData.h>

ChannelMuteButton::ChannelMuteButton()
    : juce::Button ("Channel Mute Button")
    , offImage (EmbeddedImages::get (BinaryData::cut_off_png, BinaryData::cut_off_pngSize))
    , offHighlightedImage (EmbeddedImages::get (BinaryData::cut_off_highlighted_png, BinaryData::cut_off_highlighted_pngSize))
    , onImage (EmbeddedImages::get (BinaryData::cut_on_png, BinaryData::cut_on_pngSize))
    , onHighlightedImage (EmbeddedImages::get (BinaryData::cut_on_highlighted_png, BinaryData::cut_on_highlighted_pngSize))
{
    setSize (90, 90);
}

void ChannelMuteButton::paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    const auto lit = getToggleState();
    const auto highlight = shouldDrawButtonAsHighlighted || shouldDrawButtonAsDown;
    const auto& image = lit ? (highlight ? onHighlightedImage : onImage)
                            : (highlight ? offHighlightedImage : offImage);

    // Opaque black, so that the image is drawn fully opaque. The button's text is not drawn:
    // the key images carry the legend.
    g.setColour (juce::Colours::black);
    g.drawImage (image, 0, 0, 90, 90, 0, 0, image.getWidth(), image.getHeight());
}

void ChannelMuteButton::mouseDown (const juce::MouseEvent& event)
{
    heldByPointer = true;
    juce::Button::mouseDown (event);
}

void ChannelMuteButton::mouseUp (const juce::MouseEvent& event)
{
    heldByPointer = false;
    const juce::ScopedValueSetter<bool> releasing (releasingPointer, true);
    juce::Button::mouseUp (event);
}
