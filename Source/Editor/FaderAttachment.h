#pragma once

#include "../Parameters/FaderParameter.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** Links the window's fader to the level parameter, as JUCE's SliderParameterAttachment links
    a slider to a parameter, with the gestures told through the level's change manager, which
    merges them with the console's: a drag of the fader is one gesture of this attachment's,
    and every value the fader takes is set notifying the host.

    The fader follows the parameter only when showParameterValue is called (the window does so
    on its poll), and then without notification, so that a value the host or the console set is
    never echoed back to the host as the user's.

    The attachment is a gesture source of the level while it exists: going in the middle of a
    drag, it ends its gesture, so a window closed during a drag leaves none open. The fader and
    the parameter must outlive it. Message thread only.
*/
class FaderAttachment final : private juce::Slider::Listener
{
public:
    FaderAttachment (FaderParameter& level, juce::Slider& fader);
    ~FaderAttachment() override;

    /** Puts the fader on the parameter's value, telling nobody. */
    void showParameterValue();

private:
    void sliderValueChanged (juce::Slider* slider) override;
    void sliderDragStarted (juce::Slider* slider) override;
    void sliderDragEnded (juce::Slider* slider) override;

    FaderParameter& level;
    juce::Slider& fader;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FaderAttachment)
};
