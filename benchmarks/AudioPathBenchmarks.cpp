// processBlock against an empty JUCE processor, and the check that the audio path neither
// allocates nor locks.

#include "../tests/support/HeapAndLockCounter.h"
#include "../tests/support/LinkedConsole.h"
#include "BenchmarkNames.h"
#include "EmptyAudioProcessor.h"

namespace
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSizes[] = { 32, 64, 128, 256, 512, 1024, 2048 };

    void prepare (juce::AudioProcessor& processor, int channels, int samples)
    {
        processor.setPlayConfigDetails (channels, channels, sampleRate, samples);
        processor.prepareToPlay (sampleRate, samples);
    }

    juce::AudioBuffer<float> makeSignal (int channels, int samples)
    {
        juce::AudioBuffer<float> buffer (channels, samples);
        juce::Random random (1);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < samples; ++i)
                buffer.setSample (c, i, random.nextFloat() * 2.0f - 1.0f);

        return buffer;
    }

    /** Both processors are called through the base class's virtual function, as a host's
        wrapper calls them. The call goes through a member pointer that the compiler cannot see
        through: otherwise it may guess the one subclass it can inline and test for it, which
        would make the processor it guessed look faster than a real host's call.
    */
    void runBlocks (benchmark::State& state, juce::AudioProcessor& processor, int channels, int samples)
    {
        prepare (processor, channels, samples);
        auto buffer = makeSignal (channels, samples);
        juce::MidiBuffer midi;
        auto* target = &processor;
        void (juce::AudioProcessor::*process) (juce::AudioBuffer<float>&, juce::MidiBuffer&) = &juce::AudioProcessor::processBlock;

        for (auto _ : state)
        {
            benchmark::DoNotOptimize (target);
            benchmark::DoNotOptimize (process);
            (target->*process) (buffer, midi);
            benchmark::ClobberMemory();
        }

        processor.releaseResources();
    }

    void quillmereBlocks (benchmark::State& state, int channels, int samples)
    {
        // An instance in use: linked to a strip, its ports open and its timer running.
        LinkedConsole setup;
        runBlocks (state, setup.link ("Tarn16", 3, "Ch3"), channels, samples);
    }

    void emptyBlocks (benchmark::State& state, int channels, int samples)
    {
        EmptyAudioProcessor processor;
        runBlocks (state, processor, channels, samples);
    }

    struct Counts
    {
        long long allocations = 0, locks = 0;
    };

    /** What the calling thread allocates and locks in 1000 blocks of every size, mono and stereo. */
    Counts countBlocks (juce::AudioProcessor& processor)
    {
        Counts counts;

        for (int channels : { 1, 2 })
        {
            for (int samples : blockSizes)
            {
                prepare (processor, channels, samples);
                auto buffer = makeSignal (channels, samples);
                juce::MidiBuffer midi;

                const auto allocationsBefore = HeapAndLockCounter::getThreadAllocations();
                const auto locksBefore = HeapAndLockCounter::getThreadLocks();

                for (int i = 0; i < 1000; ++i)
                    processor.processBlock (buffer, midi);

                counts.allocations += HeapAndLockCounter::getThreadAllocations() - allocationsBefore;
                counts.locks += HeapAndLockCounter::getThreadLocks() - locksBefore;
                processor.releaseResources();
            }
        }

        return counts;
    }

    void allocationsAndLocks (benchmark::State& state)
    {
        for (auto _ : state)
        {
            LinkedConsole setup;
            auto& quillmere = setup.link ("Tarn16", 3, "Ch3");

            // Automation and the desk keep the other threads busy meanwhile; only the audio
            // thread's own allocations and locks are counted.
            std::atomic<bool> running { true };
            std::thread host ([&]
                              {
                for (int i = 0; running; ++i)
                    quillmere.faderParameter->setValue ((float) (i % 256) / 255.0f); });

            const auto product = countBlocks (quillmere);
            running = false;
            host.join();

            EmptyAudioProcessor empty;
            const auto baseline = countBlocks (empty);

            benchmark_names::setRow (state, "allocations in 14,000 blocks", (double) product.allocations, (double) baseline.allocations);
            benchmark_names::setRow (state, "mutex locks in 14,000 blocks", (double) product.locks, (double) baseline.locks);
        }
    }

    [[maybe_unused]] const bool registered = []
    {
        for (int channels : { 1, 2 })
        {
            for (int samples : blockSizes)
            {
                const auto caseName = std::string (channels == 1 ? "mono" : "stereo") + ", " + std::to_string (samples) + " samples";

                benchmark::RegisterBenchmark (benchmark_names::timed ("1 processBlock", caseName, false).c_str(), quillmereBlocks, channels, samples);
                benchmark::RegisterBenchmark (benchmark_names::timed ("1 processBlock", caseName, true).c_str(), emptyBlocks, channels, samples);
            }
        }

        benchmark::RegisterBenchmark (benchmark_names::rows ("1 processBlock", "audio thread").c_str(), allocationsAndLocks)
            ->Iterations (1)
            ->Repetitions (1);

        return true;
    }();
}
