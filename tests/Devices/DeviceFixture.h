#pragma once

#include "QuillmereAudioProcessor.h"

#include "../support/DeviceInput.h"
#include "../support/HostRecorder.h"
#include "../support/TestHelpers.h"
#include "../support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

/** A processor with a device of a given model and an open output port "Out", whose sent
    blocks and host reports the tests read. The processor's channel stays 0, so that only the
    device calls of the test send anything.
*/
struct DeviceFixture : public ::testing::Test
{
    DeviceFixture()
    {
        ports.install();
        ports.addOutputPort ("Out");
        processor.setMidiOutput (0);
    }

    /** Installs a new device of that model, with an empty level cache. */
    QuillmereBaseDevice& useModel (const juce::String& model)
    {
        processor.setDevice ({});
        processor.setDevice (model);
        settle();
        ports.clearSentBlocks();
        host.clear();
        return *processor.device;
    }

    /** Waits until the port's sender has written everything the processor posted. */
    void settle() { EXPECT_TRUE (testing_helpers::waitUntilSent (processor)); }

    /** The blocks written to "Out" so far, once everything posted has been written. */
    std::vector<std::string> sent()
    {
        settle();
        return testing_helpers::hex (ports.getSentBlocks ("Out"));
    }

    /** Runs one batch of the console's messages, written as hex triples, through the device. */
    void incoming (int channel, const std::vector<std::string>& messages)
    {
        juce::MidiBuffer buffer;
        for (const auto& m : messages)
            buffer.addEvent (testing_helpers::message (m), 0);
        testing_helpers::parseAndApply (*processor.device, channel, buffer);
    }

    VirtualMidiPortBackend ports;
    QuillmereAudioProcessor processor;
    HostRecorder host { processor };
};
