#pragma once

#include "Devices/QuillmereBaseDevice.h"

namespace testing_helpers
{
    /** Runs a batch of the console's messages through a device: parses it and applies what it
        asks of the parameters at once, on the calling thread, as the processor's timer does on
        a message thread the host serves. Shared by the tests, the fuzz targets and the
        benchmarks, so it knows no test framework.
    */
    inline void parseAndApply (QuillmereBaseDevice& device, int channel, const juce::MidiBuffer& messages)
    {
        device.applyParameterChanges (device.parseIncomingMidi (channel, messages));
    }
}
