// What a host's parameter change costs the thread that makes it, counted by the heap and lock
// counter that this program links (support/HeapAndLockCounter.h).

#include "QuillmereAudioProcessor.h"
#include "support/HeapAndLockCounter.h"
#include "support/LinkedConsole.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace
{
    struct Counts
    {
        long long allocations = 0, locks = 0, bytesSent = 0;
        int modelSwitches = 0;
    };

    /** Makes the changes on a thread of its own, as a host's automation thread makes them, or
        as its audio thread does, setting the value before each block. At least minChanges, and
        while models are switched on another thread, at least minSwitches of them meanwhile.
    */
    Counts countChanges (LinkedConsole& setup, QuillmereAudioProcessor& p, ParameterIndex index, bool inBlocks, bool switchModels)
    {
        constexpr int minChanges = 2000, minSwitches = 20;

        std::atomic<bool> switching { true };
        std::atomic<int> switches { 0 };
        std::thread switcher;

        // Both models have the instance's strip.
        if (switchModels)
            switcher = std::thread ([&]
                                    {
                for (int i = 0; switching; ++i)
                {
                    p.setDevice (i % 2 == 0 ? "Mira" : "Tarn16");
                    ++switches;
                } });

        const auto bytesBefore = setup.getBytesSent();
        Counts counts;

        std::thread host ([&]
                          {
            auto& parameter = p.getStripParameters()[index];
            const float values[] = { index == ParameterIndex::level ? 0.25f : 0.0f, index == ParameterIndex::level ? 0.75f : 1.0f };
            juce::AudioBuffer<float> buffer (2, 64);
            juce::MidiBuffer midi;

            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (20);
            const auto switchesBefore = switches.load();
            const auto allocations = HeapAndLockCounter::getThreadAllocations();
            const auto locks = HeapAndLockCounter::getThreadLocks();

            for (int i = 0; i < minChanges || (switchModels && switches.load() - switchesBefore < minSwitches && std::chrono::steady_clock::now() < deadline); ++i)
            {
                parameter.setValue (values[i & 1]);

                if (inBlocks)
                    p.processBlock (buffer, midi);
            }

            counts.allocations = HeapAndLockCounter::getThreadAllocations() - allocations;
            counts.locks = HeapAndLockCounter::getThreadLocks() - locks;
            counts.modelSwitches = switches.load() - switchesBefore; });

        host.join();
        switching = false;

        if (switcher.joinable())
            switcher.join();

        p.outbox.waitUntilSent();
        counts.bytesSent = setup.getBytesSent() - bytesBefore;
        return counts;
    }
}

// A host changes the level or the mute on its automation thread, or on its audio thread before a
// block: that thread allocates nothing and takes no lock, whether the console's port is open, no
// output port is open, or another thread switches the console model meanwhile.
TEST (RealtimeSafety, AHostsParameterChangeNeitherAllocatesNorLocksOnItsThread)
{
    const struct
    {
        const char* name;
        bool withPorts;
        bool switchModels;
    } situations[] = {
        { "port open", true, false },
        { "no output port", false, false },
        { "models switched meanwhile", true, true },
    };

    for (const auto& situation : situations)
    {
        for (const auto index : allParameterIndices)
        {
            for (const auto inBlocks : { false, true })
            {
                SCOPED_TRACE (std::string (situation.name) + (index == ParameterIndex::level ? ", level" : ", mute")
                              + (inBlocks ? ", audio thread" : ", automation thread"));

                LinkedConsole setup;
                auto& p = situation.withPorts ? setup.link ("Tarn16", 3, "Ch3") : setup.linkWithoutPorts ("Tarn16", 3, "Ch3");
                const auto counts = countChanges (setup, p, index, inBlocks, situation.switchModels);

                EXPECT_EQ (counts.allocations, 0);
                EXPECT_EQ (counts.locks, 0);

                // Otherwise the case proves nothing: the changes reached the console, and the
                // model was switched while they were made.
                if (situation.withPorts)
                {
                    EXPECT_GT (counts.bytesSent, 0);
                }

                if (situation.switchModels)
                {
                    EXPECT_GT (counts.modelSwitches, 0);
                }
            }
        }
    }
}
