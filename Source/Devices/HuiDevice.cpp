#include "HuiDevice.h"

HuiDevice::HuiDevice (const DeviceCatalogue::Model& modelToBe, ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange)
    : QuillmereBaseDevice (parametersToChange)
    , model (modelToBe)
    , protocol (outboxToPostTo)
{
}

HuiDevice::~HuiDevice() = default;

void HuiDevice::sendLevel (int channel, float level) { protocol.sendLevel (channel, level); }

void HuiDevice::sendMute (int channel, bool muted) { protocol.sendMute (channel, muted); }

void HuiDevice::sendChannelName (int channel, const juce::String& name)
{
    if (model.hasScribbleStrips)
        protocol.sendChannelName (channel, name);
}

QuillmereBaseDevice::ParameterChanges HuiDevice::parseIncomingMidi (int channel, const juce::MidiBuffer& messages)
{
    return protocol.parseIncomingMidi (channel, messages);
}

juce::String HuiDevice::getModelName() const { return model.name; }

int HuiDevice::getNumChannels() const { return model.numChannels; }

bool HuiDevice::supportsChannelNames() const { return model.hasScribbleStrips; }

// Every channel of a model is reached through the same ports.
juce::String HuiDevice::getDefaultMidiInputName (int) const { return model.defaultInputName; }

juce::String HuiDevice::getDefaultMidiOutputName (int) const { return model.defaultOutputName; }
