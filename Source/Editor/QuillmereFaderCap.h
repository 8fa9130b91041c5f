#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The fader knob. Never added to a parent: the look-and-feel places it at the fader's value
    and has it paint into the slider's Graphics, whose origin is the slider's top left, so it
    draws at its own position.
*/
class QuillmereFaderCap final : public juce::Component
{
public:
    QuillmereFaderCap();

    bool highlighted = false;
    juce::Image capImage, highlightedCapImage;

    void paint (juce::Graphics& g) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillmereFaderCap)
};
