#pragma once

#include "AudioProcessorParameterWithChangeManager.h"
#include "ParameterBroadcaster.h"

/** The fader level, parameter index 0: a normalised position, 0.0 at the bottom and 1.0 at
    the top, with no curve applied. The console device maps it to the console's scale.
*/
class FaderParameter final : public AudioProcessorParameterWithChangeManager
    , public ParameterBroadcaster
{
public:
    /** The identifier under which hosts store the parameter. */
    explicit FaderParameter (const juce::String& parameterID = "0");

    // Both bases offer addListener, for different listener types.
    using juce::AudioProcessorParameter::addListener;
    using ParameterBroadcaster::addListener;

    /** Any thread. */
    float getValue() const override;

    /** Stores the value unchanged (no clamping, no comparison) and notifies the listeners on
        the calling thread, which for host automation is a host thread.
    */
    void setValue (float newValue) override;

    float getDefaultValue() const override;
    juce::String getName (int maximumStringLength) const override;
    juce::String getLabel() const override;
    float getValueForText (const juce::String& text) const override;

private:
    // Written by host threads while the message thread reads it.
    std::atomic<float> value { 0.0f };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FaderParameter)
};
