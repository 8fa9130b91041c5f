#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The fader: a slider named "level" on which a press with Alt held puts the value on
    zeroMarkValue and holds it there until the release, whatever the pointer does meanwhile.

    The slider's own drag is anchored at the value the press found, so without the hold the
    first pixel of movement would take the value back there. The press is otherwise a drag
    like any other: the listeners hear one drag start, the change to zeroMarkValue (at once,
    before the editor's poll can put another value into the slider) and one drag end.
*/
class LevelFader final : public juce::Slider
{
public:
    LevelFader();

    /** The single-precision 0.72 widened: the value at which the cap's centre sits on the
        scale's 0 mark.
    */
    static constexpr double zeroMarkValue = (double) 0.72f;

    void mouseDown (const juce::MouseEvent& event) override;
    void mouseDrag (const juce::MouseEvent& event) override;
    void mouseUp (const juce::MouseEvent& event) override;

private:
    bool holdingZeroMark = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LevelFader)
};
