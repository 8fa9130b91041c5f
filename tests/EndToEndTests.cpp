#include "HostMessageThread.h"

#include "support/HostRecorder.h"
#include "support/LinkedConsoleTest.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    /** A console on its default ports, and instances linked to it as a user would link them. */
    using EndToEndTest = LinkedConsoleTest;
}

TEST_F (EndToEndTest, HostAutomationMovesTheFaderWithoutRepeats)
{
    auto& p = link ("Tarn16", 3, "Kick");
    const auto before = console.getStrip (2);
    EXPECT_EQ (before.faderLevel, 0);
    EXPECT_EQ (before.text, "Kick");

    // A full sweep on a host thread: 10,000 automation values, 256 distinct 8-bit levels. The
    // host waits for the line after each new 8-bit level, as slow automation does, so that
    // none is replaced by the next before it is written.
    std::thread hostThread ([&]
                            {
        for (int i = 0; i <= 10000; ++i)
        {
            const auto value = (float) i / 10000.0f;
            p.faderParameter->setValue (value);

            if (i > 0 && ConsoleSimulator::eightBitLevelOf (value) != ConsoleSimulator::eightBitLevelOf ((float) (i - 1) / 10000.0f))
                waitUntilSent (p);
        } });
    hostThread.join();

    const auto strip = console.getStrip (2);
    EXPECT_EQ (strip.faderLevel, 255);
    EXPECT_EQ (strip.levelMessages - before.levelMessages, 255); // each new 8-bit level once

    // Automation that stays within one 8-bit step sends nothing.
    for (float v = 0.9990f; v < 1.0f; v += 0.0001f)
        p.faderParameter->setValue (v);
    EXPECT_EQ (console.getStrip (2).levelMessages, strip.levelMessages);

    // The mute follows, once per change the host makes.
    p.muteParameter->setValue (1.0f);
    EXPECT_TRUE (console.getStrip (2).cut);
    p.muteParameter->setValue (0.0f);
    EXPECT_FALSE (console.getStrip (2).cut);
    EXPECT_EQ (console.getStrip (2).muteMessages - before.muteMessages, 2);

    // Other strips heard nothing.
    EXPECT_EQ (console.getStrip (0).levelMessages + console.getStrip (1).levelMessages, 0);
}

TEST_F (EndToEndTest, AFaderMovedAtTheDeskIsRecordedAsOneGesture)
{
    auto& p = link ("Tarn16", 3);
    HostRecorder host (p);

    console.touch (2);
    for (int position : { 2000, 6000, 9000, 12000 })
        console.moveTo (2, position);
    console.release (2);

    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::end, 0) == 1; }));
    settle();

    // Moves may land in one or several timer ticks; either way one gesture, ending on the
    // last position, and the console hears the resulting level back.
    const auto events = host.getEvents();
    ASSERT_GE (events.size(), 3u);
    EXPECT_EQ (events.front().kind, HostRecorder::Event::Kind::begin);
    EXPECT_EQ (events.back().kind, HostRecorder::Event::Kind::end);
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::begin, 0), 1);
    EXPECT_FLOAT_EQ (p.faderParameter->getValue(), (float) (12000 * 4) / 65535.0f);
    EXPECT_EQ (console.getStrip (2).faderLevel, ConsoleSimulator::eightBitLevelOf (p.faderParameter->getValue()));
}

TEST_F (EndToEndTest, CutPressesToggleAndAreAnswered)
{
    auto& p = link ("Tarn16", 8);
    HostRecorder host (p);

    console.pressCut (7);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return console.getStrip (7).cut; }));
    EXPECT_EQ (p.muteParameter->getValue(), 1.0f);
    console.releaseCut (7);
    console.pressCut (7);
    console.releaseCut (7);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::end, 1) == 2; }));
    settle();

    EXPECT_EQ (p.muteParameter->getValue(), 0.0f);
    EXPECT_FALSE (console.getStrip (7).cut);
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 1.00", "end 1", "begin 1", "value 1 0.00", "end 1" }));
}

TEST_F (EndToEndTest, TheNameReachesTheStripAndIsBlankedOnDestruction)
{
    auto& p = link ("Tarn16", 5, "Bass");
    EXPECT_EQ (console.getStrip (4).text, "Bass");

    p.setChannelName ("Bass DI");
    EXPECT_EQ (console.getStrip (4).text, "Bass DI");

    instances.clear();
    EXPECT_EQ (console.getStrip (4).text, "");
}

TEST_F (EndToEndTest, MiraChannelsOneAndNineBothFollowZoneZero)
{
    auto& first = link ("Mira", 1);
    auto& ninth = link ("Mira", 9);

    console.touch (0);
    console.moveTo (0, 8192);
    console.release (0);
    settle();

    EXPECT_NEAR (first.faderParameter->getValue(), 0.500008f, 1e-6);
    EXPECT_NEAR (ninth.faderParameter->getValue(), 0.500008f, 1e-6);

    console.pressCut (0);
    console.releaseCut (0);
    settle();
    EXPECT_EQ (first.muteParameter->getValue(), 1.0f);
    EXPECT_EQ (ninth.muteParameter->getValue(), 1.0f);
    EXPECT_TRUE (console.getStrip (0).cut);

    // No scribble-strip text ever goes to a Mira.
    first.setChannelName ("Kick");
    EXPECT_EQ (console.getStrip (0).nameMessages, 0);
}

TEST_F (EndToEndTest, ATarn48XLBehavesAsATarn16OnItsOwnPorts)
{
    ConsoleSimulator xl (ports, "Tarn48-XL Automation");
    instances.push_back (std::make_unique<QuillmereAudioProcessor>());
    auto& p = *instances.back();

    p.setDevice ("Tarn48-XL");
    p.channel = 2;
    p.setMidiInput (MidiPortSystem::getInputNames().indexOf (p.getDefaultMidiInputName (2)));
    p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf (p.getDefaultMidiOutputName (2)));
    p.setChannelName ("Snare");
    p.faderParameter->setValue (0.75f);

    EXPECT_EQ (p.midiInName, "Tarn48-XL Automation");
    EXPECT_EQ (xl.getStrip (1).text, "Snare");
    EXPECT_EQ (xl.getStrip (1).faderLevel, 191);

    xl.touch (1);
    xl.moveTo (1, 4096);
    xl.release (1);
    xl.waitUntilDelivered();
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return p.faderParameter->getValue() < 0.5f; }));
    EXPECT_FLOAT_EQ (p.faderParameter->getValue(), (float) (4096 * 4) / 65535.0f);

    instances.clear();
    EXPECT_TRUE (xl.getMalformedTraffic().isEmpty()) << xl.getMalformedTraffic().joinIntoString ("\n");
    EXPECT_EQ (console.getTotalMessages(), 0); // the Tarn16's console heard nothing
}

TEST_F (EndToEndTest, HostileValuesAndNamesNeverPutGarbageOnTheLine)
{
    auto& p = link ("Tarn16", 1);

    for (float v : { 1.5f, -2.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f, -0.0f })
        p.faderParameter->setValue (v);

    p.muteParameter->setValue (std::numeric_limits<float>::quiet_NaN());
    p.setChannelName (juce::String::fromUTF8 ("Gr\xc3\xbc\xc3\x9f Gott \xe2\x99\xab\xe2\x99\xab\xe2\x99\xab and more text"));
    EXPECT_EQ (console.getStrip (0).text, "Gr?? Gott ??? and ");

    p.setChannelName (juce::String::charToString (0xf7) + "\x7f");
    EXPECT_EQ (console.getStrip (0).text, "??");

    // With no channel chosen nothing is sent at all.
    const auto total = console.getTotalMessages();
    p.channel = 0;
    p.sendAllToDevice();
    p.faderParameter->setValue (0.3f);
    EXPECT_EQ (console.getTotalMessages(), total);
}

TEST_F (EndToEndTest, InterleavedAndBrokenDeskTrafficIsHandled)
{
    auto& p = link ("Tarn16", 4);

    // A pair whose halves land in different timer ticks is still recognised.
    console.sendPairAcrossTicks (message ("B0 03 40"), message ("B0 23 00"));
    settle();
    EXPECT_NEAR (p.faderParameter->getValue(), 0.500008f, 1e-6);

    // Notes and other channels between halves do not break a pair; a broken pair sets nothing.
    console.sendRaw ({ message ("B0 03 20"), message ("90 40 7F"), message ("B3 23 55"), message ("B0 23 00"),
                       message ("B0 03 10"), message ("B0 05 10"), message ("B0 23 00") });
    settle();
    EXPECT_FLOAT_EQ (p.faderParameter->getValue(), (float) (0x1000 * 4) / 65535.0f);
    EXPECT_EQ (console.getStrip (3).faderLevel, ConsoleSimulator::eightBitLevelOf (p.faderParameter->getValue()));
}

namespace
{
    /** Lets the test play a Linux VST2 or VST3 host that does not serve the plug-in's message
        loop, as the wrappers report it, and gives the loop back to the host at the end.
    */
    struct MessageThreadOfThePluginsOwn final
    {
        MessageThreadOfThePluginsOwn() { HostMessageThread::setServedByHost (false); }
        ~MessageThreadOfThePluginsOwn() { HostMessageThread::setServedByHost (true); }
    };

    /** One block on a thread of its own, as the host's audio thread calls it. */
    void processOneBlockOnAnAudioThread (QuillmereAudioProcessor& p)
    {
        std::thread audio ([&p]
                           {
            juce::AudioBuffer<float> buffer (2, 64);
            buffer.clear();
            juce::MidiBuffer midi;
            p.processBlock (buffer, midi); });
        audio.join();
    }
}

// Where the message loop runs on a thread of the plug-in's own, the host must not be called
// there: the desk's values wait for the audio thread, which tells the host of the newest, and no
// gesture is told until the host serves the message loop again, which hears the end of one it
// heard begin.
TEST_F (EndToEndTest, WithoutTheHostsMessageThreadTheDesksValuesReachTheHostFromTheAudioThread)
{
    auto& p = link ("Tarn16", 3);
    HostRecorder host (p);

    {
        const MessageThreadOfThePluginsOwn own;

        console.touch (2);
        console.moveTo (2, 4000);
        console.moveTo (2, 12000);
        console.release (2);
        console.pressCut (2);
        console.releaseCut (2);
        settle();

        // Nothing told yet, nor set: the audio thread has not run.
        EXPECT_TRUE (host.getEvents().empty()) << testing::PrintToString (host.describe());
        EXPECT_EQ (p.faderParameter->getValue(), 0.0f);

        processOneBlockOnAnAudioThread (p);
        EXPECT_EQ (host.describe(), (Strings { "value 0 0.73", "value 1 1.00" }));
        EXPECT_FLOAT_EQ (p.faderParameter->getValue(), (float) (12000 * 4) / 65535.0f);
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return console.getStrip (2).cut; }));

        // A second block has nothing left to tell.
        processOneBlockOnAnAudioThread (p);
        EXPECT_EQ (host.getEvents().size(), 2u);
    }

    // A gesture the host heard begin, whose end comes while the plug-in runs the loop itself,
    // hears its end once the host serves the loop again.
    host.clear();
    console.touch (2);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::begin, 0) == 1; }));

    {
        const MessageThreadOfThePluginsOwn own;
        console.release (2);
        settle();
        juce::MessageManager::getInstance()->runDispatchLoopUntil (100);
        EXPECT_EQ (host.count (HostRecorder::Event::Kind::end, 0), 0);
    }

    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::end, 0) == 1; }))
        << testing::PrintToString (host.describe());
}
