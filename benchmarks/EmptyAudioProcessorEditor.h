#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

/** The baseline editor: the window of an empty JUCE plug-in, as large as Quillmere's, that
    fills itself with one colour and holds nothing.
*/
class EmptyAudioProcessorEditor final : public juce::AudioProcessorEditor
{
public:
    explicit EmptyAudioProcessorEditor (juce::AudioProcessor& owner)
        : juce::AudioProcessorEditor (owner)
    {
        setSize (400, 617);
    }

    void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::white); }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EmptyAudioProcessorEditor)
};
