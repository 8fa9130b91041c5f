#pragma once

#include "../support/VirtualMidiPortBackend.h"

#include <juce_gui_basics/juce_gui_basics.h>

// What the fuzz targets set up once per process is kept for the life of the process and never
// destroyed: libFuzzer leaves through exit(), where the order of static destructors would tear
// JUCE down after its own statics.

/** Starts JUCE's message manager for the process. */
inline void startFuzzMessageManager()
{
    static auto* juceEnvironment = new juce::ScopedJuceInitialiser_GUI();
    juce::ignoreUnused (juceEnvironment);
}

/** Starts JUCE's message manager and installs a virtual port backend for the process. */
inline VirtualMidiPortBackend& startFuzzEnvironment()
{
    startFuzzMessageManager();

    static auto* ports = new VirtualMidiPortBackend();
    ports->install();
    return *ports;
}
