// Host automation to the console: the cost of one change on a host thread, and the bytes that
// reach the console's MIDI line for reference automation passes.

#include "BenchmarkNames.h"
#include "HeapAndLockCounter.h"
#include "LinkedConsole.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>

namespace
{
    constexpr int changesPerBatch = 16384;

    /** Runs each iteration's batch of changes on a thread of its own, as a host's automation
        thread makes them, and times only the batch.
    */
    template<typename Change>
    void runOnHostThread (benchmark::State& state, Change&& change, const std::function<void()>& betweenBatches = {})
    {
        for (auto _ : state)
        {
            double seconds = 0.0;

            std::thread host ([&]
                              {
                const auto start = std::chrono::steady_clock::now();

                for (int i = 0; i < changesPerBatch; ++i)
                    change (i);

                seconds = std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count(); });

            host.join();
            state.SetIterationTime (seconds);

            if (betweenBatches)
                betweenBatches();
        }

        benchmark_names::setCallsPerIteration (state, changesPerBatch);
    }

    /** Two levels that differ in their 8-bit value, and two that do not. */
    constexpr float changingLevels[] = { 0.25f, 0.75f };
    constexpr float steadyLevels[] = { 0.4900f, 0.4901f };

    void automation (benchmark::State& state, const float* levels, bool levelChanges, bool withPorts)
    {
        if ((ConsoleSimulator::eightBitLevelOf (levels[0]) != ConsoleSimulator::eightBitLevelOf (levels[1])) != levelChanges)
            state.SkipWithError ("the case's levels do not do what its name says");

        LinkedConsole setup;
        auto& p = withPorts ? setup.link ("Tarn16", 3) : setup.linkWithoutPorts ("Tarn16", 3);
        auto* level = p.faderParameter;

        runOnHostThread (
            state, [&] (int i)
            { level->setValue (levels[i & 1]); },
            [&]
            { setup.ports.clearSentBlocks(); });
    }

    void bareParameter (benchmark::State& state)
    {
        juce::AudioParameterFloat parameter (juce::ParameterID { "level", 1 }, "Level", 0.0f, 1.0f, 0.0f);
        juce::AudioProcessorParameter* level = &parameter;

        runOnHostThread (state, [&] (int i)
                         { level->setValue (changingLevels[i & 1]); });
    }

    struct PerChange
    {
        double allocations = 0.0, locks = 0.0;
    };

    /** What one change allocates and locks on the host thread, over 1000 changes. */
    template<typename Change>
    PerChange countOnHostThread (Change&& change)
    {
        PerChange result;

        std::thread host ([&]
                          {
            const auto allocations = HeapAndLockCounter::getThreadAllocations();
            const auto locks = HeapAndLockCounter::getThreadLocks();

            for (int i = 0; i < 1000; ++i)
                change (i);

            result.allocations = (double) (HeapAndLockCounter::getThreadAllocations() - allocations) / 1000.0;
            result.locks = (double) (HeapAndLockCounter::getThreadLocks() - locks) / 1000.0; });

        host.join();
        return result;
    }

    void allocationsAndLocksPerChange (benchmark::State& state)
    {
        for (auto _ : state)
        {
            juce::AudioParameterFloat parameter (juce::ParameterID { "level", 1 }, "Level", 0.0f, 1.0f, 0.0f);
            juce::AudioProcessorParameter* bare = &parameter;
            const auto baseline = countOnHostThread ([&] (int i)
                                                     { bare->setValue (changingLevels[i & 1]); });

            const struct
            {
                const char* name;
                const float* levels;
                bool withPorts;
            } cases[] = {
                { "8-bit level changes", changingLevels, true },
                { "8-bit level unchanged", steadyLevels, true },
                { "no port open", changingLevels, false },
            };

            for (const auto& c : cases)
            {
                LinkedConsole setup;
                auto* level = (c.withPorts ? setup.link ("Tarn16", 3) : setup.linkWithoutPorts ("Tarn16", 3)).faderParameter;
                const auto product = countOnHostThread ([&] (int i)
                                                        { level->setValue (c.levels[i & 1]); });

                benchmark_names::setRow (state, std::string ("allocations, ") + c.name, product.allocations, baseline.allocations);
                benchmark_names::setRow (state, std::string ("mutex locks, ") + c.name, product.locks, baseline.locks);
            }
        }
    }

    /** The virtual port's own cost: the same six-byte level messages sent straight to the
        console's port, with nothing of the plug-in in between.
    */
    void portSendAlone (benchmark::State& state)
    {
        LinkedConsole setup;
        auto output = MidiPortSystem::openOutput (MidiPortSystem::getOutputNames().indexOf (setup.console.getPortName()));

        const juce::uint8 low[] = { 0xb0, 0x02, 0x1f, 0xb0, 0x22, 0x40 }, high[] = { 0xb0, 0x02, 0x5f, 0xb0, 0x22, 0x40 };
        const juce::MidiMessage messages[] = { juce::MidiMessage (low, 6), juce::MidiMessage (high, 6) };

        runOnHostThread (
            state, [&] (int i)
            { output->sendMessageNow (messages[i & 1]); },
            [&]
            { setup.ports.clearSentBlocks(); });

        output.reset();
    }

    //==============================================================================
    // The reference passes: one automation value per 64-sample block at 48 kHz for 10 s.
    constexpr double passSeconds = 10.0;
    constexpr int samplesPerBlock = 64;
    constexpr int numBlocks = (int) (passSeconds * 48000.0) / samplesPerBlock;
    constexpr double cableBytesPerSecond = 31250.0 / 10.0; // 8 data bits, a start and a stop bit
    constexpr int windowBlocks = 75;                       // 100 ms
    constexpr double windowSeconds = windowBlocks * samplesPerBlock / 48000.0;

    /** A full-range sine (0.0 to 1.0) whose frequency sweeps from 0.1 Hz to 10 Hz on a
        logarithmic scale; each instance starts at another phase.
    */
    float sineSweep (int block, int instance, int numInstances)
    {
        const auto t = block * samplesPerBlock / 48000.0;
        const auto f0 = 0.1, f1 = 10.0, k = std::log (f1 / f0) / passSeconds;
        const auto phase = f0 * (std::exp (k * t) - 1.0) / k + (double) instance / numInstances;
        return (float) (0.5 + 0.5 * std::sin (2.0 * juce::MathConstants<double>::pi * phase));
    }

    /** A fade from the bottom to the top over the whole pass. */
    float slowFade (int block, int, int)
    {
        return (float) block / (float) (numBlocks - 1);
    }

    void wirePass (benchmark::State& state, float (*curve) (int, int, int), int numInstances)
    {
        for (auto _ : state)
        {
            LinkedConsole setup;

            // The Tarn16 has 8 strips; 16 instances on one port are a Mira's 16 channels.
            const auto* model = numInstances > 8 ? "Mira" : "Tarn16";
            std::vector<QuillmereAudioProcessor*> instances;
            std::vector<int> lastLevel;

            for (int i = 0; i < numInstances; ++i)
            {
                instances.push_back (&setup.link (model, i + 1));
                instances.back()->faderParameter->setValue (curve (0, i, numInstances));
                lastLevel.push_back (ConsoleSimulator::eightBitLevelOf (instances.back()->faderParameter->getValue()));
            }

            const auto bytesBefore = setup.getBytesSent();
            long long minimumBytes = 0, busiestWindow = 0;
            std::vector<long long> bytesAtBlock { 0 };

            std::thread host ([&]
                              {
                for (int block = 1; block < numBlocks; ++block)
                {
                    for (int i = 0; i < numInstances; ++i)
                    {
                        const auto value = curve (block, i, numInstances);
                        instances[(size_t) i]->faderParameter->setValue (value);

                        // The least that tells the console everything: one six-byte message per
                        // change of the 8-bit level.
                        const auto level = ConsoleSimulator::eightBitLevelOf (value);

                        if (level != lastLevel[(size_t) i])
                            minimumBytes += 6;

                        lastLevel[(size_t) i] = level;
                    }

                    bytesAtBlock.push_back (setup.getBytesSent() - bytesBefore);
                } });

            host.join();

            for (size_t end = (size_t) windowBlocks; end < bytesAtBlock.size(); ++end)
                busiestWindow = std::max (busiestWindow, bytesAtBlock[end] - bytesAtBlock[end - (size_t) windowBlocks]);

            const auto bytes = (double) (setup.getBytesSent() - bytesBefore);

            if (! setup.console.getMalformedTraffic().isEmpty())
                state.SkipWithError (setup.console.getMalformedTraffic()[0].toRawUTF8());

            benchmark_names::setRow (state, "bytes sent vs the minimum", bytes, (double) minimumBytes);
            benchmark_names::setRow (state, "load in B/s vs a MIDI cable, average", bytes / passSeconds, cableBytesPerSecond);
            benchmark_names::setRow (state, "load in B/s vs a MIDI cable, busiest 100 ms", (double) busiestWindow / windowSeconds, cableBytesPerSecond);
        }
    }

    [[maybe_unused]] const bool registered = []
    {
        using benchmark_names::timed;

        const struct
        {
            const char* name;
            const float* levels;
            bool levelChanges, withPorts;
            void (*baseline) (benchmark::State&);
        } cases[] = {
            { "8-bit level changes", changingLevels, true, true, bareParameter },
            { "8-bit level unchanged", steadyLevels, false, true, bareParameter },
            { "8-bit level changes, no port open", changingLevels, true, false, bareParameter },
            { "8-bit level changes, against the port's own send", changingLevels, true, true, portSendAlone },
        };

        for (const auto& c : cases)
        {
            benchmark::RegisterBenchmark (timed ("2 host automation", c.name, false).c_str(), automation, c.levels, c.levelChanges, c.withPorts)->UseManualTime();
            benchmark::RegisterBenchmark (timed ("2 host automation", c.name, true).c_str(), c.baseline)->UseManualTime();
        }

        benchmark::RegisterBenchmark (benchmark_names::rows ("2 host automation", "per change").c_str(), allocationsAndLocksPerChange)
            ->Iterations (1)
            ->Repetitions (1);

        for (const auto& [name, curve] : { std::pair<const char*, float (*) (int, int, int)> { "sine sweep", sineSweep }, { "slow fade", slowFade } })
            for (int numInstances : { 1, 8, 16 })
                benchmark::RegisterBenchmark (benchmark_names::rows ("3 wire", std::string (name) + ", " + std::to_string (numInstances) + (numInstances == 1 ? " instance" : " instances")).c_str(),
                                              wirePass, curve, numInstances)
                    ->Iterations (1)
                    ->Repetitions (1);

        return true;
    }();
}
