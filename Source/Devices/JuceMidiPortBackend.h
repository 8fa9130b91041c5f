#pragma once

#include "MidiPortSystem.h"

/** The system's MIDI ports, through JUCE's MidiInput and MidiOutput. */
class JuceMidiPortBackend final : public MidiPortSystem::Backend
{
public:
    JuceMidiPortBackend() = default;

    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback* callback) override;
    std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiPortBackend)
};
