#include "Ports/PortSender.h"
#include "QuillmereAudioProcessor.h"

#include "../support/TestHelpers.h"
#include "../support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    /** Instances linked to strips of one console behind the output port "Desk", whose sends
        the tests can hold to see what piles up behind a busy line.
    */
    struct PortSenderTest : public ::testing::Test
    {
        PortSenderTest()
        {
            ports.install();
            ports.addOutputPort ("Desk");
            ports.addOutputPort ("Spare");
        }

        ~PortSenderTest() override
        {
            ports.setSendsHeld ("Desk", false);
            instances.clear();
        }

        QuillmereAudioProcessor& link (int channel, const juce::String& output = "Desk")
        {
            instances.push_back (std::make_unique<QuillmereAudioProcessor>());
            auto& p = *instances.back();
            p.setDevice ("Tarn16");
            p.channel = channel;
            p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf (output));
            p.sendAllToDevice();
            ports.clearSentBlocks();
            return p;
        }

        /** Puts a name message on the line and holds it there, so that what follows waits. */
        void occupyTheLine (QuillmereAudioProcessor& p, const juce::String& name)
        {
            ports.setSendsHeld ("Desk", true);
            p.setChannelName (name);
            ASSERT_TRUE (ports.waitForHeldSends (1));
        }

        void freeTheLine() { ports.setSendsHeld ("Desk", false); }

        Strings sent (const juce::String& port = "Desk") const { return hex (ports.getSentBlocks (port)); }

        VirtualMidiPortBackend ports;
        std::vector<std::unique_ptr<QuillmereAudioProcessor>> instances;
    };

    const char* const level03 = "B0 00 26 B0 20 00";
    const char* const level05 = "B0 00 3F B0 20 40";
    const char* const level09 = "B0 00 73 B0 20 00";
    const char* const muteOn = "B0 0C 00 B0 2C 42";
    const char* const muteOff = "B0 0C 00 B0 2C 02";
}

TEST_F (PortSenderTest, BehindABusyLineTheNewestValueOfEachKindTakesThePlaceOfTheFirst)
{
    auto& p = link (1);
    occupyTheLine (p, "A");

    p.faderParameter->setValue (0.1f); // joins the line first ...
    p.faderParameter->setValue (0.2f);
    p.muteParameter->setValue (1.0f);
    p.faderParameter->setValue (0.3f);
    p.setChannelName ("B");
    p.faderParameter->setValue (0.5f); // ... and is replaced by the newest level in its place
    p.muteParameter->setValue (0.0f);

    freeTheLine();
    EXPECT_EQ (sent(), (Strings { nameMessage (0, "A"), level05, muteOff, nameMessage (0, "B") }));
}

TEST_F (PortSenderTest, UnderLightLoadEveryChangeGoesOutInOrder)
{
    auto& p = link (1);

    // Each change written before the next is made: nothing coalesces.
    const std::pair<float, const char*> levels[] = { { 0.3f, level03 }, { 0.5f, level05 }, { 0.9f, level09 } };
    Strings expected;

    for (const auto& [value, bytes] : levels)
    {
        p.faderParameter->setValue (value);
        ASSERT_TRUE (waitUntilSent (p));
        expected.push_back (bytes);
    }

    EXPECT_EQ (sent(), expected);
}

TEST_F (PortSenderTest, TheLevelCacheComparesWithWhatTheConsoleReceivedWhenItWrites)
{
    auto& p = link (1);
    p.faderParameter->setValue (0.5f);
    ASSERT_TRUE (waitUntilSent (p));
    ports.clearSentBlocks();

    // A change and its undoing made while the line is busy: the console shows 0.5 already,
    // so nothing more is written.
    occupyTheLine (p, "A");
    p.faderParameter->setValue (0.9f);
    p.faderParameter->setValue (0.5f);
    freeTheLine();
    EXPECT_EQ (sent(), (Strings { nameMessage (0, "A") }));
    ports.clearSentBlocks();

    // A level the console has received is followed by one it has not: both go out, though the
    // second equals what was cached when it was made.
    ports.setSendsHeld ("Desk", true);
    p.faderParameter->setValue (0.9f);
    ASSERT_TRUE (ports.waitForHeldSends (1)); // 0.9 is on the line
    p.faderParameter->setValue (0.5f);
    freeTheLine();
    EXPECT_EQ (sent(), (Strings { level09, level05 }));
}

TEST_F (PortSenderTest, InstancesSharingAPortTakeTurns)
{
    auto& first = link (1);
    auto& second = link (2);
    auto& third = link (3);

    occupyTheLine (first, "A");

    for (auto* p : { &first, &second, &third })
    {
        p->faderParameter->setValue (0.5f);
        p->muteParameter->setValue (1.0f);
    }

    freeTheLine();

    // After the first instance's name, one message each in turn, from the next instance on.
    EXPECT_EQ (sent(), (Strings { nameMessage (0, "A"), "B0 01 3F B0 21 40", "B0 02 3F B0 22 40", level05, "B0 0C 01 B0 2C 42", "B0 0C 02 B0 2C 42", muteOn }));
}

TEST_F (PortSenderTest, TheSenderNeverWritesFasterThanTheConsolesMidiLine)
{
    auto& p = link (1);

    // Twenty changes, each written before the next is made, as slow automation is.
    constexpr int numChanges = 20;

    for (int i = 0; i < numChanges; ++i)
    {
        p.faderParameter->setValue ((i % 2) == 0 ? 0.3f : 0.9f);
        ASSERT_TRUE (waitUntilSent (p));
    }

    // Each six-byte message holds the line 1.92 ms, so the twentieth leaves no sooner than
    // nineteen such times after the first (less a little for the clock readings around them).
    const auto blocks = ports.getSentBlocks();
    ASSERT_EQ (blocks.size(), (size_t) numChanges);
    EXPECT_GE (blocks.back().seconds - blocks.front().seconds, (numChanges - 1) * 6 * 320e-6 * 0.95);
}

//==============================================================================
// What an instance made before its port, model or state changed, or before it was destroyed,
// reaches the port that was current then; nothing reaches a port after it has been closed (a
// deleted handle would show under AddressSanitizer).
TEST_F (PortSenderTest, MessagesMadeBeforeAPortSwitchOrARestoreGoToTheOldPort)
{
    const juce::String restoreToSpare = R"(<QUILLMERESETTINGS midiInName="" midiOutName="Spare" fader="0.9" cut="0" channel="1" channelName="R" deviceName="Tarn16"/>)";

    const struct
    {
        const char* name;
        std::function<void (QuillmereAudioProcessor&)> change;
        Strings toSpare;
    } cases[] = {
        { "port switch", [] (QuillmereAudioProcessor& p)
          { p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Spare")); },
          { nameMessage (0, "Old"), muteOn, level05 } },
        { "restore", [&] (QuillmereAudioProcessor& p)
          {
              const auto chunk = chunkFrom (restoreToSpare);
              p.setStateInformation (chunk.getData(), (int) chunk.getSize());
          },
          { level09, muteOff, nameMessage (0, "R") } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        instances.clear();
        auto& p = link (1);

        // Made at once, so that most of them still wait when the port changes.
        p.faderParameter->setValue (0.5f);
        p.muteParameter->setValue (1.0f);
        p.setChannelName ("Old");

        // What the new port gets is held until the change is done, so that its repeats
        // coalesce whatever the timing.
        ports.setSendsHeld ("Spare", true);
        c.change (p);
        ports.setSendsHeld ("Spare", false);

        EXPECT_EQ (sent ("Desk"), (Strings { level05, muteOn, nameMessage (0, "Old") }));
        EXPECT_EQ (sent ("Spare"), c.toSpare);
        ports.clearSentBlocks();
    }
}

TEST_F (PortSenderTest, MessagesMadeBeforeTheModelChangesOrTheInstanceGoesAreWritten)
{
    auto& p = link (1);

    // The line is busy while the device that made the messages is deleted.
    occupyTheLine (p, "A");
    p.faderParameter->setValue (0.5f);
    p.muteParameter->setValue (1.0f);
    p.setDevice ({});
    freeTheLine();
    EXPECT_EQ (sent(), (Strings { nameMessage (0, "A"), level05, muteOn }));
    ports.clearSentBlocks();

    // Destroyed right after its last changes: they and the blank name go out before the port
    // closes, and the sender lets go of it.
    p.setDevice ("Tarn16");
    ASSERT_TRUE (waitUntilSent (p));
    ports.clearSentBlocks();
    p.faderParameter->setValue (0.9f);
    p.muteParameter->setValue (0.0f);
    instances.clear();

    EXPECT_EQ (ports.getNumOpenOutputs(), 0);
    EXPECT_EQ (sent(), (Strings { level09, muteOff, nameMessage (0, "") }));
}

//==============================================================================
// A console reached through a port the instance has not used before knows nothing of its
// strip, whatever the console behind the old port was told last: it hears the whole strip.
TEST_F (PortSenderTest, AConsoleNewlyReachedHearsTheWholeStripWhateverTheOldOneHeardLast)
{
    const juce::String restoreToSpare = R"(<QUILLMERESETTINGS midiInName="" midiOutName="Spare" fader="0.5" cut="0" channel="1" channelName="R" deviceName="Tarn16"/>)";

    const struct
    {
        const char* name;
        std::function<void (QuillmereAudioProcessor&)> change;
        Strings toSpare;
    } cases[] = {
        { "restore of the same model and level", [&] (QuillmereAudioProcessor& p)
          {
              const auto chunk = chunkFrom (restoreToSpare);
              p.setStateInformation (chunk.getData(), (int) chunk.getSize());
          },
          { level05, muteOff, nameMessage (0, "R") } },
        { "port switch", [] (QuillmereAudioProcessor& p)
          { p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Spare")); },
          { nameMessage (0, ""), muteOff, level05 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        instances.clear();
        auto& p = link (1);

        // The console on Desk shows 0.5.
        p.faderParameter->setValue (0.5f);
        ASSERT_TRUE (waitUntilSent (p));
        ASSERT_EQ (sent ("Desk"), (Strings { level05 }));

        ports.setSendsHeld ("Spare", true);
        c.change (p);
        ports.setSendsHeld ("Spare", false);

        EXPECT_EQ (sent ("Spare"), c.toSpare);
        ports.clearSentBlocks();
    }
}

// A driver that never returns from a send (an interface that hangs) holds up only the thread
// that writes to it: switching the port, saving, restoring and closing the instance all finish
// while the send is still stuck, and the port is closed once the driver lets go.
TEST_F (PortSenderTest, AStuckDriverHoldsUpNoSwitchSaveRestoreOrClose)
{
    const auto restoreToSpare = chunkFrom (R"(<QUILLMERESETTINGS midiInName="" midiOutName="Spare" fader="0.5" cut="0" channel="1" channelName="R" deviceName="Tarn16"/>)");

    const struct
    {
        const char* name;
        std::function<void()> action;
        int portsOpenAfter;
    } cases[] = {
        { "port switch", [this]
          { instances.back()->setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Spare")); },
          1 },
        { "save while a port switch closes the stuck port", [this]
          {
              auto& p = *instances.back();
              std::thread switcher ([&p]
                                    { p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Spare")); });
              juce::MemoryBlock saved;
              p.getStateInformation (saved);
              switcher.join();
          },
          1 },
        { "restore onto another port", [&]
          { instances.back()->setStateInformation (restoreToSpare.getData(), (int) restoreToSpare.getSize()); },
          1 },
        { "instance closed", [this]
          { instances.clear(); },
          0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        instances.clear();
        auto& p = link (1);
        occupyTheLine (p, "Stuck");

        std::atomic<bool> done { false };
        std::thread host ([&]
                          { c.action(); done = true; });

        const auto finished = runMessageLoopUntil ([&]
                                                   { return done.load(); },
                                                   10000);
        const auto stillStuck = ports.waitForHeldSends (1, 0);

        // Whatever happened, the driver lets go now, so that nothing waits for ever.
        freeTheLine();
        host.join();

        EXPECT_TRUE (finished) << "waited for the driver";
        EXPECT_TRUE (stillStuck);
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return ports.getNumOpenOutputs() == c.portsOpenAfter; }));
        EXPECT_EQ (ports.getNumSendsToDeadPorts(), 0);
        ports.clearSentBlocks();
    }
}

// Once one close has waited the whole bound for a driver that does not return, the line is
// known to be stuck: a port switch waits that bound once, not again when the port's sender
// goes, and every later close on the line returns at once, however many instances close.
TEST_F (PortSenderTest, AStuckLineHoldsUpClosesForOneBoundInAll)
{
    const auto bound = std::chrono::duration<double, std::milli> (PortSender::closeBound).count();

    const struct
    {
        const char* name;
        int numInstances;
        std::function<void()> action;
        double maxBounds; // each close waiting a bound would take more than twice this
    } cases[] = {
        { "port switch", 1, [this]
          { instances.back()->setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Spare")); },
          1.8 },
        { "twelve instances closed", 12, [this]
          { instances.clear(); },
          4.0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        instances.clear();

        for (int i = 0; i < c.numInstances; ++i)
            link (1 + i % 8);

        occupyTheLine (*instances.front(), "Stuck");

        std::atomic<double> elapsedMs { -1.0 };
        std::thread host ([&]
                          {
            const auto start = std::chrono::steady_clock::now();
            c.action();
            elapsedMs = std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count(); });

        runMessageLoopUntil ([&]
                             { return elapsedMs.load() >= 0.0; },
                             20000);
        freeTheLine();
        host.join();

        EXPECT_LT (elapsedMs.load(), c.maxBounds * bound);

        // The stuck thread lets go of the port by itself, once the driver has returned.
        instances.clear();
        EXPECT_TRUE (runMessageLoopUntil ([this]
                                          { return ports.getNumOpenOutputs() == 0; }));
        ports.clearSentBlocks();
    }
}

// A host may close the last instance while its port's driver is stuck, shut JUCE down and
// unload the module. The sender's thread, left in the driver, must not close the port when
// the driver returns: JUCE's port classes are gone by then. It leaves the port open. Run in a
// child process, as the shutdown is for good.
TEST_F (PortSenderTest, AThreadLeftInADriverLeavesItsPortOpenOnceJuceHasShutDown)
{
    GTEST_FLAG_SET (death_test_style, "threadsafe");

    EXPECT_EXIT (
        {
            link (1);
            occupyTheLine (*instances.back(), "Stuck");
            instances.clear();
            juce::shutdownJuce_GUI();
            freeTheLine();

            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (5);

            while (PortSender::getNumPortsLeftOpen() == 0 && ports.getNumOpenOutputs() != 0 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));

            if (ports.getNumOpenOutputs() == 0)
                std::fputs ("the port was closed after JUCE had shut down\n", stderr);

            // A JUCE assertion tripped here is a failure of this test too.
            std::_Exit (PortSender::getNumPortsLeftOpen() == 1 && ports.getNumOpenOutputs() == 1 && ! HasFailure() ? 0 : 1);
        },
        testing::ExitedWithCode (0),
        "");
}
