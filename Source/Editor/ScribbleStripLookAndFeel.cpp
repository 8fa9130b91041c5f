#include "ScribbleStripLookAndFeel.h"

#include <BinaryData.h>

ScribbleStripLookAndFeel::ScribbleStripLookAndFeel()
    : markerTypeface (juce::Typeface::createSystemTypefaceFor (BinaryData::marker_font_ttf, BinaryData::marker_font_ttfSize))
{
}

ScribbleStripLookAndFeel::~ScribbleStripLookAndFeel() = default;

juce::Font ScribbleStripLookAndFeel::getLabelFont (juce::Label&)
{
    return fontOf (markerTypeface, 28.0f);
}
