#include "SerialisedMidiPortBackend.h"

/** An input of the guarded backend. It is the guarded input's callback, and hands each message
    on with itself as the source, since that is the input its owner knows.
*/
class SerialisedMidiPortBackend::GuardedInput final : public MidiPortSystem::Input
    , private MidiPortSystem::Input::Callback
{
public:
    GuardedInput (MidiPortSystem::Input::Callback& callbackToUse, std::shared_ptr<std::mutex> lockToUse)
        : callback (callbackToUse)
        , inputLock (std::move (lockToUse))
    {
    }

    ~GuardedInput() override
    {
        const std::lock_guard<std::mutex> lock (*inputLock);
        input.reset();
    }

    /** Opens the guarded backend's input; false when it cannot be opened. */
    bool open (MidiPortSystem::Backend& backend, int index)
    {
        const std::lock_guard<std::mutex> lock (*inputLock);
        input = backend.openInput (index, this);
        return input != nullptr;
    }

    juce::String getName() const override
    {
        const std::lock_guard<std::mutex> lock (*inputLock);
        return input->getName();
    }

    void start() override
    {
        const std::lock_guard<std::mutex> lock (*inputLock);
        input->start();
    }

    void stop() override
    {
        const std::lock_guard<std::mutex> lock (*inputLock);
        input->stop();
    }

    bool isAlive() const override
    {
        const std::lock_guard<std::mutex> lock (*inputLock);
        return input->isAlive();
    }

private:
    // The driver's thread, without the lock.
    void handleIncomingMidiMessage (Input*, const juce::MidiMessage& message) override
    {
        callback.handleIncomingMidiMessage (this, message);
    }

    MidiPortSystem::Input::Callback& callback;
    const std::shared_ptr<std::mutex> inputLock; // guards every call into input
    std::unique_ptr<MidiPortSystem::Input> input;
};

class SerialisedMidiPortBackend::GuardedOutput final : public MidiPortSystem::Output
{
public:
    GuardedOutput (std::unique_ptr<MidiPortSystem::Output> outputToGuard, std::mutex& lockToUse, bool shouldSerialiseSends)
        : systemLock (lockToUse)
        , serialiseSends (shouldSerialiseSends)
        , output (std::move (outputToGuard))
    {
    }

    ~GuardedOutput() override
    {
        const std::lock_guard<std::mutex> lock (systemLock);
        output.reset();
    }

    juce::String getName() const override
    {
        const std::lock_guard<std::mutex> lock (systemLock);
        return output->getName();
    }

    void sendBlockNow (const juce::uint8* data, int numBytes) override
    {
        if (! serialiseSends)
        {
            output->sendBlockNow (data, numBytes);
            return;
        }

        const std::lock_guard<std::mutex> lock (systemLock);
        output->sendBlockNow (data, numBytes);
    }

    bool isAlive() const override
    {
        const std::lock_guard<std::mutex> lock (systemLock);
        return output->isAlive();
    }

    bool isWrittenByOthers() const override
    {
        const std::lock_guard<std::mutex> lock (systemLock);
        return output->isWrittenByOthers();
    }

private:
    std::mutex& systemLock;
    const bool serialiseSends;
    std::unique_ptr<MidiPortSystem::Output> output;
};

SerialisedMidiPortBackend::SerialisedMidiPortBackend (std::unique_ptr<MidiPortSystem::Backend> backendToGuard, std::mutex& lockToUse, Sharing whatIsShared)
    : guarded (std::move (backendToGuard))
    , systemLock (lockToUse)
    , sharing (whatIsShared)
{
}

SerialisedMidiPortBackend::~SerialisedMidiPortBackend()
{
    const std::lock_guard<std::mutex> lock (systemLock);
    guarded.reset();
}

juce::StringArray SerialisedMidiPortBackend::getInputNames()
{
    if (sharing != Sharing::everything)
        return guarded->getInputNames();

    const std::lock_guard<std::mutex> lock (systemLock);
    return guarded->getInputNames();
}

juce::StringArray SerialisedMidiPortBackend::getOutputNames()
{
    if (sharing != Sharing::everything)
        return guarded->getOutputNames();

    const std::lock_guard<std::mutex> lock (systemLock);
    return guarded->getOutputNames();
}

std::shared_ptr<std::mutex> SerialisedMidiPortBackend::getInputLock (const juce::String& portName)
{
    // The process's lock, shared without being owned.
    if (sharing == Sharing::everything)
        return { std::shared_ptr<std::mutex>(), &systemLock };

    // One lock per port name, kept for the backend's life: a process sees a few names.
    const std::lock_guard<std::mutex> lock (inputLocksLock);
    auto& portLock = inputLocks[portName];

    if (portLock == nullptr)
        portLock = std::make_shared<std::mutex>();

    return portLock;
}

std::unique_ptr<MidiPortSystem::Input> SerialisedMidiPortBackend::openInput (int index, MidiPortSystem::Input::Callback* callback)
{
    if (callback == nullptr)
        return nullptr;

    // The port's lock goes by the name listed at the index; should the list change before the
    // open, the handle still keeps one lock for all its calls.
    const auto portName = sharing == Sharing::everything ? juce::String() : guarded->getInputNames()[index];
    auto input = std::make_unique<GuardedInput> (*callback, getInputLock (portName));
    return input->open (*guarded, index) ? std::move (input) : nullptr;
}

std::unique_ptr<MidiPortSystem::Output> SerialisedMidiPortBackend::openOutput (int index)
{
    std::unique_ptr<MidiPortSystem::Output> output;

    {
        const std::lock_guard<std::mutex> lock (systemLock);
        output = guarded->openOutput (index);
    }

    if (output == nullptr)
        return nullptr;

    return std::make_unique<GuardedOutput> (std::move (output), systemLock, sharing == Sharing::everything);
}

bool SerialisedMidiPortBackend::isHeldByAnotherProgram (bool isInput, int index)
{
    const std::lock_guard<std::mutex> lock (systemLock);
    return guarded->isHeldByAnotherProgram (isInput, index);
}
