#pragma once

#include "Tarn16Device.h"

/** The Tarn48-XL console: a Tarn16 in every respect but its names. */
class Tarn48XLDevice final : public Tarn16Device
{
public:
    Tarn48XLDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange);

    juce::String getModelName() override;
    juce::String getDefaultMidiInputName (int channel) override;
    juce::String getDefaultMidiOutputName (int channel) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Tarn48XLDevice)
};
