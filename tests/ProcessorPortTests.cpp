#include "Devices/HuiChannelProtocol.h"
#include "Editor/QuillmereAudioProcessorEditor.h"
#include "Ports/JuceMidiPortBackend.h"
#include "Ports/PortWatcher.h"
#include "QuillmereAudioProcessor.h"
#include "QuillmereSettingsChunk.h"

#include "support/ConsoleProcess.h"
#include "support/HostRecorder.h"
#include "support/SequencerDesk.h"
#include "support/TestHelpers.h"
#include "support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

using namespace testing_helpers;

namespace
{
    struct ProcessorPortTest : public ::testing::Test
    {
        ProcessorPortTest()
        {
            ports.install();
            ports.addInputPort ("Desk A");
            ports.addInputPort ("Desk B");
            ports.addOutputPort ("Out A");
            ports.addOutputPort ("Out B");
        }

        /** A fader move for zone 0 in one batch: touch, position, release. */
        static std::vector<juce::MidiMessage> faderMoveOnZone0 (int msb)
        {
            return { message ("B0 0F 00"), message ("B0 2F 40"), message ("B0 00 " + hexByte (msb)), message ("B0 20 00"), message ("B0 0F 00"), message ("B0 2F 00") };
        }

        VirtualMidiPortBackend ports;
        std::unique_ptr<QuillmereAudioProcessor> processor = std::make_unique<QuillmereAudioProcessor>();
    };
}

TEST_F (ProcessorPortTest, OpeningPortsByIndex)
{
    auto& p = *processor;

    p.setMidiInput (1);
    ASSERT_NE (p.midiInput, nullptr);
    EXPECT_EQ (p.midiInName, "Desk B");
    EXPECT_TRUE (p.isTimerRunning());
    EXPECT_EQ (p.getTimerInterval(), 20);

    p.setMidiOutput (0);
    ASSERT_NE (p.midiOutput, nullptr);
    EXPECT_EQ (p.midiOutName, "Out A");

    // Out-of-range indices close the current port and open nothing.
    p.setMidiInput (7);
    EXPECT_EQ (p.midiInput, nullptr);
    EXPECT_TRUE (p.midiInName.isEmpty());
    EXPECT_FALSE (p.isTimerRunning());

    p.setMidiOutput (-1);
    EXPECT_EQ (p.midiOutput, nullptr);
    EXPECT_TRUE (p.midiOutName.isEmpty());
    EXPECT_EQ (ports.getNumOpenInputs(), 0);
    EXPECT_EQ (ports.getNumOpenOutputs(), 0);
}

TEST_F (ProcessorPortTest, PortsThatFailToOpenLeaveNothingOpen)
{
    auto& p = *processor;
    p.setDevice ("Tarn16");
    p.setMidiOutput (0);
    p.setMidiInput (0);

    ports.setFailOpens ("Desk B", true);
    ports.setFailOpens ("Out B", true);

    p.setMidiInput (1);
    EXPECT_EQ (p.midiInput, nullptr);
    EXPECT_TRUE (p.midiInName.isEmpty());
    EXPECT_FALSE (p.isTimerRunning());

    p.setMidiOutput (1);
    EXPECT_EQ (p.midiOutput, nullptr);
    EXPECT_FALSE (p.outbox.isAttached());
    EXPECT_EQ (p.midiOutName, "Out B"); // the chosen name stays, as the list shows it

    // The device now drops its sends.
    p.channel = 1;
    ports.clearSentBlocks();
    p.faderParameter->setValue (0.3f);
    EXPECT_TRUE (ports.getSentBlocks().empty());
}

TEST_F (ProcessorPortTest, TheDeviceFollowsTheOutputPort)
{
    auto& p = *processor;
    p.channel = 1;
    p.setDevice ("Tarn16");
    p.setMidiOutput (0);
    EXPECT_TRUE (p.outbox.isAttached());
    ASSERT_TRUE (ports.waitUntilSent());
    ports.clearSentBlocks();

    // The console newly reached is told the whole strip, in the order a new device tells it.
    p.faderParameter->setValue (0.5f);
    ASSERT_TRUE (ports.waitUntilSent());
    p.setMidiOutput (1);
    EXPECT_TRUE (p.outbox.isAttached());
    ASSERT_TRUE (ports.waitUntilSent());
    p.muteParameter->setValue (1.0f);

    EXPECT_EQ (hex (ports.getSentBlocks ("Out A")), (std::vector<std::string> { "B0 00 3F B0 20 40" }));
    EXPECT_EQ (hex (ports.getSentBlocks ("Out B")), (std::vector<std::string> { nameMessage (0, ""), "B0 0C 00 B0 2C 02", "B0 00 3F B0 20 40", "B0 0C 00 B0 2C 42" }));
}

TEST_F (ProcessorPortTest, OnlyTheOpenInputIsQueuedAndTheTimerDrainsIt)
{
    auto& p = *processor;
    p.channel = 1;
    p.setDevice ("Tarn16");
    p.setMidiInput (0);

    // A message from another port (here a second open handle) is not queued.
    auto otherPort = MidiPortSystem::openInput (1, &p);
    p.handleIncomingMidiMessage (otherPort.get(), message ("B0 0F 00"));
    p.handleIncomingMidiMessage (nullptr, message ("B0 0F 00"));
    {
        const juce::ScopedLock sl (p.incomingMidiLock);
        EXPECT_TRUE (p.incomingMidi.isEmpty());
    }
    otherPort.reset();

    // The other port's console moving its fader changes nothing.
    ports.deliver ("Desk B", faderMoveOnZone0 (0x40));
    ports.waitUntilDelivered();
    runMessageLoopFor (60);
    EXPECT_EQ (p.faderParameter->getValue(), 0.0f);

    // Delivered on the driver thread, queued, and applied by the timer on the message thread.
    ports.deliver ("Desk A", faderMoveOnZone0 (0x40));
    ports.waitUntilDelivered();
    EXPECT_EQ (p.faderParameter->getValue(), 0.0f); // nothing is parsed on the driver thread
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return p.faderParameter->getValue() != 0.0f; }));
    EXPECT_NEAR (p.faderParameter->getValue(), 0.500008f, 1e-6);

    const juce::ScopedLock sl (p.incomingMidiLock);
    EXPECT_TRUE (p.incomingMidi.isEmpty());
}

TEST_F (ProcessorPortTest, MessagesWithoutADeviceAreDropped)
{
    auto& p = *processor;
    p.channel = 1;
    p.setMidiInput (0);

    ports.deliver ("Desk A", faderMoveOnZone0 (0x40));
    ports.waitUntilDelivered();
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      {
        const juce::ScopedLock sl (p.incomingMidiLock);
        return p.incomingMidi.isEmpty(); }));

    // A device installed afterwards does not see the dropped messages.
    p.setDevice ("Tarn16");
    runMessageLoopFor (60);
    EXPECT_EQ (p.faderParameter->getValue(), 0.0f);
}

TEST_F (ProcessorPortTest, ReopeningTheSameInputKeepsQueuedMessages)
{
    auto& p = *processor;
    p.channel = 1;
    p.setDevice ("Tarn16");
    p.setMidiInput (0);

    // Queue a move but keep the message loop from draining it.
    ports.deliver ("Desk A", faderMoveOnZone0 (0x20));
    ports.waitUntilDelivered();

    p.setMidiInput (0);
    ASSERT_NE (p.midiInput, nullptr);
    EXPECT_EQ (ports.getNumOpenInputs(), 1);
    EXPECT_TRUE (p.isTimerRunning());

    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return p.faderParameter->getValue() != 0.0f; }));
    EXPECT_NEAR (p.faderParameter->getValue(), HuiChannelProtocol::positionToLevel (0x20 * 128), 1e-7);

    // And the reopened port delivers.
    ports.deliver ("Desk A", faderMoveOnZone0 (0x60));
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return p.faderParameter->getValue() > 0.7f; }));
}

TEST_F (ProcessorPortTest, MovesFromTheConsoleReachTheHostInsideOneGesture)
{
    auto& p = *processor;
    HostRecorder host (p);
    p.channel = 1;
    p.setDevice ("Tarn16");
    p.setMidiInput (0);
    p.setMidiOutput (0);
    ports.clearSentBlocks();

    ports.deliver ("Desk A", faderMoveOnZone0 (0x40));
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::end, 0) == 1; }));

    EXPECT_EQ (host.describe(), (std::vector<std::string> { "begin 0", "value 0 0.50", "end 0" }));

    // The new level is answered to the console.
    EXPECT_EQ (hex (ports.getSentBlocks ("Out A")), (std::vector<std::string> { "B0 00 40 B0 20 00" }));
}

// JUCE's ALSA client ends its reading thread when its last started input stops, and a start
// that follows at once finds that thread still finishing and starts none. An open output keeps
// the client alive through the reopen, so an input reopened then, on the same port or another,
// must still hear the desk.
TEST (ProcessorOnTheSequencer, AnInputReopenedWhileAnOutputIsOpenHearsTheDesk)
{
    if (! hasSequencer())
        GTEST_SKIP() << "no MIDI sequencer (/dev/snd/seq, or the test sequencer's router)";

    SequencerDesk first ("Reopen Desk A"), second ("Reopen Desk B");

    const auto choose = [] (const char* name)
    {
        return [name] (QuillmereAudioProcessor& p)
        { p.setMidiInput (MidiPortSystem::getInputNames().indexOf (name)); };
    };

    const auto restore = [] (const char* name)
    {
        return [name] (QuillmereAudioProcessor& p)
        {
            QuillmereSettingsChunk::Settings settings;
            settings.modelName = "Tarn16";
            settings.channel = 1;
            settings.midiInName = name;
            settings.midiOutName = "Reopen Desk A";
            const auto chunk = QuillmereSettingsChunk::write (settings);
            p.setStateInformation (chunk.getData(), (int) chunk.getSize());
        };
    };

    const struct
    {
        const char* name;
        std::function<void (QuillmereAudioProcessor&)> reopen;
        SequencerDesk& desk;
        const char* inputName;
    } cases[] = {
        { "the same input chosen again", choose ("Reopen Desk A"), first, "Reopen Desk A" },
        { "another input chosen", choose ("Reopen Desk B"), second, "Reopen Desk B" },
        { "a project restored with the same input", restore ("Reopen Desk A"), first, "Reopen Desk A" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        QuillmereAudioProcessor p;
        p.setDevice ("Tarn16");
        p.setChannel (1);
        p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Reopen Desk A"));
        p.setMidiInput (MidiPortSystem::getInputNames().indexOf ("Reopen Desk A"));
        ASSERT_TRUE (p.getPortState().outputOpen);

        c.reopen (p);
        ASSERT_TRUE (p.getPortState().inputOpen);
        ASSERT_EQ (p.getPortState().inName, c.inputName);

        const auto before = p.faderParameter->getValue();
        c.desk.sendControllers (ProcessorPortTest::faderMoveOnZone0 (0x60));
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return p.faderParameter->getValue() != before; }));
    }
}

// JUCE writes a strip's zone select and its switch as two sequencer events, so another program
// connected to write to the console's port can put its own events between them. The backend
// tells whether one is, the instance's watcher carries the answer into its port state, and the
// window draws the output's name in amber with a tooltip. Another instance in the same process
// does not count: the instances on a port share its one sender thread, which keeps each pair
// together.
TEST (ProcessorOnTheSequencer, AnotherProgramWritingToTheConsolesPortIsShownInTheWindow)
{
    if (! hasSequencer())
        GTEST_SKIP() << "no MIDI sequencer (/dev/snd/seq, or the test sequencer's router)";

    // The console process plays the other program: its own port, connected on command.
    ConsoleProcess otherProgram;
    ASSERT_TRUE (otherProgram.start ({ "--port", "Other Program", "--client", "Other Program" })) << otherProgram.getError();

    // Text drawn in the warning colour, antialiased, anywhere in the component's picture.
    const auto amberPixels = [] (juce::Component& component)
    {
        const auto image = component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
        const juce::Colour warning (QuillmereAudioProcessorEditor::sharedStripColour);
        int count = 0;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
            {
                const auto pixel = image.getPixelAt (x, y);
                count += std::abs (pixel.getRed() - warning.getRed()) < 40 && std::abs (pixel.getGreen() - warning.getGreen()) < 40 && std::abs (pixel.getBlue() - warning.getBlue()) < 50 ? 1 : 0;
            }

        return count;
    };

    const struct
    {
        const char* name;
        bool otherProgramWrites, otherInstanceWrites, othersWrite;
    } cases[] = {
        { "no other writer", false, false, false },
        { "another program connected to the console's port", true, false, true },
        { "another instance of this process on the console's port", false, true, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        // A console of its own for each case: the other program's connection goes with it.
        SequencerDesk console ("Shared Console");
        QuillmereAudioProcessor p;
        p.setDevice ("Tarn16");
        p.setMidiOutputByName ("Shared Console");
        ASSERT_TRUE (p.getPortState().outputOpen);
        std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditor());
        auto& window = dynamic_cast<QuillmereAudioProcessorEditor&> (*editor);

        std::unique_ptr<QuillmereAudioProcessor> neighbour;

        if (c.otherInstanceWrites)
        {
            neighbour = std::make_unique<QuillmereAudioProcessor>();
            neighbour->setDevice ("Tarn16");
            neighbour->setChannel (2);
            neighbour->setMidiOutputByName ("Shared Console");
            ASSERT_TRUE (neighbour->getPortState().outputOpen);
        }

        if (c.otherProgramWrites)
        {
            otherProgram.run ("write-to Shared Console");
            ASSERT_TRUE (otherProgram.getError().isEmpty()) << otherProgram.getError();
        }

        JuceMidiPortBackend backend;
        const auto probe = backend.openOutput (backend.getOutputNames().indexOf ("Shared Console"));
        ASSERT_NE (probe, nullptr);
        EXPECT_EQ (probe->isWrittenByOthers(), c.othersWrite);

        // Two of the watcher's rounds begin after the connection: one ran whole.
        const auto round = PortWatcher::getListingCount();
        ASSERT_TRUE (runMessageLoopUntil ([&]
                                          { return PortWatcher::getListingCount() >= round + 2; },
                                          10000));
        EXPECT_EQ (p.getPortState().outputWrittenByOthers, c.othersWrite);

        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return (amberPixels (window.midiOutputBox) > 0) == c.othersWrite; },
                                          5000));
        EXPECT_EQ (window.midiOutputBox.getTooltip().contains ("Another program also writes to this port"), c.othersWrite);
        EXPECT_EQ (amberPixels (window.midiInputBox), 0);
    }
}
