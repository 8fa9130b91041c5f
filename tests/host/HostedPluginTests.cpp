#include "HostHelpers.h"

#include "../support/ExpectedIdentity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using namespace host_helpers;

// The plug-in as a host built on JUCE's hosting classes sees it, in each format built here.

namespace
{
    /** What a host reads of the plug-in in one format. */
    struct FormatCase
    {
        const char* formatName;
        const char* category;
        const char* versionText;

        // The channels a fresh instance starts with.
        int initialInputs, initialOutputs;

        // The parameters a host lists, by name and by the identifier it stores in projects.
        std::vector<std::pair<juce::String, juce::String>> parameters;

        // The identifier of the wrapper's "Bypass" parameter among them; empty when the
        // wrapper offers bypassing outside the parameter list.
        juce::String bypassIdentifier;
    };

    /** The VST3 parameters' identifiers as JUCE's hosting classes give them: decimal text. */
    const juce::String vst3LevelId (expected_identity::vst3::levelParameterId);
    const juce::String vst3CutId (expected_identity::vst3::cutParameterId);
    const juce::String vst3BypassId (expected_identity::vst3::bypassParameterId);

    const FormatCase formatCases[] {
        // VST3 identifies a parameter by a hash of its index text; the wrapper adds "Bypass"
        // ('byps') and then parameters that carry MIDI controllers.
        { "VST3", expected_identity::vst3::subCategories, expected_identity::versionText, 1, 1, { { "Level", vst3LevelId }, { "Cut", vst3CutId }, { "Bypass", vst3BypassId } }, vst3BypassId },
        // VST2 identifies a parameter by its index. The vendor version 200 carries one decimal
        // digit per byte of the version code; JUCE's host reads a number below 10000 as
        // thousands for the major version, so it shows 2.0.0 as 0.2.0.0.
        { "VST", "Unknown", "0.2.0.0", 2, 2, { { "Level", "0" }, { "Cut", "1" } }, {} },
        // JUCE 7.0.5's LV2 host reads no version from a bundle, so it shows none (the bundle's
        // own version is read in Lv2InterfaceTests); the host's bypass is the plug-in's
        // "enabled" port, and the parameters' identifiers are IRIs under the plug-in's URI (left
        // empty here: any two that differ will do).
        { "LV2", "Plugin", "", 1, 1, { { "Bypass", "sym:enabled" }, { "Level", "" }, { "Cut", "" } }, "sym:enabled" },
    };

    std::string formatCaseName (const testing::TestParamInfo<FormatCase>& info) { return info.param.formatName; }

    void PrintTo (const FormatCase& format, std::ostream* os) { *os << format.formatName; }

    std::unique_ptr<juce::AudioPluginInstance> load (const juce::String& formatName)
    {
        juce::String error;
        auto instance = loadPlugin (formatName, error);
        EXPECT_NE (instance, nullptr) << error;
        return instance;
    }

    juce::String getIdentifier (juce::AudioProcessorParameter* parameter)
    {
        auto* hosted = dynamic_cast<juce::HostedAudioProcessorParameter*> (parameter);
        return hosted != nullptr ? hosted->getParameterID() : juce::String();
    }

    juce::AudioProcessor::BusesLayout makeLayout (int inputs, int outputs)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (juce::AudioChannelSet::canonicalChannelSet (inputs));
        layout.outputBuses.add (juce::AudioChannelSet::canonicalChannelSet (outputs));
        return layout;
    }

    bool isLv2 (const juce::String& formatName) { return formatName == "LV2"; }

    /** Full-scale noise with extreme and tiny values, so any gain, dither or conversion shows. */
    void fillWithTestSignal (juce::AudioBuffer<float>& buffer, juce::Random& random)
    {
        for (int channel = 0; channel < buffer.getNumChannels(); ++channel)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (channel, i, (random.nextFloat() * 2.0f - 1.0f) * (i % 7 == 0 ? 1.0e-30f : 1.0f));

        buffer.setSample (0, 0, 1.0f);
        buffer.setSample (0, 1, -1.0f);
    }

    /** Processes blocks of the test signal through the instance and compares each output with
        its input bit for bit; the first difference, or empty when there is none.
    */
    juce::String findFirstChangedBlock (juce::AudioPluginInstance& instance, int channels, int blockSize, int blocks)
    {
        juce::Random random (0x5175696c);
        juce::AudioBuffer<float> buffer (channels, blockSize);
        juce::MidiBuffer midi;

        for (int block = 0; block < blocks; ++block)
        {
            fillWithTestSignal (buffer, random);
            const juce::AudioBuffer<float> input (buffer);
            instance.processBlock (buffer, midi);

            for (int channel = 0; channel < channels; ++channel)
                if (std::memcmp (buffer.getReadPointer (channel), input.getReadPointer (channel), sizeof (float) * (size_t) blockSize) != 0)
                    return "block " + juce::String (block) + ", channel " + juce::String (channel);
        }

        return {};
    }

    /** Runs a job on a thread of its own, as a host's audio thread, while this thread goes on
        dispatching messages, as a host's message thread does; returns when the job is done.
    */
    void runOnAudioThreadWhileDispatchingMessages (std::function<void()> job)
    {
        std::atomic<bool> done { false };
        std::thread audioThread (
            [&]
            {
                job();
                done = true;
            });

        while (! done)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);

        audioThread.join();
    }

    /** Dispatches messages until the condition holds or the time runs out; whether it holds. */
    bool dispatchMessagesUntil (std::function<bool()> condition, int timeoutMs = 10000)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;

            juce::MessageManager::getInstance()->runDispatchLoopUntil (10);
        }

        return true;
    }

    // JUCE's LV2 wrapper publishes the ports of the first preferred configuration only.
    constexpr auto lv2StereoLimit = "JUCE's LV2 wrapper publishes the mono ports of the first preferred configuration only";
}

class HostedPluginTest : public testing::TestWithParam<FormatCase>
{
};

TEST_P (HostedPluginTest, DescribesThePluginWithItsMakersIdentity)
{
    const auto& expected = GetParam();
    const auto description = describePlugin (expected.formatName);
    ASSERT_NE (description, nullptr);

    EXPECT_EQ (description->descriptiveName, expected_identity::pluginName);
    EXPECT_EQ (description->manufacturerName, expected_identity::manufacturerName);
    EXPECT_EQ (description->category, juce::String (expected.category));
    EXPECT_EQ (description->version, juce::String (expected.versionText));
    EXPECT_FALSE (description->isInstrument);
    EXPECT_EQ (description->numInputChannels, expected.initialInputs);
    EXPECT_EQ (description->numOutputChannels, expected.initialOutputs);

    const auto instance = load (expected.formatName);
    ASSERT_NE (instance, nullptr);
    EXPECT_FALSE (instance->acceptsMidi());
    EXPECT_FALSE (instance->producesMidi());
}

TEST_P (HostedPluginTest, StartsWithItsMainBusesActiveWithoutTheHostEnablingThem)
{
    const auto& expected = GetParam();
    const auto instance = load (expected.formatName);
    ASSERT_NE (instance, nullptr);

    ASSERT_EQ (instance->getBusCount (true), 1);
    ASSERT_EQ (instance->getBusCount (false), 1);
    EXPECT_TRUE (instance->getBus (true, 0)->isEnabled());
    EXPECT_TRUE (instance->getBus (false, 0)->isEnabled());
    EXPECT_EQ (instance->getTotalNumInputChannels(), expected.initialInputs);
    EXPECT_EQ (instance->getTotalNumOutputChannels(), expected.initialOutputs);
}

TEST_P (HostedPluginTest, ListsLevelCutAndBypassUnderTheIdentifiersHostsStore)
{
    const auto& expected = GetParam();

    const auto instance = load (expected.formatName);
    ASSERT_NE (instance, nullptr);

    const auto& parameters = instance->getParameters();
    ASSERT_GE ((size_t) parameters.size(), expected.parameters.size());

    juce::StringArray identifiers;

    for (size_t i = 0; i < expected.parameters.size(); ++i)
    {
        SCOPED_TRACE ("parameter " + std::to_string (i));
        const auto identifier = getIdentifier (parameters[(int) i]);
        EXPECT_EQ (parameters[(int) i]->getName (100), expected.parameters[i].first);
        EXPECT_TRUE (identifier == expected.parameters[i].second || (expected.parameters[i].second.isEmpty() && identifier.isNotEmpty())) << identifier;
        identifiers.addIfNotAlreadyThere (identifier);
    }

    EXPECT_EQ ((size_t) identifiers.size(), expected.parameters.size()) << "identifiers are not distinct: " << identifiers.joinIntoString (", ");

    // Anything after them is a MIDI controller the VST3 wrapper maps onto a parameter.
    for (auto i = (int) expected.parameters.size(); i < parameters.size(); ++i)
        ASSERT_TRUE (parameters[i]->getName (100).startsWith ("MIDI CC ")) << parameters[i]->getName (100);

    auto* bypass = instance->getBypassParameter();
    ASSERT_NE (bypass, nullptr);
    EXPECT_EQ (bypass->getName (100), "Bypass");

    if (expected.bypassIdentifier.isNotEmpty())
        EXPECT_EQ (getIdentifier (bypass), expected.bypassIdentifier);
    else
        EXPECT_FALSE (parameters.contains (bypass));
}

TEST_P (HostedPluginTest, RestoresTheStateItSavedIntoASecondInstance)
{
    const auto& format = GetParam();
    const auto saving = load (format.formatName);
    const auto restoring = load (format.formatName);
    ASSERT_NE (saving, nullptr);
    ASSERT_NE (restoring, nullptr);

    const auto settings = makeSettingsChunk (R"(<QUILLMERESETTINGS midiInName="" midiOutName="" fader="0.25" cut="1" channel="7" channelName="Lead Vocal" deviceName="Mira"/>)");
    ASSERT_TRUE (writePluginChunk (*saving, settings));

    // Through the host: what it saves of one instance, it gives to the other.
    juce::MemoryBlock saved;
    saving->getStateInformation (saved);
    restoring->setStateInformation (saved.getData(), (int) saved.getSize());

    const auto restored = readSettingsChunk (readPluginChunk (*restoring));
    ASSERT_NE (restored, nullptr);

    for (auto* attribute : { "channel", "channelName", "deviceName", "fader", "cut" })
        EXPECT_EQ (restored->getStringAttribute (attribute), readSettingsChunk (settings)->getStringAttribute (attribute)) << attribute;
}

INSTANTIATE_TEST_SUITE_P (Formats, HostedPluginTest, testing::ValuesIn (formatCases), formatCaseName);

//==============================================================================
namespace
{
    struct LayoutCase
    {
        const char* formatName;
        int inputs, outputs;
        bool accepted;
    };

    std::string layoutCaseName (const testing::TestParamInfo<LayoutCase>& info)
    {
        return info.param.formatName + std::string ("_") + std::to_string (info.param.inputs) + "in" + std::to_string (info.param.outputs) + "out";
    }

    void PrintTo (const LayoutCase& layout, std::ostream* os) { *os << layout.formatName << ", " << layout.inputs << " in, " << layout.outputs << " out"; }
}

// JUCE's VST2 host checks the channel counts only, so the VST2 plug-in's own answer is
// checked through its dispatcher (Vst2InterfaceTests).
class HostedLayoutTest : public testing::TestWithParam<LayoutCase>
{
};

TEST_P (HostedLayoutTest, AcceptsMonoAndStereoAndRefusesMixedLayouts)
{
    const auto& layout = GetParam();

    if (isLv2 (layout.formatName) && layout.inputs == 2 && layout.outputs == 2)
        GTEST_SKIP() << lv2StereoLimit;

    const auto instance = load (layout.formatName);
    ASSERT_NE (instance, nullptr);
    EXPECT_EQ (instance->checkBusesLayoutSupported (makeLayout (layout.inputs, layout.outputs)), layout.accepted);
}

INSTANTIATE_TEST_SUITE_P (Formats,
                          HostedLayoutTest,
                          testing::Values (LayoutCase { "VST3", 1, 1, true },
                                           LayoutCase { "VST3", 2, 2, true },
                                           LayoutCase { "VST3", 1, 2, false },
                                           LayoutCase { "VST3", 2, 1, false },
                                           LayoutCase { "LV2", 1, 1, true },
                                           LayoutCase { "LV2", 2, 2, true },
                                           LayoutCase { "LV2", 1, 2, false },
                                           LayoutCase { "LV2", 2, 1, false }),
                          layoutCaseName);

//==============================================================================
namespace
{
    struct AudioCase
    {
        const char* formatName;
        int channels;
    };

    std::string audioCaseName (const testing::TestParamInfo<AudioCase>& info)
    {
        return info.param.formatName + std::string (info.param.channels == 1 ? "_mono" : "_stereo");
    }

    void PrintTo (const AudioCase& audio, std::ostream* os) { *os << audio.formatName << (audio.channels == 1 ? ", mono" : ", stereo"); }
}

class HostedAudioTest : public testing::TestWithParam<AudioCase>
{
};

TEST_P (HostedAudioTest, PassesAudioThroughBitExact)
{
    const auto& audio = GetParam();

    if (isLv2 (audio.formatName) && audio.channels == 2)
        GTEST_SKIP() << lv2StereoLimit;

    const auto instance = load (audio.formatName);
    ASSERT_NE (instance, nullptr);

    constexpr int blockSize = 256;
    ASSERT_TRUE (instance->setBusesLayout (makeLayout (audio.channels, audio.channels)));
    instance->prepareToPlay (48000.0, blockSize);

    EXPECT_EQ (findFirstChangedBlock (*instance, audio.channels, blockSize, 8), juce::String());

    instance->releaseResources();
}

INSTANTIATE_TEST_SUITE_P (Formats,
                          HostedAudioTest,
                          testing::Values (AudioCase { "VST3", 1 },
                                           AudioCase { "VST3", 2 },
                                           AudioCase { "VST", 1 },
                                           AudioCase { "VST", 2 },
                                           AudioCase { "LV2", 1 },
                                           AudioCase { "LV2", 2 }),
                          audioCaseName);

//==============================================================================
namespace
{
    /** A format processing audio in the layout it starts with, as a validator drives it. */
    struct ProcessingCase
    {
        const char* formatName;
        int channels; // of the layout the format starts with
        const char* scenario;
        bool changesProgram, opensEditor;
    };

    std::string processingCaseName (const testing::TestParamInfo<ProcessingCase>& info)
    {
        return info.param.formatName + std::string ("_") + info.param.scenario;
    }

    void PrintTo (const ProcessingCase& processing, std::ostream* os) { *os << processing.formatName << ", " << processing.scenario; }

    /** The plug-in's window size, which the editor takes once the plug-in's view is open. */
    constexpr int editorWidth = 400, editorHeight = 617;
}

// Run at the rate and block size of the validator that hosts use, with nothing enabled or
// chosen by the host: the instance processes in the layout its format starts it with, on an
// audio thread of its own while the message thread runs. Cases with the editor open need an X
// server and run under xvfb-run (tests/host/CMakeLists.txt).
class HostedProcessingTest : public testing::TestWithParam<ProcessingCase>
{
};

TEST_P (HostedProcessingTest, PassesAudioThroughBitExactInTheLayoutItStartsWithAndAssertsNothing)
{
    const auto& processing = GetParam();

    if (processing.opensEditor && ! hasDisplay())
        GTEST_SKIP() << "the editor needs an X server";

    constexpr double sampleRate = 44100.0;
    constexpr int blockSize = 64;
    constexpr int blocks = 256;

    // The watch ends before the instance is deleted. Deleting the last instance shuts the
    // plug-in's JUCE down, and once the editor has been open, JUCE's image cache is deleted
    // there with its purge timer running, off the plug-in's message thread, which JUCE asserts
    // against: JUCE's shutdown, not the session this test checks.
    std::unique_ptr<juce::AudioPluginInstance> instance;

    {
        AssertionWatch assertions;

        instance = load (processing.formatName);
        ASSERT_NE (instance, nullptr);
        ASSERT_EQ (instance->getTotalNumInputChannels(), processing.channels);
        ASSERT_EQ (instance->getTotalNumOutputChannels(), processing.channels);

        instance->prepareToPlay (sampleRate, blockSize);

        std::unique_ptr<juce::AudioProcessorEditor> editor;

        if (processing.opensEditor)
        {
            editor.reset (instance->createEditorIfNeeded());
            ASSERT_NE (editor, nullptr);
            editor->addToDesktop (0);
            editor->setVisible (true);

            const auto viewIsOpen = [&]
            { return editor->getWidth() == editorWidth && editor->getHeight() == editorHeight; };
            ASSERT_TRUE (dispatchMessagesUntil (viewIsOpen)) << "the plug-in's view did not open: " << editor->getWidth() << " x " << editor->getHeight();
        }

        if (processing.changesProgram)
        {
            ASSERT_GE (instance->getNumPrograms(), 1);
            instance->setCurrentProgram (0);
            EXPECT_EQ (instance->getCurrentProgram(), 0);
        }

        juce::String firstChange;
        const auto process = [&]
        { firstChange = findFirstChangedBlock (*instance, processing.channels, blockSize, blocks); };
        runOnAudioThreadWhileDispatchingMessages (process);
        EXPECT_EQ (firstChange, juce::String());

        editor.reset();
        instance->releaseResources();

        EXPECT_TRUE (assertions.getAssertions().isEmpty()) << assertions.getAssertions().joinIntoString ("\n");
    }
}

INSTANTIATE_TEST_SUITE_P (Formats,
                          HostedProcessingTest,
                          // VST3 hosts are offered no programs to change: the plug-in has one
                          // program and so no program-change parameter.
                          testing::Values (ProcessingCase { "VST3", 1, "fresh", false, false },
                                           ProcessingCase { "VST3", 1, "whileTheEditorIsOpen", false, true },
                                           ProcessingCase { "VST", 2, "fresh", false, false },
                                           ProcessingCase { "VST", 2, "afterSetCurrentProgram", true, false },
                                           ProcessingCase { "VST", 2, "whileTheEditorIsOpen", true, true },
                                           ProcessingCase { "LV2", 1, "fresh", false, false },
                                           ProcessingCase { "LV2", 1, "afterSetCurrentProgram", true, false },
                                           ProcessingCase { "LV2", 1, "whileTheEditorIsOpen", true, true }),
                          processingCaseName);

//==============================================================================
// JUCE's LV2 host connects each audio port to the channel of the host's buffer that it
// stands for, and leaves it unconnected (a null pointer) when the buffer has no such channel.
TEST (HostedLv2Test, AHostThatLeavesTheAudioPortsUnconnectedDoesNotCrashIt)
{
    constexpr int blockSize = 64;

    AssertionWatch assertions;

    {
        const auto instance = load ("LV2");
        ASSERT_NE (instance, nullptr);
        ASSERT_EQ (instance->getTotalNumInputChannels(), 1);
        ASSERT_EQ (instance->getTotalNumOutputChannels(), 1);
        instance->prepareToPlay (44100.0, blockSize);

        juce::AudioBuffer<float> noChannels (0, blockSize);
        juce::MidiBuffer midi;

        for (int block = 0; block < 16; ++block)
            instance->processBlock (noChannels, midi);

        // Connected again, it passes audio through as before.
        EXPECT_EQ (findFirstChangedBlock (*instance, 1, blockSize, 4), juce::String());
        instance->releaseResources();
    }

    EXPECT_TRUE (assertions.getAssertions().isEmpty()) << assertions.getAssertions().joinIntoString ("\n");
}

// The checks above for assertions rely on seeing them: one the host's JUCE reports is seen.
TEST (AssertionWatchTest, SeesAnAssertionThatFailsWhileItWatches)
{
#if JUCE_DEBUG
    AssertionWatch assertions;
    EXPECT_TRUE (assertions.getAssertions().isEmpty());

    juce::logAssertion (__FILE__, __LINE__);

    const auto seen = assertions.getAssertions();
    ASSERT_EQ (seen.size(), 1);
    EXPECT_TRUE (seen[0].contains ("HostedPluginTests.cpp")) << seen[0];
    EXPECT_EQ (assertions.getUnexpectedAssertions(), seen);

    // Tripped on purpose: it fails neither this test nor the program.
    AssertionWatch::expectThoseSeen();
    EXPECT_TRUE (assertions.getUnexpectedAssertions().isEmpty());
#else
    GTEST_SKIP() << "release builds report no assertions";
#endif
}
