#pragma once

#include "HuiChannelProtocol.h"

/** The Mira console: 16 channel strips on the 8 zones (channels 9 to 16 share zones 0 to 7
    with channels 1 to 8), no scribble strips and no suggested ports.
*/
class MiraDevice final : public QuillmereBaseDevice
{
public:
    /** The outbox and the parameters outlive the device. */
    MiraDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange);
    ~MiraDevice() override;

    void sendLevel (int channel, float level) override;
    void sendMute (int channel, bool muted) override;
    juce::String getModelName() override;
    int getNumChannels() override;
    ParameterChanges parseIncomingMidi (int channel, const juce::MidiBuffer& messages) override;
    bool supportsChannelNames() override;

private:
    HuiChannelProtocol protocol;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MiraDevice)
};
