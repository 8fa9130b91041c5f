#pragma once

#include "../support/VirtualMidiPortBackend.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** Sets up what every fuzz target needs once per process: JUCE's message manager and a
    virtual port backend, installed for the process. Both are kept for the life of the
    process and never destroyed: libFuzzer leaves through exit(), where the order of static
    destructors would tear JUCE down after its own statics.
*/
inline VirtualMidiPortBackend& startFuzzEnvironment()
{
    static auto* juceEnvironment = new juce::ScopedJuceInitialiser_GUI();
    juce::ignoreUnused (juceEnvironment);

    static auto* ports = new VirtualMidiPortBackend();
    ports->install();
    return *ports;
}
