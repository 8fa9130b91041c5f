#pragma once

#include "../Source/QuillmereAudioProcessor.h"
#include "../tests/support/ConsoleSimulator.h"

#include <memory>
#include <vector>

/** A console simulator on its own pair of virtual ports, installed for the process, and
    instances linked to its strips as a user links them in the plug-in's window: both ports,
    a model, a channel and a name. Message thread. The instances are destroyed before the
    ports that they hold open.
*/
class LinkedConsole final
{
public:
    LinkedConsole();
    ~LinkedConsole();

    /** Creates an instance linked to a channel, which has sent its name, mute and level. */
    QuillmereAudioProcessor& link (const juce::String& model, int channel);

    /** An instance with the model and channel but no ports: its sends go nowhere. */
    QuillmereAudioProcessor& linkWithoutPorts (const juce::String& model, int channel);

    /** The bytes every instance has sent to the console so far. */
    long long getBytesSent() const { return bytesSent->load(); }

    VirtualMidiPortBackend ports;
    ConsoleSimulator console { ports, "Tarn16 Automation" };
    std::vector<std::unique_ptr<QuillmereAudioProcessor>> instances;

private:
    // Shared with the backend's send observer, which outlives this object's members.
    std::shared_ptr<std::atomic<long long>> bytesSent = std::make_shared<std::atomic<long long>> (0);

    JUCE_DECLARE_NON_COPYABLE (LinkedConsole)
};
