#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The typefaces of the three embedded fonts, built once for the process and shared by the
    look-and-feels of every open window. Building one copies the font data and has the font
    engine parse it: some 170 KiB and most of a window's opening time for the interface face
    alone, which every look-and-feel uses.

    Made on first use and deleted when the framework shuts down, after the last plug-in
    instance of the process has gone; a look-and-feel that holds a typeface keeps it alive
    until then. getInstance may be called on any thread; the look-and-feels call it on the
    message thread.
*/
class EmbeddedTypefaces final : private juce::DeletedAtShutdown
{
public:
    EmbeddedTypefaces();
    ~EmbeddedTypefaces() override;

    const juce::Typeface::Ptr interfaceTypeface, channelTypeface, markerTypeface;

    JUCE_DECLARE_SINGLETON (EmbeddedTypefaces, false)

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EmbeddedTypefaces)
};
