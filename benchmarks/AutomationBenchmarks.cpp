// Host automation to the console: the cost of one change on a host thread, and, for reference
// automation passes applied in real time, the bytes on the console's MIDI line, how long the
// console lags behind the host and what the host's audio thread spends.

#include "../tests/support/HeapAndLockCounter.h"
#include "../tests/support/LinkedConsole.h"
#include "BenchmarkNames.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <pthread.h>
#include <sched.h>
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
        auto& p = withPorts ? setup.link ("Tarn16", 3, "Ch3") : setup.linkWithoutPorts ("Tarn16", 3, "Ch3");
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
                auto* level = (c.withPorts ? setup.link ("Tarn16", 3, "Ch3") : setup.linkWithoutPorts ("Tarn16", 3, "Ch3")).faderParameter;
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

    /** Gives the calling thread the real-time priority a host gives its audio thread, where
        the system allows it, so that ordinary threads do not preempt it; false where it cannot.
    */
    bool raiseToRealTimePriority()
    {
        sched_param parameters {};
        parameters.sched_priority = sched_get_priority_max (SCHED_FIFO) - 10;
        return pthread_setschedparam (pthread_self(), SCHED_FIFO, &parameters) == 0;
    }

    /** One automation change at a time on a host thread, each timed on its own, with the
        console's port at cable speed: the median and the worst of 100,000, and what the
        changes allocate and lock on that thread.
    */
    void perChangeAtCableSpeed (benchmark::State& state)
    {
        constexpr int numChanges = 100000;

        struct Timings
        {
            double medianNs = 0.0, worstNs = 0.0, allocations = 0.0, locks = 0.0;
            bool realTimePriority = false;
        };

        const auto timeEachChange = [] (const std::function<void (int)>& change)
        {
            Timings timings;
            std::vector<double> ns ((size_t) numChanges);

            std::thread host ([&]
                              {
                timings.realTimePriority = raiseToRealTimePriority();
                const auto allocations = HeapAndLockCounter::getThreadAllocations();
                const auto locks = HeapAndLockCounter::getThreadLocks();

                for (int i = 0; i < numChanges; ++i)
                {
                    const auto start = std::chrono::steady_clock::now();
                    change (i);
                    ns[(size_t) i] = std::chrono::duration<double, std::nano> (std::chrono::steady_clock::now() - start).count();
                }

                timings.allocations = (double) (HeapAndLockCounter::getThreadAllocations() - allocations);
                timings.locks = (double) (HeapAndLockCounter::getThreadLocks() - locks); });

            host.join();
            std::sort (ns.begin(), ns.end());
            timings.medianNs = ns[ns.size() / 2];
            timings.worstNs = ns.back();
            return timings;
        };

        for (auto _ : state)
        {
            juce::AudioParameterFloat parameter (juce::ParameterID { "level", 1 }, "Level", 0.0f, 1.0f, 0.0f);
            juce::AudioProcessorParameter* bare = &parameter;
            const auto baseline = timeEachChange ([&] (int i)
                                                  { bare->setValue (changingLevels[i & 1]); });

            LinkedConsole setup;
            setup.ports.setCableSpeed (true);
            auto* level = setup.link ("Tarn16", 3, "Ch3").faderParameter;
            const auto product = timeEachChange ([&] (int i)
                                                 { level->setValue (changingLevels[i & 1]); });

            benchmark_names::setRow (state, "median in ns", product.medianNs, baseline.medianNs);
            benchmark_names::setRow (state, "worst of 100,000 in µs", product.worstNs / 1000.0, baseline.worstNs / 1000.0);
            benchmark_names::setRow (state, "allocations in 100,000", product.allocations, baseline.allocations);
            benchmark_names::setRow (state, "mutex locks in 100,000", product.locks, baseline.locks);
            benchmark_names::setRow (state, "ran at real-time priority (1 yes, 0 no)", product.realTimePriority ? 1.0 : 0.0, 1.0);
        }
    }

    //==============================================================================
    // The reference passes: one automation value per 64-sample block at 48 kHz for 10 s, applied
    // in real time by a host's audio thread to every instance in turn, with the console's port
    // at cable speed.
    constexpr double passSeconds = 10.0;
    constexpr int samplesPerBlock = 64;
    constexpr double blockSeconds = samplesPerBlock / 48000.0;
    constexpr int numBlocks = (int) (passSeconds / blockSeconds);
    constexpr double cableBytesPerSecond = 31250.0 / 10.0; // 8 data bits, a start and a stop bit
    constexpr double windowSeconds = 0.1;
    constexpr double levelMessageSeconds = 6 * 10.0 / 31250.0; // 1.92 ms on the line

    /** A full-range sine (0.0 to 1.0) whose frequency sweeps from 0.1 Hz to 10 Hz on a
        logarithmic scale; each instance starts at another phase.
    */
    float sineSweep (int block, int instance, int numInstances)
    {
        const auto t = block * blockSeconds;
        const auto f0 = 0.1, f1 = 10.0, k = std::log (f1 / f0) / passSeconds;
        const auto phase = f0 * (std::exp (k * t) - 1.0) / k + (double) instance / numInstances;
        return (float) (0.5 + 0.5 * std::sin (2.0 * juce::MathConstants<double>::pi * phase));
    }

    /** A fade from the bottom to the top over the whole pass. */
    float slowFade (int block, int, int)
    {
        return (float) block / (float) (numBlocks - 1);
    }

    double percentile (std::vector<double> values, double fraction)
    {
        if (values.empty())
            return 0.0;

        std::sort (values.begin(), values.end());
        return values[std::min (values.size() - 1, (size_t) (fraction * (double) values.size()))];
    }

    void realTimePass (benchmark::State& state, float (*curve) (int, int, int), int numInstances)
    {
        for (auto _ : state)
        {
            LinkedConsole setup;
            setup.ports.setCableSpeed (true);

            // The Tarn16 has 8 strips; 16 instances on one port are a Mira's 16 channels.
            const auto* model = numInstances > 8 ? "Mira" : "Tarn16";
            std::vector<QuillmereAudioProcessor*> instances;
            std::vector<int> lastLevel;

            for (int i = 0; i < numInstances; ++i)
            {
                instances.push_back (&setup.link (model, i + 1, "Ch" + juce::String (i + 1)));
                instances.back()->faderParameter->setValue (curve (0, i, numInstances));
                lastLevel.push_back (ConsoleSimulator::eightBitLevelOf (instances.back()->faderParameter->getValue()));
            }

            setup.ports.clearSentBlocks();

            // Per instance, when each change of the 8-bit level was made.
            // The same number of bare JUCE parameters, set in the same blocks, so that the
            // machine's own hiccups show in the baseline as much as in the product's figure.
            std::vector<std::unique_ptr<juce::AudioParameterFloat>> bareParameters;

            for (int i = 0; i < numInstances; ++i)
                bareParameters.push_back (std::make_unique<juce::AudioParameterFloat> (juce::ParameterID { "level" + juce::String (i), 1 }, "Level", 0.0f, 1.0f, 0.0f));

            // Reserved beforehand: the audio thread must not allocate for the measurement.
            std::vector<std::vector<double>> changeTimes ((size_t) numInstances);
            std::vector<double> blockTimes, bareBlockTimes;
            blockTimes.reserve ((size_t) numBlocks);
            bareBlockTimes.reserve ((size_t) numBlocks);

            for (auto& times : changeTimes)
                times.reserve ((size_t) numBlocks);

            long long minimumBytes = 0;
            long long audioAllocations = 0, audioLocks = 0;

            bool realTimePriority = false;

            std::thread audio ([&]
                               {
                realTimePriority = raiseToRealTimePriority();

                const auto allocations = HeapAndLockCounter::getThreadAllocations();
                const auto locks = HeapAndLockCounter::getThreadLocks();
                const auto start = std::chrono::steady_clock::now();

                for (int block = 1; block < numBlocks; ++block)
                {
                    std::this_thread::sleep_until (start + std::chrono::duration<double> (block * blockSeconds));

                    const auto bareStart = std::chrono::steady_clock::now();

                    for (int i = 0; i < numInstances; ++i)
                        static_cast<juce::AudioProcessorParameter*> (bareParameters[(size_t) i].get())->setValue (curve (block, i, numInstances));

                    const auto blockStart = std::chrono::steady_clock::now();
                    bareBlockTimes.push_back (std::chrono::duration<double> (blockStart - bareStart).count());
                    const auto now = setup.ports.getSeconds();

                    for (int i = 0; i < numInstances; ++i)
                    {
                        const auto value = curve (block, i, numInstances);
                        instances[(size_t) i]->faderParameter->setValue (value);

                        // The least that tells the console everything: one six-byte message per
                        // change of the 8-bit level.
                        const auto level = ConsoleSimulator::eightBitLevelOf (value);

                        if (level != lastLevel[(size_t) i])
                        {
                            minimumBytes += 6;
                            changeTimes[(size_t) i].push_back (now);
                        }

                        lastLevel[(size_t) i] = level;
                    }

                    blockTimes.push_back (std::chrono::duration<double> (std::chrono::steady_clock::now() - blockStart).count());
                }

                audioAllocations = HeapAndLockCounter::getThreadAllocations() - allocations;
                audioLocks = HeapAndLockCounter::getThreadLocks() - locks; });

            audio.join();

            const auto blocks = setup.ports.getSentBlocks();
            long long bytes = 0;

            for (const auto& b : blocks)
                bytes += (long long) b.bytes.size();

            // The plug-in's demand on the line: bytes by when they were handed to the port, in
            // the busiest 100 ms.
            double busiestWindow = 0.0;

            for (size_t first = 0, last = 0; last < blocks.size(); ++last)
            {
                while (blocks[last].handedSeconds - blocks[first].handedSeconds >= windowSeconds)
                    ++first;

                double inWindow = 0.0;

                for (auto i = first; i <= last; ++i)
                    inWindow += (double) blocks[i].bytes.size();

                busiestWindow = std::max (busiestWindow, inWindow);
            }

            // Staleness: from a change of the 8-bit level to the end of the first message of
            // that instance handed to the line after it, which carries that value or a newer one.
            std::vector<double> staleness;

            for (int i = 0; i < numInstances; ++i)
            {
                std::vector<const VirtualMidiPortBackend::SentBlock*> own;

                for (const auto& b : blocks)
                    if (b.handle == instances[(size_t) i]->midiOutput.get() && b.bytes.size() == 6 && b.bytes[1] < 8)
                        own.push_back (&b);

                size_t next = 0;

                for (auto changed : changeTimes[(size_t) i])
                {
                    while (next < own.size() && own[next]->handedSeconds < changed)
                        ++next;

                    if (next < own.size())
                        staleness.push_back (own[next]->seconds - changed);
                }
            }

            if (! setup.console.getMalformedTraffic().isEmpty())
                state.SkipWithError (setup.console.getMalformedTraffic()[0].toRawUTF8());

            const auto turn = numInstances * levelMessageSeconds;
            benchmark_names::setRow (state, "bytes sent vs the minimum", (double) bytes, (double) minimumBytes);
            benchmark_names::setRow (state, "load in B/s vs a MIDI cable, average", (double) bytes / passSeconds, cableBytesPerSecond);
            benchmark_names::setRow (state, "load in B/s vs a MIDI cable, busiest 100 ms", busiestWindow / windowSeconds, cableBytesPerSecond);
            benchmark_names::setRow (state, "staleness in ms vs one turn of the strips, 50th percentile", 1000.0 * percentile (staleness, 0.5), 1000.0 * turn);
            benchmark_names::setRow (state, "staleness in ms vs one turn of the strips, 99th percentile", 1000.0 * percentile (staleness, 0.99), 1000.0 * turn);
            benchmark_names::setRow (state, "audio thread: ran at real-time priority (1 yes, 0 no)", realTimePriority ? 1.0 : 0.0, 1.0);

            benchmark_names::setRow (state, "audio thread: worst block in ms vs its duration", 1000.0 * percentile (blockTimes, 1.0), 1000.0 * blockSeconds);
            benchmark_names::setRow (state, "audio thread: worst block in ms vs bare JUCE parameters", 1000.0 * percentile (blockTimes, 1.0), 1000.0 * percentile (bareBlockTimes, 1.0));
            benchmark_names::setRow (state, "audio thread: 99.9th percentile block in µs vs bare JUCE parameters", 1.0e6 * percentile (blockTimes, 0.999), 1.0e6 * percentile (bareBlockTimes, 0.999));
            benchmark_names::setRow (state, "audio thread: allocations", (double) audioAllocations, 0.0);
            benchmark_names::setRow (state, "audio thread: mutex locks", (double) audioLocks, 0.0);
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

        benchmark::RegisterBenchmark (benchmark_names::rows ("2 host automation", "one change at a time, port at cable speed").c_str(), perChangeAtCableSpeed)
            ->Iterations (1)
            ->Repetitions (1);

        for (const auto& [name, curve] : { std::pair<const char*, float (*) (int, int, int)> { "sine sweep", sineSweep }, { "slow fade", slowFade } })
            for (int numInstances : { 1, 8, 16 })
                benchmark::RegisterBenchmark (benchmark_names::rows ("3 line", std::string (name) + ", " + std::to_string (numInstances) + (numInstances == 1 ? " instance" : " instances")).c_str(),
                                              realTimePass, curve, numInstances)
                    ->Iterations (1)
                    ->Repetitions (1);

        return true;
    }();
}
