#pragma once

#include "HuiChannelProtocol.h"

/** The Tarn16 console: 8 channel strips with scribble strips, reached through the ports
    "Tarn16 Automation".
*/
class Tarn16Device : public QuillmereBaseDevice
{
public:
    /** The outbox and the parameters outlive the device. */
    Tarn16Device (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange);
    ~Tarn16Device() override;

    void sendLevel (int channel, float level) override;
    void sendMute (int channel, bool muted) override;
    void sendChannelName (int channel, const juce::String& name) override;
    juce::String getModelName() override;
    int getNumChannels() override;
    ParameterChanges parseIncomingMidi (int channel, const juce::MidiBuffer& messages) override;
    bool supportsChannelNames() override;
    juce::String getDefaultMidiInputName (int channel) override;
    juce::String getDefaultMidiOutputName (int channel) override;

    /** True if the system lists an input port named exactly as this model's default input. */
    bool isPortPresent() override;

private:
    HuiChannelProtocol protocol;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Tarn16Device)
};
