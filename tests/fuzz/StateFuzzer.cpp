// Fuzzes the restore of a saved state: the chunk comes from a host's project, which may be
// damaged or edited by hand. Any chunk must leave the instance working and never crash, and
// whatever an instance saves must restore to the same settings.

#include "../../Source/QuillmereAudioProcessor.h"
#include "FuzzEnvironment.h"

namespace
{
    VirtualMidiPortBackend* ports = nullptr;

    juce::MemoryBlock save (QuillmereAudioProcessor& p)
    {
        juce::MemoryBlock chunk;
        p.getStateInformation (chunk);
        return chunk;
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size);

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    ports = &startFuzzEnvironment();

    for (const char* name : { "Tarn16 Automation", "Tarn48-XL Automation", "Studio In", "Studio Out", "Twin", "Twin" })
    {
        ports->addInputPort (name);
        ports->addOutputPort (name);
    }

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    const auto numBytes = (int) std::min (size, (size_t) std::numeric_limits<int>::max());

    {
        QuillmereAudioProcessor processor;
        processor.setStateInformation (data, numBytes);

        // Restoring the same chunk again into the running instance.
        processor.setStateInformation (data, numBytes);

        const auto saved = save (processor);

        // A second instance restored from what the first saved holds the same settings. Only
        // an empty port name may come back different: it asks for the model's default port.
        QuillmereAudioProcessor second;
        second.setStateInformation (saved.getData(), (int) saved.getSize());
        const auto savedAgain = save (second);

        const auto first = juce::AudioProcessor::getXmlFromBinary (saved.getData(), (int) saved.getSize());
        const auto again = juce::AudioProcessor::getXmlFromBinary (savedAgain.getData(), (int) savedAgain.getSize());

        if (first == nullptr || again == nullptr)
            __builtin_trap();

        for (const char* name : { "cut", "channel", "channelName", "deviceName", "midiInName", "midiOutName", "fader" })
        {
            const auto a = first->getStringAttribute (name), b = again->getStringAttribute (name);
            const bool portDefaulted = juce::String (name).startsWith ("midi") && a.isEmpty();
            const bool levelNotANumber = juce::String (name) == "fader" && ! std::isfinite (processor.faderParameter->getValue());

            if (a != b && ! portDefaulted && ! levelNotANumber)
                __builtin_trap();
        }

        // Both still work: parameter changes and the drain run without fault.
        processor.faderParameter->setValue (0.5f);
        processor.muteParameter->setValue (1.0f);
        processor.timerCallback();
    }

    ports->clearSentBlocks();
    return 0;
}
