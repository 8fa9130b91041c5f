#pragma once

#include "QuillmereAudioProcessor.h"

#include "ConsoleSimulator.h"

#include <atomic>
#include <memory>
#include <vector>

/** A console simulator on its own pair of virtual ports, with the backend installed for the
    process while this object lives, and instances linked to the console's strips as a user
    links them in the plug-in's window: a model, a channel, a name and both ports.

    Shared by the test programs, the fuzz targets and the benchmark program, so it knows
    nothing of any test framework: waits report whether they succeeded and leave the verdict
    to the caller. Message thread. The instances are destroyed before the ports they hold open.
*/
class LinkedConsole final
{
public:
    /** The console's ports are both named portName, as a console's driver shows them. */
    explicit LinkedConsole (const juce::String& portName = "Tarn16 Automation");
    ~LinkedConsole();

    /** Creates an instance on the console's ports, linked to the channel with the model and
        the name, which has posted its name, mute and level to the console.
    */
    QuillmereAudioProcessor& link (const juce::String& model, int channel, const juce::String& name = {});

    /** An instance with the model, channel and name but no ports: its sends go nowhere. */
    QuillmereAudioProcessor& linkWithoutPorts (const juce::String& model, int channel, const juce::String& name = {});

    /** Waits until every message the desk has sent has been handed to the instances' inputs
        and their timers have handed it on to their devices, running the message loop
        meanwhile; false if that takes longer than the timeout. It waits on the instances'
        queues of incoming messages being drained, never for a fixed time.
    */
    bool settle (int timeoutMs = 5000);

    /** The bytes every instance has sent to the console's port so far. Any thread. */
    long long getBytesSent() const { return bytesSent->load(); }

    VirtualMidiPortBackend ports;
    ConsoleSimulator console;
    std::vector<std::unique_ptr<QuillmereAudioProcessor>> instances;

private:
    // Shared with the backend's send observer, which outlives this object's members.
    std::shared_ptr<std::atomic<long long>> bytesSent = std::make_shared<std::atomic<long long>> (0);

    JUCE_DECLARE_NON_COPYABLE (LinkedConsole)
};
