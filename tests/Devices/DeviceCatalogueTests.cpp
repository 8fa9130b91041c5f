#include "Devices/DeviceCatalogue.h"
#include "QuillmereAudioProcessor.h"

#include "../support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

TEST (DeviceCatalogue, NamesByIndex)
{
    EXPECT_EQ (QuillmereAudioProcessor::getModelNameForIndex (0), "Tarn16");
    EXPECT_EQ (QuillmereAudioProcessor::getModelNameForIndex (1), "Tarn48-XL");
    EXPECT_EQ (QuillmereAudioProcessor::getModelNameForIndex (2), "Mira");
    EXPECT_EQ (QuillmereAudioProcessor::getModelNameForIndex (3), "");
    EXPECT_EQ (QuillmereAudioProcessor::getModelNameForIndex (-1), "");
}

TEST (DeviceCatalogue, EachModelAnswersItsQueries)
{
    const struct
    {
        const char* model;
        int channels;
        bool names;
        const char* defaultPort;
    } cases[] = {
        { "Tarn16", 8, true, "Tarn16 Automation" },
        { "Tarn48-XL", 8, true, "Tarn48-XL Automation" },
        { "Mira", 16, false, "" },
    };

    QuillmereAudioProcessor processor;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.model);
        processor.setDevice (c.model);
        ASSERT_NE (processor.device, nullptr);

        EXPECT_EQ (processor.device->getModelName(), c.model);
        EXPECT_EQ (processor.getDeviceModelName(), c.model);
        EXPECT_EQ (processor.getNumChannels(), c.channels);
        EXPECT_EQ (processor.device->supportsChannelNames(), c.names);

        // The answer is the same for every channel.
        for (int channel : { 0, 1, 9, 16 })
        {
            EXPECT_EQ (processor.getDefaultMidiInputName (channel), c.defaultPort);
            EXPECT_EQ (processor.getDefaultMidiOutputName (channel), c.defaultPort);
        }
    }
}

TEST (DeviceCatalogue, NoDeviceAnswersEmpty)
{
    QuillmereAudioProcessor processor;

    EXPECT_EQ (processor.getNumChannels(), 0);
    EXPECT_EQ (processor.getDeviceModelName(), "");
    EXPECT_EQ (processor.getDefaultMidiInputName (1), "");
    EXPECT_EQ (processor.getDefaultMidiOutputName (1), "");
}

TEST (DeviceCatalogue, PortPresenceMatchesTheWholeNameExactly)
{
    VirtualMidiPortBackend ports;
    ports.install();

    // The model's default input, looked up as the window looks it up before it opens it.
    const auto presentFor = [] (const juce::String& model)
    {
        const juce::String name = DeviceCatalogue::findModel (model)->defaultInputName;
        return name.isNotEmpty() && MidiPortSystem::getInputNames().contains (name);
    };

    EXPECT_FALSE (presentFor ("Tarn16")); // no input ports at all

    ports.addInputPort ("Tarn16 Automation 2");
    ports.addInputPort ("tarn16 automation");
    ports.addOutputPort ("Tarn16 Automation"); // an output does not count
    EXPECT_FALSE (presentFor ("Tarn16"));

    ports.addInputPort ("Tarn16 Automation");
    EXPECT_TRUE (presentFor ("Tarn16"));
    EXPECT_FALSE (presentFor ("Tarn48-XL")); // looks for its own name
    EXPECT_FALSE (presentFor ("Mira"));      // never suggests a port

    ports.addInputPort ("Tarn48-XL Automation");
    EXPECT_TRUE (presentFor ("Tarn48-XL"));
    EXPECT_FALSE (presentFor ("Mira"));
}
