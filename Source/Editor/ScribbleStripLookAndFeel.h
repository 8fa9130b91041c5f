#pragma once

#include "VelmoraLookAndFeel.h"

/** The scribble strip's style: the felt-marker face. */
class ScribbleStripLookAndFeel final : public VelmoraLookAndFeel
{
public:
    ScribbleStripLookAndFeel();
    ~ScribbleStripLookAndFeel() override;

    juce::Font getLabelFont (juce::Label& label) override;

    juce::Typeface::Ptr markerTypeface; // the process's one, from EmbeddedTypefaces

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ScribbleStripLookAndFeel)
};
