#include "QuillmereAudioProcessor.h"

#include "support/HostRecorder.h"
#include "support/TestHelpers.h"
#include "support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    /** A processor with the Tarn16's default ports and a second pair present. */
    struct ProcessorTest : public ::testing::Test
    {
        ProcessorTest()
        {
            ports.install();
            ports.addInputPort ("Other In");
            ports.addInputPort ("Tarn16 Automation");
            ports.addOutputPort ("Other Out");
            ports.addOutputPort ("Tarn16 Automation");
        }

        Strings sent() const { return hex (ports.getSentBlocks ("Tarn16 Automation")); }

        VirtualMidiPortBackend ports;
        std::unique_ptr<QuillmereAudioProcessor> processor = std::make_unique<QuillmereAudioProcessor>();
    };

    template<typename Sample>
    void expectBitExactPassThrough (QuillmereAudioProcessor& processor, int numChannels)
    {
        juce::AudioBuffer<Sample> buffer (numChannels, 512);
        juce::Random random (42);

        for (int c = 0; c < numChannels; ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, (Sample) (random.nextDouble() * 2.0 - 1.0));

        // Denormals, infinities and NaN pass untouched as well.
        buffer.setSample (0, 0, std::numeric_limits<Sample>::denorm_min());
        buffer.setSample (0, 1, std::numeric_limits<Sample>::infinity());
        buffer.setSample (0, 2, std::numeric_limits<Sample>::quiet_NaN());

        juce::AudioBuffer<Sample> original;
        original.makeCopyOf (buffer);

        juce::MidiBuffer midi;
        midi.addEvent (juce::MidiMessage::noteOn (1, 60, 0.5f), 10);

        processor.processBlock (buffer, midi);

        for (int c = 0; c < numChannels; ++c)
            EXPECT_EQ (std::memcmp (buffer.getReadPointer (c), original.getReadPointer (c), sizeof (Sample) * (size_t) buffer.getNumSamples()), 0) << "channel " << c;

        ASSERT_EQ (midi.getNumEvents(), 1);
        EXPECT_TRUE ((*midi.begin()).getMessage().isNoteOn());
    }
}

TEST_F (ProcessorTest, AnswersTheHost)
{
    auto& p = *processor;

    EXPECT_EQ (p.getName(), "Quillmere");
    EXPECT_EQ (p.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (p.acceptsMidi());
    EXPECT_FALSE (p.producesMidi());
    EXPECT_TRUE (p.hasEditor());
    EXPECT_FALSE (p.supportsDoublePrecisionProcessing());
    EXPECT_EQ (p.getNumPrograms(), 1);
    EXPECT_EQ (p.getCurrentProgram(), 0);
    p.setCurrentProgram (3);
    EXPECT_EQ (p.getCurrentProgram(), 0);

    for (int index : { -1, 0, 1, 7 })
        EXPECT_EQ (p.getProgramName (index), "Quillmere");

    p.changeProgramName (0, "Other");
    EXPECT_EQ (p.getProgramName (0), "Quillmere");

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    EXPECT_EQ (p.getInputChannelName (0), "1");
    EXPECT_EQ (p.getOutputChannelName (1), "2");
    EXPECT_TRUE (p.isInputChannelStereoPair (0));
    EXPECT_TRUE (p.isOutputChannelStereoPair (5));
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    // Default buses: one stereo input "Input" and one stereo output "Output", both active from
    // the start, so that no wrapper offers them to hosts as optional.
    ASSERT_EQ (p.getBusCount (true), 1);
    ASSERT_EQ (p.getBusCount (false), 1);
    EXPECT_EQ (p.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (p.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (p.getBus (true, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ (p.getBus (false, 0)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_TRUE (p.getBus (true, 0)->isEnabledByDefault());
    EXPECT_TRUE (p.getBus (false, 0)->isEnabledByDefault());

    // Two parameters, in their fixed order, identified by index.
    const auto& parameters = p.getParameters();
    ASSERT_EQ (parameters.size(), 2);
    EXPECT_EQ (parameters[0], p.faderParameter);
    EXPECT_EQ (parameters[1], p.muteParameter);
    EXPECT_EQ (parameters[0]->getName (100), "Level");
    EXPECT_EQ (parameters[1]->getName (100), "Cut");

    // A new instance: no ports, no device, channel 0, nothing sent.
    EXPECT_EQ (p.midiInput, nullptr);
    EXPECT_EQ (p.midiOutput, nullptr);
    EXPECT_EQ (p.device, nullptr);
    EXPECT_EQ (p.channel.load(), 0);
    EXPECT_FALSE (p.isTimerRunning());
    EXPECT_TRUE (p.getChannelName().isEmpty());
}

TEST_F (ProcessorTest, AudioPassesBitExactAndMidiIsUntouched)
{
    processor->setDevice ("Tarn16");
    processor->setMidiOutput (1);
    processor->channel = 3;
    processor->prepareToPlay (48000.0, 512);

    for (int channels : { 1, 2 })
    {
        SCOPED_TRACE (channels);
        expectBitExactPassThrough<float> (*processor, channels);
        expectBitExactPassThrough<double> (*processor, channels);
    }

    processor->releaseResources();
}

TEST_F (ProcessorTest, WithoutDeviceOrPortsParameterChangesSendNothing)
{
    processor->faderParameter->setValue (0.5f);
    processor->muteParameter->setValue (1.0f);
    processor->setChannelName ("Kick");
    processor->sendAllToDevice();

    EXPECT_TRUE (ports.getSentBlocks().empty());
    EXPECT_EQ (processor->getChannelName(), "Kick");
}

TEST_F (ProcessorTest, ChoosingAModelSendsNameMuteAndLevelInThisOrder)
{
    processor->setMidiOutput (1);
    processor->channel = 3;
    processor->setChannelName ("Kick");
    processor->faderParameter->setValue (1.0f);
    processor->muteParameter->setValue (1.0f);
    EXPECT_TRUE (ports.getSentBlocks().empty()); // no device yet

    processor->setDevice ("Tarn16");

    EXPECT_EQ (sent(), (Strings { nameMessage (2, "Kick"), "B0 0C 02 B0 2C 42", "B0 02 7F B0 22 40" }));
}

TEST_F (ProcessorTest, TheSameModelKeepsItsDeviceAndSendsNothing)
{
    processor->setMidiOutput (1);
    processor->channel = 1;
    processor->setDevice ("Tarn16");
    auto* first = processor->device.get();
    ports.clearSentBlocks();

    processor->setDevice ("Tarn16");

    EXPECT_EQ (processor->device.get(), first);
    EXPECT_TRUE (ports.getSentBlocks().empty());

    // The kept device keeps its level cache: an unchanged 8-bit level is not sent again.
    processor->faderParameter->setValue (0.0f);
    EXPECT_TRUE (ports.getSentBlocks().empty());
}

TEST_F (ProcessorTest, ModelNamesMatchExactlyAndOthersRemoveTheDevice)
{
    processor->setMidiOutput (1);
    processor->channel = 1;

    for (const char* name : { "tarn16", "Tarn16 ", " Mira", "MIRA", "", "Tarn48XL" })
    {
        SCOPED_TRACE (name);
        processor->setDevice ("Mira");
        ASSERT_NE (processor->device, nullptr);
        ports.clearSentBlocks();

        processor->setDevice (name);
        EXPECT_EQ (processor->device, nullptr);

        processor->faderParameter->setValue (0.9f);
        processor->setChannelName ("X");
        EXPECT_TRUE (ports.getSentBlocks().empty());
    }
}

TEST_F (ProcessorTest, ReplacingTheDeviceUnregistersTheOldOneFirst)
{
    HostRecorder host (*processor);
    processor->setDevice ("Tarn16");
    auto& manager = *processor->faderParameter->changeManager;

    // The old device is gone as a source: its pointer no longer begins a gesture.
    void* oldDevice = processor->device.get();
    processor->setDevice ("Tarn48-XL");
    ASSERT_NE (processor->device, nullptr);

    if (oldDevice != processor->device.get())
    {
        manager.beginChange (oldDevice);
        EXPECT_FALSE (manager.isAnyActive());
    }

    manager.beginChange (processor->device.get());
    EXPECT_TRUE (manager.isAnyActive());
    manager.endChange (processor->device.get());
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::begin, 0), 1);
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::end, 0), 1);
}

TEST_F (ProcessorTest, DestructionBlanksTheStripBeforeTheDeviceGoesAndClosesThePorts)
{
    processor->setMidiInput (1);
    processor->setMidiOutput (1);
    processor->channel = 5;
    processor->setDevice ("Tarn16");
    processor->setChannelName ("Vox");
    ports.clearSentBlocks();
    ASSERT_EQ (ports.getNumOpenInputs(), 1);
    ASSERT_EQ (ports.getNumOpenOutputs(), 1);

    processor.reset();

    EXPECT_EQ (sent(), (Strings { nameMessage (4, "") }));
    EXPECT_EQ (ports.getNumOpenInputs(), 0);
    EXPECT_EQ (ports.getNumOpenOutputs(), 0);
}

TEST_F (ProcessorTest, DestructionOfAMiraSendsNoBlankingMessage)
{
    processor->setMidiOutput (1);
    processor->channel = 5;
    processor->setDevice ("Mira");
    ports.clearSentBlocks();

    processor.reset();
    EXPECT_TRUE (ports.getSentBlocks().empty());
}

TEST_F (ProcessorTest, ParametersCarryTheIdentifiersHostsStore)
{
    // The index in decimal, as hosts have always stored them; VST3 hosts store a hash of it
    // (48 and 49).
    EXPECT_EQ (processor->faderParameter->getParameterID(), "0");
    EXPECT_EQ (processor->muteParameter->getParameterID(), "1");
}
