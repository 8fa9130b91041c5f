#include "VirtualMidiPortBackend.h"

#include "Ports/PortSender.h"

class VirtualMidiPortBackend::VirtualInput final : public MidiPortSystem::Input
{
public:
    VirtualInput (VirtualMidiPortBackend& ownerToUse, const juce::String& portName, Callback& callbackToUse)
        : owner (ownerToUse)
        , name (portName)
        , callback (callbackToUse)
    {
    }

    ~VirtualInput() override
    {
        // Waits for a delivery in progress: after this no callback runs for this handle.
        const std::lock_guard<std::recursive_mutex> delivery (owner.deliveryMutex);
        const std::lock_guard<std::mutex> ports (owner.portsMutex);
        owner.openInputs.erase (std::find (owner.openInputs.begin(), owner.openInputs.end(), this));
    }

    juce::String getName() const override { return name; }
    void start() override { started = true; }
    void stop() override { started = false; }

    bool isAlive() const override
    {
        const std::lock_guard<std::mutex> ports (owner.portsMutex);
        return ! dead;
    }

    VirtualMidiPortBackend& owner;
    const juce::String name;
    Callback& callback;
    std::atomic<bool> started { false };
    bool dead = false; // the port was removed; guarded by the owner's portsMutex
};

class VirtualMidiPortBackend::VirtualOutput final : public MidiPortSystem::Output
{
public:
    VirtualOutput (VirtualMidiPortBackend& ownerToUse, const juce::String& portName)
        : name (portName)
        , owner (ownerToUse)
    {
    }

    ~VirtualOutput() override
    {
        const std::lock_guard<std::mutex> ports (owner.portsMutex);
        owner.openOutputs.erase (std::find (owner.openOutputs.begin(), owner.openOutputs.end(), this));
    }

    juce::String getName() const override { return name; }

    void sendBlockNow (const juce::uint8* data, int numBytes) override
    {
        if (sendsInProgress.fetch_add (1) != 0)
            ++owner.overlappingSends;

        // Give an overlapping sender time to show itself, as a driver taking the bytes would.
        std::this_thread::yield();
        if (dead.load())
            ++owner.sendsToDeadPorts;
        else
            owner.send (*this, data, numBytes);

        sendsInProgress.fetch_sub (1);
    }

    bool isAlive() const override { return ! dead.load(); }

    const juce::String name;

    // Set when the port is removed from the system: the handle stays open but leads nowhere,
    // also when a port of the same name appears again.
    std::atomic<bool> dead { false };

private:
    VirtualMidiPortBackend& owner;
    std::atomic<int> sendsInProgress { 0 };
};

VirtualMidiPortBackend::VirtualMidiPortBackend()
    : driverThread ([this]
                    { driverThreadLoop(); })
{
}

VirtualMidiPortBackend::~VirtualMidiPortBackend()
{
    MidiPortSystem::setBackend (nullptr);

    {
        const std::lock_guard<std::mutex> lock (queueMutex);
        quitting = true;
    }

    queueChanged.notify_all();
    driverThread.join();

    jassert (openInputs.empty() && openOutputs.empty()); // a port outlived the test's backend
}

void VirtualMidiPortBackend::install()
{
    MidiPortSystem::setBackend (this);
}

void VirtualMidiPortBackend::addInputPort (const juce::String& name)
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    inputNames.add (name);
}

void VirtualMidiPortBackend::addOutputPort (const juce::String& name)
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    outputNames.add (name);
}

void VirtualMidiPortBackend::addPortAheadOnNextOpen (bool isInput, const juce::String& name)
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    (isInput ? inputAheadOnNextOpen : outputAheadOnNextOpen) = name;
}

void VirtualMidiPortBackend::removeInputPort (const juce::String& name)
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    inputNames.removeString (name);

    for (auto* input : openInputs)
        if (input->name == name)
            input->dead = true;
}

void VirtualMidiPortBackend::setFailOpens (const juce::String& name, bool shouldFail, bool heldByAnotherProgram)
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    failingNames.removeString (name);
    namesHeldByOthers.removeString (name);

    if (shouldFail)
        failingNames.add (name);

    if (shouldFail && heldByAnotherProgram)
        namesHeldByOthers.add (name);
}

bool VirtualMidiPortBackend::isHeldByAnotherProgram (bool isInput, int index)
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    return namesHeldByOthers.contains ((isInput ? inputNames : outputNames)[index]);
}

void VirtualMidiPortBackend::deliver (const juce::String& inputName, const juce::MidiMessage& message)
{
    deliver (inputName, std::vector<juce::MidiMessage> { message });
}

void VirtualMidiPortBackend::deliver (const juce::String& inputName, const std::vector<juce::MidiMessage>& messages)
{
    {
        const std::lock_guard<std::mutex> lock (queueMutex);

        for (const auto& m : messages)
            queue.push_back ({ inputName, m });
    }

    queueChanged.notify_all();
}

void VirtualMidiPortBackend::waitUntilDelivered()
{
    std::unique_lock<std::mutex> lock (queueMutex);
    queueChanged.wait (lock, [this]
                       { return queue.empty() && ! delivering; });
}

void VirtualMidiPortBackend::driverThreadLoop()
{
    std::unique_lock<std::mutex> lock (queueMutex);

    for (;;)
    {
        queueChanged.wait (lock, [this]
                           { return quitting || ! queue.empty(); });

        if (quitting)
            return;

        auto next = std::move (queue.front());
        queue.pop_front();
        delivering = true;
        lock.unlock();

        {
            const std::lock_guard<std::recursive_mutex> delivery (deliveryMutex);
            std::vector<VirtualInput*> targets;

            {
                const std::lock_guard<std::mutex> ports (portsMutex);

                if (inputNames.contains (next.port))
                    for (auto* input : openInputs)
                        if (input->name == next.port && input->started && ! input->dead)
                            targets.push_back (input);
            }

            for (auto* input : targets)
                input->callback.handleIncomingMidiMessage (input, next.message);
        }

        lock.lock();
        delivering = false;
        queueChanged.notify_all();
    }
}

void VirtualMidiPortBackend::send (const VirtualOutput& handle, const juce::uint8* data, int numBytes)
{
    const auto& port = handle.name;
    const auto handed = getSeconds();

    {
        std::unique_lock<std::mutex> lock (holdMutex);

        if (heldNames.contains (port))
        {
            ++numHeldSends;
            holdChanged.notify_all();
            holdChanged.wait (lock, [&]
                              { return ! heldNames.contains (port); });
            --numHeldSends;
        }
    }

    if (cableSpeed.load())
    {
        // The line is the port's, whoever holds a handle to it: wait for it, then hold it
        // while the bytes go out, ten bits each at 31,250 baud.
        std::chrono::steady_clock::time_point end;

        {
            const std::lock_guard<std::mutex> lock (linesMutex);
            auto& freeAt = lineFreeAt[port];
            end = std::max (freeAt, std::chrono::steady_clock::now()) + std::chrono::microseconds (320) * numBytes;
            freeAt = end;
        }

        std::this_thread::sleep_until (end);
    }

    record (port, data, numBytes, &handle, handed);
}

void VirtualMidiPortBackend::setSendsHeld (const juce::String& outputName, bool shouldHold)
{
    const std::lock_guard<std::mutex> lock (holdMutex);
    heldNames.removeString (outputName);

    if (shouldHold)
        heldNames.add (outputName);

    holdChanged.notify_all();
}

bool VirtualMidiPortBackend::waitForHeldSends (int count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock (holdMutex);
    return holdChanged.wait_for (lock, std::chrono::milliseconds (timeoutMs), [&]
                                 { return numHeldSends >= count; });
}

void VirtualMidiPortBackend::setCableSpeed (bool shouldBeCableSpeed)
{
    cableSpeed.store (shouldBeCableSpeed);
}

double VirtualMidiPortBackend::getSeconds() const
{
    return std::chrono::duration<double> (std::chrono::steady_clock::now() - created).count();
}

void VirtualMidiPortBackend::removeOutputPort (const juce::String& name)
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    outputNames.removeString (name);

    for (auto* output : openOutputs)
        if (output->name == name)
            output->dead = true;
}

void VirtualMidiPortBackend::record (const juce::String& port, const juce::uint8* data, int numBytes, const MidiPortSystem::Output* handle, double handed)
{
    std::vector<SendObserver> observers;

    {
        const std::lock_guard<std::mutex> lock (sentMutex);
        sent.push_back ({ port, std::vector<juce::uint8> (data, data + numBytes), getSeconds(), handed, handle });
        observers = sendObservers;
    }

    for (auto& observer : observers)
        observer (port, data, numBytes);
}

bool VirtualMidiPortBackend::waitUntilSent (int timeoutMs) const
{
    return PortSender::waitUntilAllSent (timeoutMs);
}

std::vector<VirtualMidiPortBackend::SentBlock> VirtualMidiPortBackend::getSentBlocks() const
{
    waitUntilSent();
    return getSentBlocksNow();
}

std::vector<VirtualMidiPortBackend::SentBlock> VirtualMidiPortBackend::getSentBlocksNow() const
{
    const std::lock_guard<std::mutex> lock (sentMutex);
    return sent;
}

std::vector<std::vector<juce::uint8>> VirtualMidiPortBackend::getSentBlocks (const juce::String& outputName) const
{
    std::vector<std::vector<juce::uint8>> result;

    for (const auto& block : getSentBlocks())
        if (block.port == outputName)
            result.push_back (block.bytes);

    return result;
}

void VirtualMidiPortBackend::clearSentBlocks()
{
    waitUntilSent();
    const std::lock_guard<std::mutex> lock (sentMutex);
    sent.clear();
}

void VirtualMidiPortBackend::addSendObserver (SendObserver observer)
{
    const std::lock_guard<std::mutex> lock (sentMutex);
    sendObservers.push_back (std::move (observer));
}

int VirtualMidiPortBackend::getNumOpenInputs() const
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    return (int) openInputs.size();
}

int VirtualMidiPortBackend::getNumOpenOutputs() const
{
    const std::lock_guard<std::mutex> lock (portsMutex);
    return (int) openOutputs.size();
}

juce::StringArray VirtualMidiPortBackend::getInputNames()
{
    ++listings;
    const std::lock_guard<std::mutex> lock (portsMutex);
    return inputNames;
}

juce::StringArray VirtualMidiPortBackend::getOutputNames()
{
    ++listings;
    const std::lock_guard<std::mutex> lock (portsMutex);
    return outputNames;
}

std::unique_ptr<MidiPortSystem::Input> VirtualMidiPortBackend::openInput (int index, MidiPortSystem::Input::Callback* callback)
{
    const std::lock_guard<std::mutex> lock (portsMutex);

    if (inputAheadOnNextOpen.isNotEmpty())
        inputNames.insert (0, std::exchange (inputAheadOnNextOpen, {}));

    if (! juce::isPositiveAndBelow (index, inputNames.size()) || callback == nullptr || failingNames.contains (inputNames[index]))
        return nullptr;

    auto input = std::make_unique<VirtualInput> (*this, inputNames[index], *callback);
    openInputs.push_back (input.get());
    return input;
}

std::unique_ptr<MidiPortSystem::Output> VirtualMidiPortBackend::openOutput (int index)
{
    const std::lock_guard<std::mutex> lock (portsMutex);

    if (outputAheadOnNextOpen.isNotEmpty())
        outputNames.insert (0, std::exchange (outputAheadOnNextOpen, {}));

    if (! juce::isPositiveAndBelow (index, outputNames.size()) || failingNames.contains (outputNames[index]))
        return nullptr;

    auto output = std::make_unique<VirtualOutput> (*this, outputNames[index]);
    openOutputs.push_back (output.get());
    return output;
}
