#pragma once

#include "../../Source/Devices/MidiPortSystem.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

/** Named virtual MIDI ports for tests, installed in place of the system's ports.

    The test names the ports. Messages "from the console" are queued with deliver() and handed
    to every started open handle of that input port on a driver thread of the backend's own,
    one complete message per callback, in order. Every block sent on an output is recorded,
    in order, with the port it went to; a send that overlaps another send on the same open
    output is counted as a fault, since a real port must not be used by two threads at once.
*/
class VirtualMidiPortBackend final : public MidiPortSystem::Backend
{
public:
    struct SentBlock
    {
        juce::String port;
        std::vector<juce::uint8> bytes;
    };

    VirtualMidiPortBackend();
    ~VirtualMidiPortBackend() override;

    /** Installs this backend for the process while it lives. */
    void install();

    /** Adds a port at the end of the system's list. */
    void addInputPort (const juce::String& name);
    void addOutputPort (const juce::String& name);

    /** Removes every port with that name from the list; open handles stay open but receive
        nothing more.
    */
    void removeInputPort (const juce::String& name);

    /** Makes the next opens of ports of that name fail, as a driver refusing the port would. */
    void setFailOpens (const juce::String& name, bool shouldFail);

    /** Queues a message for every open handle of the input ports with that name. */
    void deliver (const juce::String& inputName, const juce::MidiMessage& message);

    /** Queues several messages; each one is delivered on its own, in order. */
    void deliver (const juce::String& inputName, const std::vector<juce::MidiMessage>& messages);

    /** Blocks until every queued message has been handed to the callbacks. */
    void waitUntilDelivered();

    /** Every block sent so far, in order. */
    std::vector<SentBlock> getSentBlocks() const;

    /** The blocks sent to one output port, in order. */
    std::vector<std::vector<juce::uint8>> getSentBlocks (const juce::String& outputName) const;

    void clearSentBlocks();

    using SendObserver = std::function<void (const juce::String& port, const juce::uint8* data, int numBytes)>;

    /** Adds a function called on the sending thread for every block, after it has been
        recorded. Observers stay until the backend is destroyed.
    */
    void addSendObserver (SendObserver observer);

    int getNumOverlappingSends() const { return overlappingSends.load(); }
    int getNumOpenInputs() const;
    int getNumOpenOutputs() const;

    // MidiPortSystem::Backend
    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback* callback) override;
    std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override;

private:
    class VirtualInput;
    class VirtualOutput;

    struct Pending
    {
        juce::String port;
        juce::MidiMessage message;
    };

    void driverThreadLoop();
    void record (const juce::String& port, const juce::uint8* data, int numBytes);

    mutable std::mutex portsMutex; // guards the port lists and the open handles
    juce::StringArray inputNames, outputNames, failingNames;
    std::vector<VirtualInput*> openInputs;
    int numOpenOutputs = 0;

    std::mutex queueMutex; // guards the delivery queue
    std::condition_variable queueChanged;
    std::deque<Pending> queue;
    bool delivering = false;
    bool quitting = false;

    // Held while a message is handed to the callbacks, so that closing a handle waits for a
    // delivery in progress, as a real driver's close does.
    std::recursive_mutex deliveryMutex;

    mutable std::mutex sentMutex;
    std::vector<SentBlock> sent;
    std::vector<SendObserver> sendObservers;

    std::atomic<int> overlappingSends { 0 };
    std::thread driverThread;
};
