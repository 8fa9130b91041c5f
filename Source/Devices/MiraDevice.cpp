#include "MiraDevice.h"

MiraDevice::MiraDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange)
    : QuillmereBaseDevice (parametersToChange)
    , protocol (outboxToPostTo)
{
}

MiraDevice::~MiraDevice() = default;

void MiraDevice::sendLevel (int channel, float level) { protocol.sendLevel (channel, level); }

void MiraDevice::sendMute (int channel, bool muted) { protocol.sendMute (channel, muted); }

juce::String MiraDevice::getModelName() { return "Mira"; }

int MiraDevice::getNumChannels() { return 16; }

QuillmereBaseDevice::ParameterChanges MiraDevice::parseIncomingMidi (int channel, const juce::MidiBuffer& messages) { return protocol.parseIncomingMidi (channel, messages); }

bool MiraDevice::supportsChannelNames() { return false; }
