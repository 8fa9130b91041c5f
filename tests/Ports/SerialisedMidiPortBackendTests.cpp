#include "Ports/JuceMidiPortBackend.h"
#include "Ports/SerialisedMidiPortBackend.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace
{
    /** A system of MIDI ports with state of its own that no lock guards, as JUCE's is. Every
        call notes whether another call was inside the system at the same time; under
        ThreadSanitizer, such overlaps are also reported as races on the unguarded state.
    */
    class UnguardedPortSystem final : public MidiPortSystem::Backend
    {
    public:
        struct Visit
        {
            explicit Visit (UnguardedPortSystem& s)
                : system (s)
            {
                if (system.inside.fetch_add (1) != 0)
                    ++system.overlaps;

                // Long enough that an unguarded caller overlaps with the others.
                std::this_thread::yield();
                ++system.calls;
            }

            ~Visit() { system.inside.fetch_sub (1); }

            UnguardedPortSystem& system;
        };

        class Input final : public MidiPortSystem::Input
        {
        public:
            Input (UnguardedPortSystem& s, Callback& c)
                : system (s)
                , callback (c)
            {
                ++system.openPorts;
            }

            ~Input() override
            {
                const Visit visit (system);
                --system.openPorts;
            }

            juce::String getName() const override
            {
                const Visit visit (system);
                return "In";
            }

            void start() override
            {
                const Visit visit (system);
                ++system.startedInputs;
                // The driver delivers at once, on the starting thread, as some drivers do.
                callback.handleIncomingMidiMessage (nullptr, juce::MidiMessage::controllerEvent (1, 2, 3));
            }

            void stop() override
            {
                const Visit visit (system);
                --system.startedInputs;
            }

        private:
            UnguardedPortSystem& system;
            Callback& callback;
        };

        class Output final : public MidiPortSystem::Output
        {
        public:
            explicit Output (UnguardedPortSystem& s)
                : system (s)
            {
                ++system.openPorts;
            }

            ~Output() override
            {
                const Visit visit (system);
                --system.openPorts;
            }

            juce::String getName() const override
            {
                const Visit visit (system);
                return "Out";
            }

            // Every send goes through the system's one shared buffer, as JUCE's ALSA sends do.
            void sendBlockNow (const juce::uint8* data, int numBytes) override
            {
                const Visit visit (system);
                system.sharedBuffer.assign (data, data + numBytes);
                system.bytesSent += (int) system.sharedBuffer.size();
            }

        private:
            UnguardedPortSystem& system;
        };

        juce::StringArray getInputNames() override
        {
            const Visit visit (*this);
            return { "In" };
        }

        juce::StringArray getOutputNames() override
        {
            const Visit visit (*this);
            return { "Out" };
        }

        std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback* c) override
        {
            const Visit visit (*this);
            return index == 0 ? std::make_unique<Input> (*this, *c) : nullptr;
        }

        std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override
        {
            const Visit visit (*this);
            return index == 0 ? std::make_unique<Output> (*this) : nullptr;
        }

        std::atomic<int> inside { 0 };
        std::atomic<int> overlaps { 0 };

        // Unguarded, as the system's own state is.
        int calls = 0, openPorts = 0, startedInputs = 0, bytesSent = 0;
        std::vector<juce::uint8> sharedBuffer;
    };

    struct CountingCallback final : public MidiPortSystem::Input::Callback
    {
        void handleIncomingMidiMessage (MidiPortSystem::Input* source, const juce::MidiMessage&) override
        {
            sources.push_back (source);
        }

        std::vector<MidiPortSystem::Input*> sources;
    };

    /** Runs the body on several threads at once, each for that many rounds. */
    template<typename Body>
    void onThreadsAtOnce (int numThreads, int rounds, Body&& body)
    {
        std::vector<std::thread> threads;
        std::atomic<int> ready { 0 };

        for (int t = 0; t < numThreads; ++t)
            threads.emplace_back ([&, t]
                                  {
                ++ready;
                while (ready.load() < numThreads)
                    std::this_thread::yield();

                for (int round = 0; round < rounds; ++round)
                    body (t, round); });

        for (auto& thread : threads)
            thread.join();
    }
}

// Threads list, open, start, stop, send on and close ports at once: the system behind sees one
// call at a time, and a callback's source is the port its owner holds.
TEST (SerialisedMidiPortBackend, ASystemThatIsNotSafeForThreadsSeesOneCallAtATime)
{
    auto unguarded = std::make_unique<UnguardedPortSystem>();
    auto& system = *unguarded;
    std::mutex systemLock;
    SerialisedMidiPortBackend backend (std::move (unguarded), systemLock, SerialisedMidiPortBackend::Sharing::everything);

    std::atomic<int> wrongSources { 0 };

    onThreadsAtOnce (4, 300, [&] (int, int round)
                     {
        backend.getInputNames();
        backend.getOutputNames();

        CountingCallback callback;
        auto input = backend.openInput (0, &callback);
        auto output = backend.openOutput (0);
        ASSERT_NE (input, nullptr);
        ASSERT_NE (output, nullptr);

        input->start();
        const juce::uint8 block[] = { 0xb0, (juce::uint8) (round & 0x7f), 0x40 };
        output->sendBlockNow (block, (int) sizeof (block));
        EXPECT_EQ (output->getName(), "Out");
        input->stop();

        if (callback.sources != std::vector<MidiPortSystem::Input*> { input.get() })
            ++wrongSources; });

    EXPECT_EQ (system.overlaps.load(), 0);
    EXPECT_EQ (wrongSources.load(), 0);
    EXPECT_EQ (system.openPorts, 0);
    EXPECT_EQ (system.startedInputs, 0);
    EXPECT_EQ (system.bytesSent, 4 * 300 * 3);
}

// Where each output writes to its own handle, and a send may wait for its driver without limit,
// sends take no lock, so a send that never returns holds up no other port's listing, opening
// or closing.
TEST (SerialisedMidiPortBackend, AnUnserialisedSendThatNeverReturnsHoldsUpNothingElse)
{
    struct StuckOutput final : public MidiPortSystem::Output
    {
        juce::String getName() const override { return "Stuck"; }

        void sendBlockNow (const juce::uint8*, int) override
        {
            entered = true;
            std::unique_lock<std::mutex> lock (mutex);
            released.wait (lock, [this]
                           { return release; });
        }

        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
        std::atomic<bool> entered { false };
    };

    struct System final : public MidiPortSystem::Backend
    {
        juce::StringArray getInputNames() override { return {}; }
        juce::StringArray getOutputNames() override { return { "Stuck", "Other" }; }
        std::unique_ptr<MidiPortSystem::Input> openInput (int, MidiPortSystem::Input::Callback*) override { return nullptr; }

        std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override
        {
            if (index != 0)
                return std::make_unique<StuckOutput>();

            auto output = std::make_unique<StuckOutput>();
            stuck = output.get();
            return output;
        }

        StuckOutput* stuck = nullptr;
    };

    auto owned = std::make_unique<System>();
    auto& system = *owned;
    std::mutex systemLock;
    SerialisedMidiPortBackend backend (std::move (owned), systemLock, SerialisedMidiPortBackend::Sharing::outputHandles);

    auto stuckPort = backend.openOutput (0);
    std::thread writer ([&]
                        {
        const juce::uint8 sysex[] = { 0xf0, 0x01, 0xf7 };
        stuckPort->sendBlockNow (sysex, 3); });

    while (! system.stuck->entered)
        std::this_thread::yield();

    // With the send stuck: listing, opening and closing other ports still work.
    EXPECT_EQ (backend.getOutputNames().size(), 2);
    auto other = backend.openOutput (1);
    EXPECT_NE (other, nullptr);
    other.reset();

    {
        const std::lock_guard<std::mutex> lock (system.stuck->mutex);
        system.stuck->release = true;
    }

    system.stuck->released.notify_all();
    writer.join();
}

// A driver that serialises input and output, as wine's does with one mutex taken by a long
// send and by an input's stop and close: with a send stuck, closing an input waits inside the
// driver. That wait holds up nothing of the process's but that port: every listing, the
// opening and closing of outputs, and the inputs of other ports go on.
TEST (SerialisedMidiPortBackend, AnInputCloseWaitingBehindAStuckSendHoldsUpNoOtherPort)
{
    struct System final : public MidiPortSystem::Backend
    {
        struct Input final : public MidiPortSystem::Input
        {
            Input (System& s, juce::String n)
                : system (s)
                , name (std::move (n))
            {
            }

            ~Input() override
            {
                system.closingInput = true;
                const std::lock_guard<std::mutex> lock (system.driver);
            }

            juce::String getName() const override { return name; }
            void start() override {}
            void stop() override { const std::lock_guard<std::mutex> lock (system.driver); }

            System& system;
            const juce::String name;
        };

        struct Output final : public MidiPortSystem::Output
        {
            explicit Output (System& s)
                : system (s)
            {
            }

            juce::String getName() const override { return "Out"; }

            // A long send that the driver does not finish until the test lets it.
            void sendBlockNow (const juce::uint8*, int) override
            {
                const std::lock_guard<std::mutex> lock (system.driver);
                system.sending = true;
                std::unique_lock<std::mutex> hold (system.holdLock);
                system.held.wait (hold, [this]
                                  { return system.release; });
            }

            System& system;
        };

        juce::StringArray getInputNames() override { return { "In A", "In B" }; }
        juce::StringArray getOutputNames() override { return { "Out" }; }

        std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback*) override
        {
            return std::make_unique<Input> (*this, getInputNames()[index]);
        }

        std::unique_ptr<MidiPortSystem::Output> openOutput (int) override { return std::make_unique<Output> (*this); }

        void letGo()
        {
            {
                const std::lock_guard<std::mutex> lock (holdLock);
                release = true;
            }

            held.notify_all();
        }

        std::mutex driver; // the driver's one mutex
        std::atomic<bool> sending { false }, closingInput { false };
        std::mutex holdLock;
        std::condition_variable held;
        bool release = false;
    };

    auto owned = std::make_unique<System>();
    auto& system = *owned;
    std::mutex systemLock;
    SerialisedMidiPortBackend backend (std::move (owned), systemLock, SerialisedMidiPortBackend::Sharing::outputHandles);

    CountingCallback callback;
    auto stuckPort = backend.openOutput (0);
    auto closing = backend.openInput (0, &callback);

    std::thread writer ([&]
                        {
        const juce::uint8 sysex[] = { 0xf0, 0x01, 0xf7 };
        stuckPort->sendBlockNow (sysex, 3); });

    while (! system.sending)
        std::this_thread::yield();

    std::thread closer ([&]
                        { closing.reset(); });

    while (! system.closingInput)
        std::this_thread::yield();

    std::unique_ptr<MidiPortSystem::Input> other; // closed once the driver lets go: its close would wait there too

    const struct
    {
        const char* name;
        std::function<void()> call;
    } cases[] = {
        { "listing inputs", [&]
          { EXPECT_EQ (backend.getInputNames().size(), 2); } },
        { "listing outputs", [&]
          { EXPECT_EQ (backend.getOutputNames().size(), 1); } },
        { "opening and closing an output", [&]
          { EXPECT_NE (backend.openOutput (0), nullptr); } },
        { "opening and starting another port's input", [&]
          {
              other = backend.openInput (1, &callback);
              ASSERT_NE (other, nullptr);
              EXPECT_EQ (other->getName(), "In B");
              other->start();
          } },
    };

    std::vector<std::future<void>> calls;

    for (const auto& c : cases)
        calls.push_back (std::async (std::launch::async, c.call));

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (5);

    for (size_t i = 0; i < calls.size(); ++i)
    {
        SCOPED_TRACE (cases[i].name);
        EXPECT_EQ (calls[i].wait_until (deadline), std::future_status::ready) << "waited behind the stuck driver";
    }

    // The driver lets go, so that everything waiting ends.
    system.letGo();
    writer.join();
    closer.join();
    calls.clear();
    other.reset();
}

// JUCE's MIDI classes keep one client for the whole process that the first user creates and
// the last deletes, with no guard: threads listing and opening ports at once must each see a
// whole, working system (JUCE asserts, and ThreadSanitizer reports a race, where they do not).
TEST (JuceMidiPortBackend, ThreadsListingAndOpeningAtOnceShareJucesClientSafely)
{
    JuceMidiPortBackend first, second;
    const auto expectedInputs = first.getInputNames();
    const auto expectedOutputs = first.getOutputNames();
    std::atomic<int> mismatches { 0 };

    onThreadsAtOnce (4, 50, [&] (int thread, int)
                     {
        auto& backend = (thread % 2) == 0 ? first : second;
        CountingCallback callback;

        if (backend.getInputNames() != expectedInputs || backend.getOutputNames() != expectedOutputs)
            ++mismatches;

        // Opening and closing what there is; on a machine without ports, the open fails.
        auto input = backend.openInput (0, &callback);
        auto output = backend.openOutput (0);
        EXPECT_EQ (input != nullptr, ! expectedInputs.isEmpty());
        EXPECT_EQ (output != nullptr, ! expectedOutputs.isEmpty()); });

    EXPECT_EQ (mismatches.load(), 0);
}
