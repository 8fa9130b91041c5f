#pragma once

#include "DeviceCatalogue.h"
#include "HuiChannelProtocol.h"

/** A console that speaks HUI, as the Tarn and Mira consoles do: its messages come from the
    shared HuiChannelProtocol, and what it answers about itself from its catalogue row. Channel
    names go to the console only where the row has scribble strips.

    Threads as QuillmereBaseDevice's.
*/
class HuiDevice : public QuillmereBaseDevice
{
public:
    /** The row, the outbox and the parameters outlive the device. */
    HuiDevice (const DeviceCatalogue::Model& modelToBe, ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange);
    ~HuiDevice() override;

    void sendLevel (int channel, float level) override;
    void sendMute (int channel, bool muted) override;
    void sendChannelName (int channel, const juce::String& name) override;
    ParameterChanges parseIncomingMidi (int channel, const juce::MidiBuffer& messages) override;

    juce::String getModelName() const override;
    int getNumChannels() const override;
    bool supportsChannelNames() const override;
    juce::String getDefaultMidiInputName (int channel) const override;
    juce::String getDefaultMidiOutputName (int channel) const override;

private:
    const DeviceCatalogue::Model& model;
    HuiChannelProtocol protocol;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HuiDevice)
};
