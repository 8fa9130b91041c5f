#include "../Source/QuillmereAudioProcessor.h"
#include "support/HostRecorder.h"
#include "support/TestHelpers.h"
#include "support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

using namespace testing_helpers;

// Host automation runs on a host thread while the message thread switches models and ports,
// a third thread restores them as a host's state thread would, and the console keeps sending.
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

    auto processor = std::make_unique<QuillmereAudioProcessor>();
    auto& p = *processor;
    p.channel = 2;
    p.setDevice ("Tarn16");
    p.setMidiInput (0);
    p.setMidiOutput (0);

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
        for (int i = 0; running; ++i)
        {
            p.setDevice (models[i % 4]);
            p.setMidiOutput (i % 2);
            p.setChannelName ("T" + juce::String (i % 10));
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
