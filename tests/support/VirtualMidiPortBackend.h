#pragma once

#include "Ports/MidiPortSystem.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

/** Named virtual MIDI ports for tests, installed in place of the system's ports.

    The test names the ports. Messages "from the console" are queued with deliver() and handed
    to every started open handle of that input port on a driver thread of the backend's own,
    one complete message per callback, in order. Every block sent on an output is recorded,
    in order, with the port it went to and the time; a send that overlaps another send on the
    same open output is counted as a fault, since a real port must not be used by two threads
    at once.

    Sends can be held, so that a test sees what piles up behind a busy port, and the outputs
    can behave like a console's DIN MIDI cable: one line per port name, shared by every handle
    of that name, on which each byte takes 320 microseconds, and a send returns when the line
    has carried its bytes.
*/
class VirtualMidiPortBackend final : public MidiPortSystem::Backend
{
public:
    struct SentBlock
    {
        juce::String port;
        std::vector<juce::uint8> bytes;
        double seconds = 0.0;                           // when the port had taken the block (at cable speed, when the line had carried it), from the backend's creation
        double handedSeconds = 0.0;                     // when the block was handed to the port
        const MidiPortSystem::Output* handle = nullptr; // the open handle it was sent through
    };

    VirtualMidiPortBackend();
    ~VirtualMidiPortBackend() override;

    /** Installs this backend for the process while it lives. */
    void install();

    /** Adds a port at the end of the system's list. */
    void addInputPort (const juce::String& name);
    void addOutputPort (const juce::String& name);

    /** Makes a port of that name appear at the front of the input (or output) list as the
        next open of an input (or output) begins, after the opener's last listing: a port
        that appears between a listing and an open, and moves every port after it.
    */
    void addPortAheadOnNextOpen (bool isInput, const juce::String& name);

    /** Removes every port with that name from the list; open handles stay open but receive
        nothing more, also when a port of that name is added again (that is a new port).
    */
    void removeInputPort (const juce::String& name);

    /** Removes every output port with that name from the list; open handles stay open, and
        what is sent to them is recorded as sent to a dead handle, not as sent to the port.
    */
    void removeOutputPort (const juce::String& name);

    /** While held, every send on the outputs of that name blocks (the port is busy), until
        the hold is released.
    */
    void setSendsHeld (const juce::String& outputName, bool shouldHold);

    /** Blocks until at least that many sends wait on a hold; false after the timeout. */
    bool waitForHeldSends (int count, int timeoutMs = 5000);

    /** Makes every output behave like a DIN MIDI cable: 320 microseconds a byte, one line per
        port name shared by all its handles, a send returning when its bytes are on the wire.
    */
    void setCableSpeed (bool shouldBeCableSpeed);

    /** Sends that went to handles of ports that had been removed. */
    int getNumSendsToDeadPorts() const { return sendsToDeadPorts.load(); }

    /** How often the port lists have been asked for, inputs and outputs counted apart. */
    int getNumListings() const { return listings.load(); }

    /** Seconds since the backend was created, on the clock of SentBlock::seconds. */
    double getSeconds() const;

    /** Makes the next opens of ports of that name fail, as a driver refusing the port would;
        with heldByAnotherProgram, the backend then answers that another program holds them, as
        Windows does.
    */
    void setFailOpens (const juce::String& name, bool shouldFail, bool heldByAnotherProgram = false);

    /** Queues a message for every open handle of the input ports with that name. */
    void deliver (const juce::String& inputName, const juce::MidiMessage& message);

    /** Queues several messages; each one is delivered on its own, in order. */
    void deliver (const juce::String& inputName, const std::vector<juce::MidiMessage>& messages);

    /** Blocks until every queued message has been handed to the callbacks. */
    void waitUntilDelivered();

    /** Waits until the ports' senders have written everything instances posted, so that what
        a test reads is the outcome of what it did; false after the timeout.
    */
    bool waitUntilSent (int timeoutMs = 5000) const;

    /** Every block sent so far, in order, once the senders have written what was posted. */
    std::vector<SentBlock> getSentBlocks() const;

    /** The blocks sent to one output port, in order, once the senders are done. */
    std::vector<std::vector<juce::uint8>> getSentBlocks (const juce::String& outputName) const;

    /** Every block sent so far, without waiting for the senders. */
    std::vector<SentBlock> getSentBlocksNow() const;

    /** Forgets the blocks sent so far, once the senders have written what was posted. */
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
    bool isHeldByAnotherProgram (bool isInput, int index) override;

private:
    class VirtualInput;
    class VirtualOutput;

    struct Pending
    {
        juce::String port;
        juce::MidiMessage message;
    };

    void driverThreadLoop();
    void send (const VirtualOutput& handle, const juce::uint8* data, int numBytes);
    void record (const juce::String& port, const juce::uint8* data, int numBytes, const MidiPortSystem::Output* handle = nullptr, double handed = 0.0);

    mutable std::mutex portsMutex; // guards the port lists and the open handles
    juce::StringArray inputNames, outputNames, failingNames, namesHeldByOthers;
    juce::String inputAheadOnNextOpen, outputAheadOnNextOpen;
    std::vector<VirtualInput*> openInputs;
    std::vector<VirtualOutput*> openOutputs;

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
    std::atomic<int> sendsToDeadPorts { 0 };
    std::atomic<int> listings { 0 };

    std::mutex holdMutex; // guards heldNames and numHeldSends
    std::condition_variable holdChanged;
    juce::StringArray heldNames;
    int numHeldSends = 0;

    std::atomic<bool> cableSpeed { false };
    std::mutex linesMutex; // guards lineFreeAt
    std::map<juce::String, std::chrono::steady_clock::time_point> lineFreeAt;

    const std::chrono::steady_clock::time_point created = std::chrono::steady_clock::now();
    std::thread driverThread;
};
