#pragma once

#include "AudioProcessorParameterWithChangeManager.h"
#include "ParameterBroadcaster.h"

/** The mute ("Cut"), parameter index 1: on while the channel is muted. */
class BooleanParameter final : public AudioProcessorParameterWithChangeManager
    , public ParameterBroadcaster
{
public:
    /** The identifier under which hosts store the parameter. */
    explicit BooleanParameter (const juce::String& parameterID = "1");

    // Both bases offer addListener, for different listener types.
    using juce::AudioProcessorParameter::addListener;
    using ParameterBroadcaster::addListener;

    /** Any thread: 1.0 while muted, else 0.0. */
    float getValue() const override;

    /** Any non-zero value (NaN included) mutes. Notifies the listeners on the calling thread. */
    void setValue (float newValue) override;

    float getDefaultValue() const override;
    juce::String getName (int maximumStringLength) const override;
    juce::String getLabel() const override;
    int getNumSteps() const override;
    juce::String getText (float normalisedValue, int maximumStringLength) const override;

    /** 1.0 for "on" in any letter case and for "1"; 0.0 for everything else. Not trimmed. */
    float getValueForText (const juce::String& text) const override;

private:
    // Written by host threads while the message thread reads it.
    std::atomic<bool> value { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BooleanParameter)
};
