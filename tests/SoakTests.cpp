#include "support/HostRecorder.h"
#include "support/LinkedConsole.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

using namespace testing_helpers;

namespace
{
    /** How long the soak runs: QUILLMERE_SOAK_SECONDS (CI's thread-sanitizer run sets a
        minute), else a few seconds for a quick run while working.
    */
    int getSoakSeconds()
    {
        const auto fromEnvironment = juce::SystemStats::getEnvironmentVariable ("QUILLMERE_SOAK_SECONDS", {}).getIntValue();
        return fromEnvironment > 0 ? fromEnvironment : 3;
    }

    const char* const models[] = { "Tarn16", "Tarn48-XL", "Mira" };
    const char* const names[] = { "Kick", "Snare", "Bass", "Vox", "Gtr(L)", "Keys+", "Room", "Pad/2" };

    /** An instance's zone on the console; each instance holds its own. */
    int zoneOf (const QuillmereAudioProcessor& p)
    {
        return (p.channel.load() - 1) % 8;
    }

    /** Host gestures must open and close strictly in turn, parameter by parameter. */
    juce::String findGestureFault (const HostRecorder& host)
    {
        int open[2] = { 0, 0 };

        for (const auto& e : host.getEvents())
        {
            if (e.kind == HostRecorder::Event::Kind::begin && open[e.index]++ != 0)
                return "a gesture began inside another, parameter " + juce::String (e.index);

            if (e.kind == HostRecorder::Event::Kind::end && --open[e.index] != 0)
                return "a gesture ended that was not open, parameter " + juce::String (e.index);
        }

        return open[0] != 0 || open[1] != 0 ? "a gesture is left open" : juce::String();
    }

    /** Several instances on one console, as a user links them: a model, a strip of its own,
        a name and both ports each, with the host of each one recorded.
    */
    struct Studio
    {
        static constexpr int numInstances = 4;

        Studio()
        {
            for (int i = 0; i < numInstances; ++i)
                hosts.push_back (std::make_unique<HostRecorder> (setup.link (models[i % 3], i + 1, names[i])));
        }

        /** Waits until the desk's messages have all been handed over and parsed. */
        void settle() { EXPECT_TRUE (setup.settle()); }

        /** A zone no instance is on. */
        int findFreeZone (juce::Random& random) const
        {
            for (;;)
            {
                const auto zone = random.nextInt (8);

                if (std::none_of (instances.begin(), instances.end(), [zone] (auto& p)
                                  { return zoneOf (*p) == zone; }))
                    return zone;
            }
        }

        /** A channel for the zone that the instance's model offers: a Mira has two per zone. */
        static int channelForZone (QuillmereAudioProcessor& p, int zone, juce::Random& random)
        {
            return zone + 1 + (p.getNumChannels() > 8 && random.nextBool() ? 8 : 0);
        }

        // The hosts stop listening before the instances they listen to go.
        LinkedConsole setup;
        VirtualMidiPortBackend& ports = setup.ports;
        ConsoleSimulator& console = setup.console;
        std::vector<std::unique_ptr<QuillmereAudioProcessor>>& instances = setup.instances;
        std::vector<std::unique_ptr<HostRecorder>> hosts;
    };
}

// Everything at once for a while: host automation of levels and cuts on a host thread, the
// desk moving faders and pressing CUT keys, and on the message thread the user switching
// models, channels and names and opening and closing the plug-in's window. Desk actions and
// the user's switches take turns, as one person cannot do both; the host never waits for them.
// Every few steps the host pauses, the user and the desk act alone for a moment, so that no
// later automation can cover up what they lost, and every strip is checked: it shows its
// instance's level, cut and name. At the end nothing malformed has gone down the line and no
// gesture is left open with the host. Run under ThreadSanitizer by the tsan preset, for a
// minute.
TEST (Soak, InstancesStayInStepWithTheConsoleUnderLoad)
{
    Studio studio;
    auto& instances = studio.instances;
    auto& console = studio.console;

    std::atomic<bool> running { true }, hostPaused { false }, hostIdle { false };
    std::atomic<int> hostChanges { 0 };

    std::thread hostThread ([&]
                            {
        juce::Random random (7);

        while (running)
        {
            hostIdle = hostPaused.load();

            if (! hostIdle)
            {
                for (auto& p : instances)
                {
                    p->faderParameter->setValue (random.nextFloat());

                    if (random.nextInt (20) == 0)
                        p->muteParameter->setValue (random.nextBool() ? 1.0f : 0.0f);

                    ++hostChanges;
                }
            }

            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        } });

    juce::Random random (11);
    int deskActions = 0, switches = 0, editorsOpened = 0, checkpoints = 0;

    const auto step = [&]
    {
        auto& p = *instances[(size_t) random.nextInt (Studio::numInstances)];

        switch (random.nextInt (6))
        {
            case 0:
            {
                // A hand on a fader: the instance's own strip, or now and then a strip nobody uses.
                const auto zone = random.nextInt (4) == 0 ? studio.findFreeZone (random) : zoneOf (p);
                console.touch (zone);

                for (int moves = random.nextInt ({ 1, 12 }); --moves >= 0;)
                    console.moveTo (zone, random.nextInt (16384));

                console.release (zone);
                studio.settle();
                ++deskActions;
                break;
            }

            case 1:
                console.pressCut (zoneOf (p));
                console.releaseCut (zoneOf (p));
                studio.settle();
                ++deskActions;
                break;

            case 2:
                // Another strip, as the window's channel selector chooses it.
                p.channel = Studio::channelForZone (p, studio.findFreeZone (random), random);
                p.sendAllToDevice();
                ++switches;
                break;

            case 3:
            {
                // Another model; its channel list may end below the current channel.
                p.setDevice (models[random.nextInt (3)]);

                if (p.channel.load() > p.getNumChannels())
                {
                    p.channel = zoneOf (p) + 1;
                    p.sendAllToDevice();
                }

                ++switches;
                break;
            }

            case 4:
                p.setChannelName (names[random.nextInt (juce::numElementsInArray (names))]);
                ++switches;
                break;

            default:
            {
                // The window, open long enough for its 50 ms timer to follow the parameters.
                std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditorIfNeeded());
                runMessageLoopFor (random.nextInt ({ 20, 120 }));
                p.editorBeingDeleted (editor.get()); // as a host's wrapper closes it
                editor.reset();
                ++editorsOpened;
                break;
            }
        }

        runMessageLoopFor (random.nextInt (5));
    };

    /** Every strip shows what its instance holds; false, with the failures reported, if not. */
    const auto stripsAgree = [&]
    {
        bool agree = true;

        for (size_t i = 0; i < instances.size(); ++i)
        {
            auto& p = *instances[i];
            SCOPED_TRACE ("checkpoint " + std::to_string (checkpoints) + ", instance " + std::to_string (i) + ", "
                          + p.getDeviceModelName().toStdString() + " channel " + std::to_string (p.channel.load()));

            const auto strip = console.getStrip (zoneOf (p));
            const auto level = ConsoleSimulator::eightBitLevelOf (p.faderParameter->getValue());
            EXPECT_EQ (strip.faderLevel, level);
            EXPECT_EQ (strip.cut, p.muteParameter->getValue() == 1.0f);
            agree = agree && strip.faderLevel == level && strip.cut == (p.muteParameter->getValue() == 1.0f);

            // A Mira has no scribble strips: its strip keeps whatever a Tarn last wrote there.
            if (p.device->supportsChannelNames())
            {
                EXPECT_EQ (strip.text, p.getChannelName());
                agree = agree && strip.text == p.getChannelName();
            }
        }

        return agree;
    };

    // The soak runs for its time and, on a loaded machine, on until it has done the least
    // amount of work that makes it a soak, within a generous limit.
    constexpr int leastHostChanges = 1000, leastDeskActions = 5, leastSwitches = 5, leastEditorsOpened = 1, leastCheckpoints = 2;

    const auto soakedEnough = [&]
    {
        return hostChanges.load() > leastHostChanges && deskActions > leastDeskActions && switches > leastSwitches
               && editorsOpened > leastEditorsOpened && checkpoints > leastCheckpoints;
    };

    const auto start = juce::Time::getMillisecondCounter();
    const auto end = start + (juce::uint32) getSoakSeconds() * 1000;
    const auto limit = end + 60 * 1000;

    for (auto now = start; now < end || (now < limit && ! soakedEnough()); now = juce::Time::getMillisecondCounter())
    {
        for (int steps = random.nextInt ({ 5, 30 }); --steps >= 0;)
            step();

        // A checkpoint: the host pauses, the user and the desk go on alone for a moment.
        hostPaused = true;
        ASSERT_TRUE (runMessageLoopUntil ([&]
                                          { return hostIdle.load(); }));

        for (int steps = random.nextInt ({ 1, 4 }); --steps >= 0;)
            step();

        studio.settle();
        ++checkpoints;

        if (! stripsAgree())
            break;

        hostPaused = false;
    }

    running = false;
    hostThread.join();
    studio.settle();

    // The soak did soak.
    EXPECT_GT (hostChanges.load(), leastHostChanges);
    EXPECT_GT (deskActions, leastDeskActions);
    EXPECT_GT (switches, leastSwitches);
    EXPECT_GT (editorsOpened, leastEditorsOpened);
    EXPECT_GT (checkpoints, leastCheckpoints);

    EXPECT_EQ (studio.ports.getNumOverlappingSends(), 0);
    EXPECT_TRUE (console.getMalformedTraffic().isEmpty()) << console.getMalformedTraffic().joinIntoString ("\n");

    for (size_t i = 0; i < instances.size(); ++i)
    {
        SCOPED_TRACE ("instance " + std::to_string (i));
        EXPECT_EQ (findGestureFault (*studio.hosts[i]), juce::String());
    }
}

// Sixteen instances on one console (a Mira's sixteen channels), the interface unplugged and
// plugged in again twice while the host automates all of them. Each instance notices the
// ports vanish, waits, reopens them by name when they are back and tells the console its
// channel's state again: at the end, what each instance last sent through its reopened port
// is its own level and cut, and the host never heard of any of it. Run under ThreadSanitizer
// by the tsan preset.
TEST (Soak, SixteenInstancesFollowTheirTracksAcrossAnUnplug)
{
    LinkedConsole setup;
    auto& ports = setup.ports;
    auto& console = setup.console;
    auto& instances = setup.instances;
    std::vector<std::unique_ptr<HostRecorder>> hosts;

    for (int i = 0; i < 16; ++i)
        hosts.push_back (std::make_unique<HostRecorder> (setup.link ("Mira", i + 1)));

    const auto allHoldPorts = [&] (bool shouldHold)
    {
        return std::all_of (instances.begin(), instances.end(), [shouldHold] (auto& p)
                            {
            const auto state = p->getPortState();
            return state.inputOpen == shouldHold && state.outputOpen == shouldHold; });
    };

    std::atomic<bool> running { true }, hostPaused { false }, hostIdle { false };

    std::thread hostThread ([&]
                            {
        juce::Random random (5);

        while (running)
        {
            hostIdle = hostPaused.load();

            if (! hostIdle)
            {
                for (auto& p : instances)
                {
                    p->faderParameter->setValue (random.nextFloat());

                    if (random.nextInt (10) == 0)
                        p->muteParameter->setValue (random.nextBool() ? 1.0f : 0.0f);
                }
            }

            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        } });

    // Where the blocks sent after the last unplug begin: nothing is recorded while no
    // instance holds a port, so what follows went through the reopened ports.
    size_t firstAfterUnplug = 0;

    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE ("round " + std::to_string (round));
        runMessageLoopFor (200);

        ports.removeInputPort (console.getPortName());
        ports.removeOutputPort (console.getPortName());
        ASSERT_TRUE (runMessageLoopUntil ([&]
                                          { return allHoldPorts (false); },
                                          20000));
        firstAfterUnplug = ports.getSentBlocksNow().size();
        runMessageLoopFor (200);

        ports.addInputPort (console.getPortName());
        ports.addOutputPort (console.getPortName());
        ASSERT_TRUE (runMessageLoopUntil ([&]
                                          { return allHoldPorts (true); },
                                          20000));
    }

    hostPaused = true;
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return hostIdle.load(); }));
    EXPECT_TRUE (ports.waitUntilSent());

    // What went out through each instance's reopened port ends with its own state.
    const auto blocks = ports.getSentBlocks();

    for (size_t i = 0; i < instances.size(); ++i)
    {
        SCOPED_TRACE ("instance " + std::to_string (i));
        auto& p = *instances[i];
        int lastLevel = -1, lastCut = -1;

        for (auto it = blocks.begin() + (std::ptrdiff_t) firstAfterUnplug; it != blocks.end(); ++it)
        {
            const auto& b = *it;

            if (b.handle != p.midiOutput.get() || b.bytes.size() != 6)
                continue;

            if (b.bytes[1] < 8)
                lastLevel = (b.bytes[2] << 1) | (b.bytes[5] != 0 ? 1 : 0);
            else if (b.bytes[1] == 0x0c)
                lastCut = b.bytes[5] == 0x42 ? 1 : 0;
        }

        EXPECT_EQ (lastLevel, ConsoleSimulator::eightBitLevelOf (p.faderParameter->getValue()));
        EXPECT_EQ (lastCut, p.muteParameter->getValue() != 0.0f ? 1 : 0);
        EXPECT_TRUE (hosts[i]->describe().empty());
    }

    running = false;
    hostThread.join();

    EXPECT_EQ (ports.getNumOverlappingSends(), 0);
    EXPECT_TRUE (console.getMalformedTraffic().isEmpty()) << console.getMalformedTraffic().joinIntoString ("\n");

    hosts.clear();
    instances.clear();
}
