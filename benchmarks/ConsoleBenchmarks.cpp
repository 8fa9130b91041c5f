// Console to host: the parser's cost per message, and the delay from the driver thread's
// delivery of a fader move to the host hearing the new level.

#include "HostMessageThread.h"

#include "../tests/support/DeviceInput.h"
#include "../tests/support/LinkedConsole.h"
#include "BenchmarkNames.h"

#include <chrono>
#include <thread>

namespace
{
    using Clock = std::chrono::steady_clock;

    juce::MidiMessage controller (int number, int value)
    {
        return juce::MidiMessage::controllerEvent (1, number, value);
    }

    constexpr int messagesPerBatch = 64;

    /** A batch as a timer tick may find it: touch, 30 fader positions and release for a zone. */
    juce::MidiBuffer fingerOnFader (int zone, int lastPosition)
    {
        juce::MidiBuffer batch;
        batch.addEvent (controller (0x0f, zone), 0);
        batch.addEvent (controller (0x2f, 0x40), 0);

        for (int i = 0; i < 30; ++i)
        {
            const auto position = lastPosition - (29 - i) * 16;
            batch.addEvent (controller (zone, (position >> 7) & 0x7f), 0);
            batch.addEvent (controller (0x20 + zone, position & 0x7f), 0);
        }

        batch.addEvent (controller (0x0f, zone), 0);
        batch.addEvent (controller (0x2f, 0x00), 0);
        jassert (batch.getNumEvents() == messagesPerBatch);
        return batch;
    }

    /** Two batches that leave the fader at different levels, so each one reaches the host. */
    std::array<juce::MidiBuffer, 2> makeBatches (int zone)
    {
        return { fingerOnFader (zone, 6000), fingerOnFader (zone, 12000) };
    }

    void parseBatches (benchmark::State& state, bool ownStrip)
    {
        LinkedConsole setup;
        auto& p = setup.link ("Tarn16", 3, "Ch3");

        // Zone 2 is the instance's strip; zone 5's traffic is parsed and passed over.
        const auto batches = makeBatches (ownStrip ? 2 : 5);
        size_t next = 0;

        for (auto _ : state)
        {
            {
                // As the timer hands the queue over.
                const juce::ScopedLock sl (p.linkLock);
                testing_helpers::parseAndApply (*p.device, p.channel.load(), batches[next++ & 1]);
            }

            if ((next & 4095) == 0)
            {
                state.PauseTiming();
                setup.ports.clearSentBlocks();
                state.ResumeTiming();
            }
        }

        benchmark_names::setCallsPerIteration (state, messagesPerBatch);
    }

    /** What any parser must do: look at every message of the batch once. */
    void readEveryMessage (benchmark::State& state)
    {
        const auto batches = makeBatches (2);
        size_t next = 0;

        for (auto _ : state)
        {
            for (const auto metadata : batches[next++ & 1])
            {
                const auto message = metadata.getMessage();
                benchmark::DoNotOptimize (message.getRawData()[2]);
            }
        }

        benchmark_names::setCallsPerIteration (state, messagesPerBatch);
    }

    //==============================================================================
    /** Opened on the console's port before the instances, so the driver thread hands it each
        message just before them: the moment of delivery.
    */
    class DeliveryProbe final : public MidiPortSystem::Input::Callback
    {
    public:
        void handleIncomingMidiMessage (MidiPortSystem::Input*, const juce::MidiMessage& message) override
        {
            // The low half completes a fader move.
            if (message.isController() && message.getControllerNumber() >= 0x20 && message.getControllerNumber() <= 0x27)
            {
                deliveredAt = Clock::now();
                ++moves;
            }
        }

        std::atomic<Clock::time_point> deliveredAt;
        std::atomic<int> moves { 0 };
    };

    /** The baseline: a bare 20 ms timer that only notices that a move has been delivered. */
    class BareTimer final : public juce::Timer
    {
    public:
        explicit BareTimer (DeliveryProbe& probeToWatch)
            : probe (probeToWatch)
        {
            startTimer (20);
        }

        ~BareTimer() override { stopTimer(); }

        void timerCallback() override
        {
            if (probe.moves.load() != seen)
            {
                seen = probe.moves.load();
                noticedAt = Clock::now();
            }
        }

        DeliveryProbe& probe;
        int seen = 0;
        Clock::time_point noticedAt;
    };

    /** Plays the host: notes when the level parameter is set with setValueNotifyingHost. */
    class LevelListener final : public juce::AudioProcessorListener
    {
    public:
        void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float) override
        {
            if (index == 0)
            {
                heardAt = Clock::now();
                ++changes;
            }
        }

        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

        // Set on the message thread or, where the audio thread tells the host, on that one.
        std::atomic<int> changes { 0 };
        std::atomic<Clock::time_point> heardAt {};
    };

    /** A host's audio thread: a block of 64 samples at 48 kHz on every instance, in turn, until
        destroyed.
    */
    class AudioBlocks final
    {
    public:
        explicit AudioBlocks (std::vector<std::unique_ptr<QuillmereAudioProcessor>>& instancesToRun)
            : instances (instancesToRun)
        {
            thread = std::thread ([this]
                                  {
                juce::AudioBuffer<float> buffer (2, 64);
                juce::MidiBuffer midi;

                while (! stopping.load())
                {
                    for (auto& instance : instances)
                        instance->processBlock (buffer, midi);

                    std::this_thread::sleep_for (std::chrono::microseconds (1333));
                } });
        }

        ~AudioBlocks()
        {
            stopping = true;
            thread.join();
        }

    private:
        std::vector<std::unique_ptr<QuillmereAudioProcessor>>& instances;
        std::atomic<bool> stopping { false };
        std::thread thread;
    };

    double percentile (std::vector<double> values, double fraction)
    {
        std::sort (values.begin(), values.end());
        return values[(size_t) std::min ((double) values.size() - 1.0, std::floor (fraction * (double) values.size()))];
    }

    /** The delay from a fader move's delivery to the host hearing of it: on the message thread
        where the host serves it, or else on the audio thread's next block after the tick.
    */
    void faderMoveToHost (benchmark::State& state, bool throughAudioThread)
    {
        constexpr int numMoves = 300;

        for (auto _ : state)
        {
            LinkedConsole setup;
            DeliveryProbe probe;
            auto probeInput = MidiPortSystem::openInput (MidiPortSystem::getInputNames().indexOf (setup.console.getPortName()), &probe);
            probeInput->start();

            // A full Tarn16, all 8 instances listening and ticking; the one on channel 3 is watched.
            for (int channel = 1; channel <= 8; ++channel)
                setup.link ("Tarn16", channel, "Ch" + juce::String (channel));

            auto& watched = *setup.instances[2];
            LevelListener host;
            watched.addListener (&host);
            BareTimer bare (probe);

            // As a Linux VST2 or VST3 wrapper reports a message loop on a thread of its own.
            HostMessageThread::setServedByHost (! throughAudioThread);
            std::unique_ptr<AudioBlocks> audio;

            if (throughAudioThread)
                audio = std::make_unique<AudioBlocks> (setup.instances);

            std::vector<double> productMs, baselineMs;
            juce::Random random (9);

            for (int move = 1; move <= numMoves; ++move)
            {
                setup.console.moveTo (2, (move & 1) != 0 ? 4000 : 12000);

                // Both have heard of it, whichever ticked first.
                const auto deadline = Clock::now() + std::chrono::seconds (5);

                while ((host.changes < move || bare.seen < move) && Clock::now() < deadline)
                    juce::MessageManager::getInstance()->runDispatchLoopUntil (1);

                if (host.changes < move || bare.seen < move)
                {
                    state.SkipWithError ("a fader move never reached the host");
                    break;
                }

                const auto delivered = probe.deliveredAt.load();
                productMs.push_back (std::chrono::duration<double, std::milli> (host.heardAt.load() - delivered).count());
                baselineMs.push_back (std::chrono::duration<double, std::milli> (bare.noticedAt - delivered).count());

                // A pause of random length, so that moves arrive at every phase of the ticks.
                juce::MessageManager::getInstance()->runDispatchLoopUntil (random.nextInt ({ 1, 25 }));
            }

            audio.reset();
            HostMessageThread::setServedByHost (true);
            watched.removeListener (&host);
            probeInput.reset();

            if (productMs.size() != (size_t) numMoves)
                break;

            benchmark_names::setRow (state, "delay in ms, 50th percentile", percentile (productMs, 0.5), percentile (baselineMs, 0.5));
            benchmark_names::setRow (state, "delay in ms, 99th percentile", percentile (productMs, 0.99), percentile (baselineMs, 0.99));
        }
    }

    [[maybe_unused]] const bool registered = []
    {
        using benchmark_names::timed;

        benchmark::RegisterBenchmark (timed ("4 parser", "per message, moves on the own strip", false).c_str(), parseBatches, true);
        benchmark::RegisterBenchmark (timed ("4 parser", "per message, moves on the own strip", true).c_str(), readEveryMessage);
        benchmark::RegisterBenchmark (timed ("4 parser", "per message, moves on another strip", false).c_str(), parseBatches, false);
        benchmark::RegisterBenchmark (timed ("4 parser", "per message, moves on another strip", true).c_str(), readEveryMessage);

        benchmark::RegisterBenchmark (benchmark_names::rows ("4 fader move to host", "20 ms timer").c_str(), faderMoveToHost, false)
            ->Iterations (1)
            ->Repetitions (1);
        benchmark::RegisterBenchmark (benchmark_names::rows ("4 fader move to host", "20 ms timer, then the audio thread's next block").c_str(), faderMoveToHost, true)
            ->Iterations (1)
            ->Repetitions (1);

        return true;
    }();
}
