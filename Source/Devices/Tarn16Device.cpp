#include "Tarn16Device.h"

Tarn16Device::Tarn16Device (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange)
    : QuillmereBaseDevice (parametersToChange)
    , protocol (outboxToPostTo)
{
}

Tarn16Device::~Tarn16Device() = default;

void Tarn16Device::sendLevel (int channel, float level) { protocol.sendLevel (channel, level); }

void Tarn16Device::sendMute (int channel, bool muted) { protocol.sendMute (channel, muted); }

void Tarn16Device::sendChannelName (int channel, const juce::String& name) { protocol.sendChannelName (channel, name); }

juce::String Tarn16Device::getModelName() { return "Tarn16"; }

int Tarn16Device::getNumChannels() { return 8; }

QuillmereBaseDevice::ParameterChanges Tarn16Device::parseIncomingMidi (int channel, const juce::MidiBuffer& messages) { return protocol.parseIncomingMidi (channel, messages); }

bool Tarn16Device::supportsChannelNames() { return true; }

juce::String Tarn16Device::getDefaultMidiInputName (int) { return "Tarn16 Automation"; }

juce::String Tarn16Device::getDefaultMidiOutputName (int) { return "Tarn16 Automation"; }

bool Tarn16Device::isPortPresent()
{
    // A virtual call, so that a Tarn48-XL looks for its own port.
    return MidiPortSystem::getInputNames().contains (getDefaultMidiInputName (0));
}
