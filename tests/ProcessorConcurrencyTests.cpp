#include "QuillmereAudioProcessor.h"

#include "support/HostRecorder.h"
#include "support/TestHelpers.h"
#include "support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

using namespace testing_helpers;

namespace
{
    /** A saved Tarn16 instance on channel 2, linked through these ports. */
    juce::MemoryBlock chunkLinkedThrough (const juce::String& input, const juce::String& output)
    {
        juce::XmlElement xml ("QUILLMERESETTINGS");
        xml.setAttribute ("midiInName", input);
        xml.setAttribute ("midiOutName", output);
        xml.setAttribute ("fader", 0.5);
        xml.setAttribute ("cut", 0);
        xml.setAttribute ("channel", 2);
        xml.setAttribute ("channelName", "Ld");
        xml.setAttribute ("deviceName", "Tarn16");

        juce::MemoryBlock chunk;
        juce::AudioProcessor::copyXmlToBinary (xml, chunk);
        return chunk;
    }

    /** A Tarn16 instance on channel 2, linked through the first input and output port. */
    std::unique_ptr<QuillmereAudioProcessor> makeTarn16LinkedThroughFirstPorts()
    {
        auto processor = std::make_unique<QuillmereAudioProcessor>();
        processor->channel = 2;
        processor->setDevice ("Tarn16");
        processor->setMidiInput (0);
        processor->setMidiOutput (0);
        return processor;
    }
}

// Host automation runs on a host thread while the message thread switches models and ports
// and opens the window, a third thread changes and restores them as a host's state thread
// would, and the console keeps sending.
// No send may reach a deleted device or port, and no port may be used by two threads at once.
// Run under ThreadSanitizer and AddressSanitizer by the sanitizer presets.
TEST (ProcessorConcurrency, AutomationWhileModelsAndPortsAreSwitched)
{
    VirtualMidiPortBackend ports;
    ports.install();
    ports.addInputPort ("Tarn16 Automation");
    ports.addInputPort ("Mira In");
    ports.addOutputPort ("Tarn16 Automation");
    ports.addOutputPort ("Mira Out");

    auto processor = makeTarn16LinkedThroughFirstPorts();
    auto& p = *processor;

    std::atomic<bool> running { true };

    std::thread automation ([&]
                            {
        for (int i = 0; running; ++i)
        {
            p.faderParameter->setValue ((float) (i % 1000) / 1000.0f);
            if (i % 50 == 0)
                p.muteParameter->setValue ((float) ((i / 50) % 2));
        } });

    std::thread stateThread ([&]
                             {
        const char* models[] = { "Mira", "Tarn48-XL", "Tarn16", "" };
        const juce::MemoryBlock chunks[] = { chunkLinkedThrough ("Mira In", "Tarn16 Automation"), chunkLinkedThrough ("Mira In", "Mira Out") };

        for (int i = 0; running; ++i)
        {
            p.setDevice (models[i % 4]);
            p.setMidiOutput (i % 2);
            p.setChannelName ("T" + juce::String (i % 10));

            // A restore, which rewrites the ports' state while a window may be opening.
            p.setStateInformation (chunks[i % 2].getData(), (int) chunks[i % 2].getSize());
            std::this_thread::yield();
        } });

    std::thread console ([&]
                         {
        for (int i = 0; running; ++i)
        {
            ports.deliver ("Tarn16 Automation", { message ("B0 0F 01"), message ("B0 2F 40"), message ("B0 01 " + hexByte (i % 128)), message ("B0 21 00"), message ("B0 0F 01"), message ("B0 2F 00") });
            ports.waitUntilDelivered();
        } });

    const char* models[] = { "Tarn16", "Mira", "Tarn48-XL" };
    const auto end = juce::Time::getMillisecondCounter() + 3000;

    for (int i = 0; juce::Time::getMillisecondCounter() < end; ++i)
    {
        p.setDevice (models[i % 3]);
        p.setMidiOutput ((i + 1) % 2);
        p.setMidiInput (i % 2);
        p.channel = 1 + i % 8;
        p.sendAllToDevice();

        // The window opens, reading the ports' state that the restores rewrite.
        if (i % 5 == 0)
        {
            std::unique_ptr<juce::AudioProcessorEditor> editor (p.createEditorIfNeeded());
            runMessageLoopFor (2);
            p.editorBeingDeleted (editor.get());
        }

        runMessageLoopFor (2);
    }

    running = false;
    automation.join();
    stateThread.join();
    console.join();

    processor.reset();

    EXPECT_EQ (ports.getNumOverlappingSends(), 0);
    EXPECT_EQ (ports.getNumOpenInputs(), 0);
    EXPECT_EQ (ports.getNumOpenOutputs(), 0);
    EXPECT_FALSE (ports.getSentBlocks().empty());
}

namespace
{
    /** A host that holds a lock of its own while it calls the plug-in (its audio callback
        applying automation, or its saving and restoring of the project), and takes the same
        lock in the callbacks through which the plug-in tells it of value changes and gestures,
        each of which may take a while. A plug-in that held a lock of its own while calling
        such a host, and took that lock where the host calls it with its lock held, would
        deadlock. Recursive, as such locks are: a restore that replaces the console device is
        told of that device's gestures ending on its own thread.
    */
    struct BlockingHost final : public juce::AudioProcessorListener
    {
        BlockingHost (juce::AudioProcessor& processorToWatch, std::chrono::microseconds callbackTime)
            : processor (processorToWatch)
            , timeTaken (callbackTime)
        {
            processor.addListener (this);
        }

        ~BlockingHost() override { processor.removeListener (this); }

        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { takeAWhile(); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int) override { takeAWhile(); }
        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int) override { takeAWhile(); }

        void takeAWhile()
        {
            const std::lock_guard<std::recursive_mutex> lock (hostLock);
            std::this_thread::sleep_for (timeTaken);
            ++callbacks;
        }

        juce::AudioProcessor& processor;
        const std::chrono::microseconds timeTaken;
        std::recursive_mutex hostLock;
        std::atomic<int> callbacks { 0 };
    };

    /** Aborts the test program when a counter stops moving for too long: a deadlocked test
        would otherwise hang until ctest's timeout.
    */
    class Watchdog final
    {
    public:
        Watchdog (const std::atomic<int>& counterToWatch, const char* whatToWatch)
            : counter (counterToWatch)
            , what (whatToWatch)
            , thread ([this]
                      { run(); })
        {
        }

        ~Watchdog()
        {
            stop = true;
            thread.join();
        }

    private:
        void run()
        {
            auto last = counter.load();
            auto lastChange = std::chrono::steady_clock::now();

            while (! stop)
            {
                std::this_thread::sleep_for (std::chrono::milliseconds (50));

                if (counter.load() != last)
                {
                    last = counter.load();
                    lastChange = std::chrono::steady_clock::now();
                }
                else if (std::chrono::steady_clock::now() - lastChange > std::chrono::seconds (20))
                {
                    std::fprintf (stderr, "%s stopped for 20 s: deadlock\n", what);
                    std::abort();
                }
            }
        }

        const std::atomic<int>& counter;
        const char* what;
        std::atomic<bool> stop { false };
        std::thread thread;
    };
}

// The host automates on its audio thread with its own lock held, while the console's moves
// and CUT presses make the plug-in tell the host of changes and gestures on the message thread,
// whose callbacks take that lock and block for a while, and a state thread restores. The audio
// thread must never wait for the message thread: the plug-in holds no lock that automation
// takes while it calls the host.
TEST (ProcessorConcurrency, AHostWhoseCallbacksBlockNeverDeadlocksTheAudioThread)
{
    VirtualMidiPortBackend ports;
    ports.install();
    ports.addInputPort ("Tarn16 Automation");
    ports.addOutputPort ("Tarn16 Automation");
    ports.addOutputPort ("Other Out");

    auto processor = makeTarn16LinkedThroughFirstPorts();
    auto& p = *processor;

    auto blockingHost = std::make_unique<BlockingHost> (p, std::chrono::microseconds (300));
    auto& host = *blockingHost;
    std::atomic<bool> running { true };
    std::atomic<int> audioBlocks { 0 };

    std::thread audio ([&]
                       {
        for (int i = 0; running; ++i)
        {
            {
                const std::lock_guard<std::recursive_mutex> lock (host.hostLock);
                p.faderParameter->setValue ((float) (i % 100) / 100.0f);

                if (i % 20 == 0)
                    p.muteParameter->setValue ((float) ((i / 20) % 2));
            }

            ++audioBlocks;
            std::this_thread::yield();
        } });

    std::thread console ([&]
                         {
        for (int i = 0; running; ++i)
        {
            ports.deliver ("Tarn16 Automation", { message ("B0 0F 01"), message ("B0 2F 40"), message ("B0 01 " + hexByte (i % 128)), message ("B0 21 00"),
                                                  message ("B0 0F 01"), message ("B0 2F 42"), message ("B0 0F 01"), message ("B0 2F 02"),
                                                  message ("B0 0F 01"), message ("B0 2F 00") });
            ports.waitUntilDelivered();
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        } });

    std::thread stateThread ([&]
                             {
        const juce::MemoryBlock chunks[] = { chunkLinkedThrough ("Tarn16 Automation", "Tarn16 Automation"), chunkLinkedThrough ("Tarn16 Automation", "Other Out") };

        for (int i = 0; running; ++i)
        {
            p.setStateInformation (chunks[i % 2].getData(), (int) chunks[i % 2].getSize());
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        } });

    {
        const Watchdog watchdog (audioBlocks, "the audio thread");
        const char* models[] = { "Tarn16", "Tarn48-XL" };
        const auto end = juce::Time::getMillisecondCounter() + 3000;

        for (int i = 0; juce::Time::getMillisecondCounter() < end; ++i)
        {
            if (i % 10 == 0)
                p.setDevice (models[(i / 10) % 2]);

            runMessageLoopFor (2);
        }

        running = false;
        audio.join();
        console.join();
        stateThread.join();
    }

    EXPECT_GT (audioBlocks.load(), 100);
    EXPECT_GT (host.callbacks.load(), 0);

    blockingHost.reset();
    processor.reset();

    EXPECT_EQ (ports.getNumOverlappingSends(), 0);
    EXPECT_EQ (ports.getNumOpenInputs(), 0);
    EXPECT_EQ (ports.getNumOpenOutputs(), 0);
}

// The console's fader is moved, touched and released and its CUT key pressed, so that the
// message thread keeps telling the host of values and gestures, while the host's state thread
// saves and restores (switching models, so that a device with open gestures goes) with the
// host's project lock held. Neither thread may ever wait for the other.
TEST (ProcessorConcurrency, AHostLockedAroundSavingAndRestoringNeverDeadlocksWithTheConsole)
{
    VirtualMidiPortBackend ports;
    ports.install();
    ports.addInputPort ("Tarn16 Automation");
    ports.addOutputPort ("Tarn16 Automation");

    auto processor = makeTarn16LinkedThroughFirstPorts();
    auto& p = *processor;

    auto lockingHost = std::make_unique<BlockingHost> (p, std::chrono::microseconds (0));
    auto& host = *lockingHost;
    std::atomic<bool> running { true };
    std::atomic<int> stateRounds { 0 }, consoleRounds { 0 }, messageRounds { 0 };

    std::thread console ([&]
                         {
        for (int i = 0; running; ++i)
        {
            // Touched, moved and released in separate batches, so that gestures stay open across ticks.
            ports.deliver ("Tarn16 Automation", { message ("B0 0F 01"), message ("B0 2F 40"), message ("B0 01 " + hexByte (i % 128)), message ("B0 21 00") });
            std::this_thread::sleep_for (std::chrono::milliseconds (3));
            ports.deliver ("Tarn16 Automation", { message ("B0 0F 01"), message ("B0 2F 42"), message ("B0 0F 01"), message ("B0 2F 02"), message ("B0 0F 01"), message ("B0 2F 00") });
            ports.waitUntilDelivered();
            ++consoleRounds;
        } });

    std::thread stateThread ([&]
                             {
        const auto chunk = chunkLinkedThrough ("Tarn16 Automation", "Tarn16 Automation");

        for (int i = 0; running; ++i)
        {
            {
                const std::lock_guard<std::recursive_mutex> lock (host.hostLock);
                juce::MemoryBlock saved;
                p.getStateInformation (saved);

                if (i % 4 == 3)
                    p.setDevice (i % 8 == 3 ? "Tarn48-XL" : "Tarn16");
                else
                    p.setStateInformation (chunk.getData(), (int) chunk.getSize());
            }

            ++stateRounds;
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        } });

    {
        const Watchdog messageWatchdog (messageRounds, "the message thread");
        const Watchdog stateWatchdog (stateRounds, "the host's state thread");
        const Watchdog consoleWatchdog (consoleRounds, "the console");
        const auto end = juce::Time::getMillisecondCounter() + 3000;

        while (juce::Time::getMillisecondCounter() < end)
        {
            runMessageLoopFor (2);
            ++messageRounds;
        }

        running = false;
        console.join();
        stateThread.join();
    }

    EXPECT_GT (host.callbacks.load(), 0);
    EXPECT_GT (stateRounds.load(), 10);

    lockingHost.reset();
    processor.reset();
    EXPECT_EQ (ports.getNumOpenOutputs(), 0);
}
