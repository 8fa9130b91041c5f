#include "LinkedConsole.h"

LinkedConsole::LinkedConsole()
{
    ports.install();
    ports.addSendObserver ([counter = bytesSent, name = console.getPortName()] (const juce::String& port, const juce::uint8*, int numBytes)
                           {
        if (port == name)
            counter->fetch_add (numBytes); });
}

LinkedConsole::~LinkedConsole()
{
    instances.clear();
}

QuillmereAudioProcessor& LinkedConsole::link (const juce::String& model, int channel)
{
    auto& p = linkWithoutPorts (model, channel);
    p.setMidiInput (MidiPortSystem::getInputNames().indexOf (console.getPortName()));
    p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf (console.getPortName()));
    p.sendAllToDevice();
    return p;
}

QuillmereAudioProcessor& LinkedConsole::linkWithoutPorts (const juce::String& model, int channel)
{
    instances.push_back (std::make_unique<QuillmereAudioProcessor>());
    auto& p = *instances.back();
    p.setDevice (model);
    p.channel = channel;
    p.setChannelName ("Ch" + juce::String (channel));
    return p;
}
