#pragma once

#include "LinkedConsole.h"

#include <gtest/gtest.h>

/** A test with a console on its default ports and instances linked to it as a user links
    them. When the test ends, the instances go first, and the console must have seen no
    malformed traffic.
*/
struct LinkedConsoleTest : public ::testing::Test
{
    ~LinkedConsoleTest() override
    {
        instances.clear();
        EXPECT_TRUE (console.getMalformedTraffic().isEmpty()) << console.getMalformedTraffic().joinIntoString ("\n");
    }

    QuillmereAudioProcessor& link (const juce::String& model, int channel, const juce::String& name = {})
    {
        return setup.link (model, channel, name);
    }

    /** Waits until the instances' timers have drained everything the desk sent. */
    void settle() { EXPECT_TRUE (setup.settle()); }

    LinkedConsole setup;
    VirtualMidiPortBackend& ports = setup.ports;
    ConsoleSimulator& console = setup.console;
    std::vector<std::unique_ptr<QuillmereAudioProcessor>>& instances = setup.instances;
};
