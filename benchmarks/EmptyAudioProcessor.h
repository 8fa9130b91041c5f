#pragma once

#include "EmptyAudioProcessorEditor.h"

/** The baseline plug-in: a JUCE audio processor that does nothing at all, with the same buses
    as Quillmere (JUCE's default constructor reads the same channel configurations).
*/
class EmptyAudioProcessor final : public juce::AudioProcessor
{
public:
    EmptyAudioProcessor() = default;

    const juce::String getName() const override { return "Empty"; }
    void prepareToPlay (double, int) override {}
    void releaseResources() override {}
    void processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) override {}
    void processBlock (juce::AudioBuffer<double>&, juce::MidiBuffer&) override {}
    double getTailLengthSeconds() const override { return 0.0; }
    bool acceptsMidi() const override { return false; }
    bool producesMidi() const override { return false; }
    bool hasEditor() const override { return true; }
    juce::AudioProcessorEditor* createEditor() override { return new EmptyAudioProcessorEditor (*this); }
    int getNumPrograms() override { return 1; }
    int getCurrentProgram() override { return 0; }
    void setCurrentProgram (int) override {}
    const juce::String getProgramName (int) override { return {}; }
    void changeProgramName (int, const juce::String&) override {}
    void getStateInformation (juce::MemoryBlock&) override {}
    void setStateInformation (const void*, int) override {}

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EmptyAudioProcessor)
};
