#include "EmbeddedTypefaces.h"

#include <BinaryData.h>

JUCE_IMPLEMENT_SINGLETON (EmbeddedTypefaces)

EmbeddedTypefaces::EmbeddedTypefaces()
    : interfaceTypeface (juce::Typeface::createSystemTypefaceFor (BinaryData::interface_font_ttf, BinaryData::interface_font_ttfSize))
    , channelTypeface (juce::Typeface::createSystemTypefaceFor (BinaryData::channel_font_otf, BinaryData::channel_font_otfSize))
    , markerTypeface (juce::Typeface::createSystemTypefaceFor (BinaryData::marker_font_ttf, BinaryData::marker_font_ttfSize))
{
    // The fonts are compiled in: a face that does not load is a broken build.
    jassert (interfaceTypeface != nullptr && channelTypeface != nullptr && markerTypeface != nullptr);
}

EmbeddedTypefaces::~EmbeddedTypefaces()
{
    clearSingletonInstance();
}
