#include "ScribbleStripLookAndFeel.h"

#include "EmbeddedTypefaces.h"

ScribbleStripLookAndFeel::ScribbleStripLookAndFeel()
    : markerTypeface (EmbeddedTypefaces::getInstance()->markerTypeface)
{
}

ScribbleStripLookAndFeel::~ScribbleStripLookAndFeel() = default;

juce::Font ScribbleStripLookAndFeel::getLabelFont (juce::Label&)
{
    return fontOf (markerTypeface, 28.0f);
}
