#include "../support/HostRecorder.h"
#include "../support/LinkedConsoleTest.h"
#include "../support/TestHelpers.h"

#include <gtest/gtest.h>

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    /** Long enough for several of the watcher's rounds on a loaded machine. */
    constexpr int reconnectTimeoutMs = 10000;

    bool holdsPorts (QuillmereAudioProcessor& p, bool shouldHold)
    {
        const auto state = p.getPortState();
        return state.inputOpen == shouldHold && state.outputOpen == shouldHold;
    }

    /** A console behind an interface that can be unplugged and plugged in again. */
    struct ReconnectTest : public LinkedConsoleTest
    {
        void unplug()
        {
            ports.removeInputPort (console.getPortName());
            ports.removeOutputPort (console.getPortName());
        }

        void plugIn()
        {
            ports.addInputPort (console.getPortName());
            ports.addOutputPort (console.getPortName());
        }
    };
}

TEST_F (ReconnectTest, APortThatVanishesIsClosedAndReopenedWhenItComesBack)
{
    auto& p = link ("Tarn16", 3, "Kick");
    p.faderParameter->setValue (0.5f);
    p.muteParameter->setValue (1.0f);
    HostRecorder host (p);
    ports.clearSentBlocks();

    unplug();
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return holdsPorts (p, false); },
                                      reconnectTimeoutMs));

    // The host goes on: nothing goes to the dead handle once it is known dead, and nothing is
    // lost, since the console is told the current values when it comes back.
    const auto deadSends = ports.getNumSendsToDeadPorts();
    p.faderParameter->setValue (0.75f);
    p.muteParameter->setValue (0.0f);
    EXPECT_TRUE (waitUntilSent (p));
    EXPECT_EQ (ports.getNumSendsToDeadPorts(), deadSends);
    EXPECT_EQ (p.getPortState().wantedInName, "Tarn16 Automation");
    EXPECT_EQ (p.getPortState().wantedOutName, "Tarn16 Automation");

    plugIn();
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return holdsPorts (p, true); },
                                      reconnectTimeoutMs));

    // Name, mute and level once each, the level although it may equal the last one sent.
    EXPECT_EQ (hex (ports.getSentBlocks (console.getPortName())), (Strings { nameMessage (2, "Kick"), "B0 0C 02 B0 2C 02", "B0 02 5F B0 22 40" }));
    EXPECT_TRUE (host.describe().empty()); // the host saw nothing of it

    // The reopened input works.
    console.pressCut (2);
    console.releaseCut (2);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::end, 1) == 1; }));
    EXPECT_EQ (p.muteParameter->getValue(), 1.0f);
}

// Unplugged and plugged in again between two of the watcher's rounds: the system lists the
// same names throughout, but the open handles lead nowhere; they are opened again and the
// console is told the strip.
TEST_F (ReconnectTest, AnInterfacePluggedBackBeforeTheWatcherLooksIsOpenedAgain)
{
    auto& p = link ("Tarn16", 3, "Kick");
    p.faderParameter->setValue (0.5f);
    HostRecorder host (p);
    ASSERT_TRUE (waitUntilSent (p));
    ports.clearSentBlocks();

    unplug();
    plugIn();

    // Only a reopened port reaches the console: the old handles lead nowhere.
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return ports.getSentBlocksNow().size() >= 3; },
                                      reconnectTimeoutMs));
    EXPECT_TRUE (holdsPorts (p, true));
    EXPECT_EQ (ports.getNumOpenOutputs(), 1);
    EXPECT_EQ (hex (ports.getSentBlocks (console.getPortName())), (Strings { nameMessage (2, "Kick"), "B0 0C 02 B0 2C 02", "B0 02 3F B0 22 40" }));
    EXPECT_EQ (ports.getNumSendsToDeadPorts(), 0);

    console.pressCut (2);
    console.releaseCut (2);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::end, 1) == 1; }));
}

TEST_F (ReconnectTest, AProjectRestoredWithoutItsPortsKeepsThemAndReconnectsWhenTheyAppear)
{
    const struct
    {
        const char* name;
        const char* chunk;
        const char* wanted; // both sides
    } cases[] = {
        { "Tarn16, named ports", R"(<QUILLMERESETTINGS midiInName="Desk" midiOutName="Desk" fader="0.5" cut="1" channel="2" channelName="Bass" deviceName="Tarn16"/>)", "Desk" },
        { "Tarn16, default ports", R"(<QUILLMERESETTINGS midiInName="" midiOutName="" fader="0.5" cut="1" channel="2" channelName="Bass" deviceName="Tarn16"/>)", "Tarn16 Automation" },
        { "Mira, which suggests none", R"(<QUILLMERESETTINGS midiInName="Desk" midiOutName="Desk" fader="0.5" cut="1" channel="2" channelName="Bass" deviceName="Mira"/>)", "Desk" },
    };

    unplug();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto p = std::make_unique<QuillmereAudioProcessor>();
        const auto chunk = chunkFrom (c.chunk);
        p->setStateInformation (chunk.getData(), (int) chunk.getSize());
        EXPECT_TRUE (holdsPorts (*p, false));

        // Saved on the machine without the console, the project keeps its link.
        const auto xml = savedXml (*p);
        EXPECT_EQ (xml->getStringAttribute ("midiInName"), c.wanted);
        EXPECT_EQ (xml->getStringAttribute ("midiOutName"), c.wanted);

        // Back in the studio.
        ports.addInputPort (c.wanted);
        ports.addOutputPort (c.wanted);
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return holdsPorts (*p, true); },
                                          reconnectTimeoutMs));

        const Strings name = p->device->supportsChannelNames() ? Strings { nameMessage (1, "Bass") } : Strings {};
        auto expected = name;
        expected.push_back ("B0 0C 01 B0 2C 42");
        expected.push_back ("B0 01 3F B0 21 40");
        EXPECT_EQ (hex (ports.getSentBlocks (c.wanted)), expected);

        p.reset();
        ports.removeInputPort (c.wanted);
        ports.removeOutputPort (c.wanted);
        ports.clearSentBlocks();
    }
}

TEST_F (ReconnectTest, APortThatRefusesToOpenStaysWantedAndOpensWhenItStopsRefusing)
{
    auto& p = link ("Tarn16", 1, "Pad");
    ports.addOutputPort ("Spare");
    ports.setFailOpens ("Spare", true);

    p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Spare"));
    EXPECT_FALSE (p.getPortState().outputOpen);
    EXPECT_EQ (savedXml (p)->getStringAttribute ("midiOutName"), "Spare");

    ports.setFailOpens ("Spare", false);
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return p.getPortState().outputOpen; },
                                      reconnectTimeoutMs));

    EXPECT_EQ (hex (ports.getSentBlocks ("Spare")), (Strings { nameMessage (0, "Pad"), "B0 0C 00 B0 2C 02", "B0 00 00 B0 20 00" }));
}

TEST_F (ReconnectTest, NothingListsThePortsWhileNoInstanceWantsOrHoldsOne)
{
    // Instances with a model but no port, as a new instance without its window is.
    std::vector<std::unique_ptr<QuillmereAudioProcessor>> idle;

    for (int i = 0; i < 4; ++i)
    {
        idle.push_back (std::make_unique<QuillmereAudioProcessor>());
        idle.back()->setDevice ("Mira");
    }

    const auto listingsBefore = ports.getNumListings();
    runMessageLoopFor (1500);
    EXPECT_EQ (ports.getNumListings(), listingsBefore);

    // One that holds a port is watched for; when it is gone, the listing stops again.
    auto& linked = link ("Tarn16", 1, "Kick");
    const auto listingsLinked = ports.getNumListings();
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return ports.getNumListings() > listingsLinked; },
                                      reconnectTimeoutMs));

    instances.clear();
    juce::ignoreUnused (linked);
    const auto listingsAfter = ports.getNumListings();
    runMessageLoopFor (1500);
    EXPECT_EQ (ports.getNumListings(), listingsAfter);
}

// A host may end its process with exit() while an instance still watches its ports: the
// watcher's thread leaves the process's exit alone. The process is a child of the test, which
// sees only how it ended.
TEST (PortWatcherAtExit, AProcessThatExitsWithAWatchingInstanceAliveEndsNormally)
{
    // JUCE's own timer thread still runs as such a process exits, and ThreadSanitizer reports
    // the destruction of JUCE's statics under it with an exit code of its own; the abort this
    // test guards against is checked in the other builds.
    if (runsUnderThreadSanitizer())
        GTEST_SKIP() << "exiting with JUCE's threads running races with JUCE's statics, which ThreadSanitizer reports";

    // The child starts afresh rather than as a fork of this process and its threads.
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";

    EXPECT_EXIT (
        {
            // Left alive, as such a host leaves its instances.
            auto* setup = new LinkedConsole();
            setup->link ("Tarn16", 1, "Kick");

            const auto rounds = PortWatcher::getListingCount();
            const auto watched = runMessageLoopUntil ([rounds]
                                                      { return PortWatcher::getListingCount() > rounds; },
                                                      reconnectTimeoutMs);
            std::exit (watched ? 0 : 3);
        },
        ::testing::ExitedWithCode (0),
        "");
}
