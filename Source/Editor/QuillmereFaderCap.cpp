#include "QuillmereFaderCap.h"
#include "EmbeddedImages.h"

#include <BinaryData.h>

QuillmereFaderCap::QuillmereFaderCap()
    : capImage (EmbeddedImages::get (BinaryData::fader_cap_png, BinaryData::fader_cap_pngSize))
    , highlightedCapImage (EmbeddedImages::get (BinaryData::fader_cap_highlighted_png, BinaryData::fader_cap_highlighted_pngSize))
{
    setSize (120, 130);
}

void QuillmereFaderCap::paint (juce::Graphics& g)
{
    const auto& image = highlighted ? highlightedCapImage : capImage;

    g.setColour (juce::Colours::black);
    g.drawImage (image, getX(), getY(), 120, 130, 0, 0, image.getWidth(), image.getHeight());
}
