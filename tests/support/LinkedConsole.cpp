#include "LinkedConsole.h"

#include "TestHelpers.h"

LinkedConsole::LinkedConsole (const juce::String& portName)
    : console (ports, portName)
{
    ports.install();
    ports.addSendObserver ([counter = bytesSent, name = console.getPortName()] (const juce::String& port, const juce::uint8*, int numBytes)
                           {
        if (port == name)
            counter->fetch_add (numBytes); });
}

LinkedConsole::~LinkedConsole()
{
    // The instances close their ports before the backend that provides them goes.
    instances.clear();
}

QuillmereAudioProcessor& LinkedConsole::link (const juce::String& model, int channel, const juce::String& name)
{
    auto& p = linkWithoutPorts (model, channel, name);
    p.setMidiInput (MidiPortSystem::getInputNames().indexOf (console.getPortName()));
    p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf (console.getPortName()));
    p.sendAllToDevice();
    return p;
}

QuillmereAudioProcessor& LinkedConsole::linkWithoutPorts (const juce::String& model, int channel, const juce::String& name)
{
    instances.push_back (std::make_unique<QuillmereAudioProcessor>());
    auto& p = *instances.back();
    p.setDevice (model);
    p.setChannel (channel);
    p.setChannelName (name);
    return p;
}

bool LinkedConsole::settle (int timeoutMs)
{
    console.waitUntilDelivered();
    return testing_helpers::waitUntilDrained (instances, timeoutMs);
}
