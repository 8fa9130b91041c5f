#pragma once

#include "MidiPortSystem.h"

#include <mutex>

/** Makes a backend whose ports share state without a guard of their own safe to use from any
    thread, as MidiPortSystem promises its callers.

    Every call that lists ports, opens one, starts or stops an input, asks a port's name or
    closes a port runs under one lock, which the creator supplies so that several backends over
    the same system share it. Sends take the lock too where the system's outputs share state
    (one client handle and its buffer); where each output writes to a handle of its own and a
    send may wait for the driver without limit, sends run unlocked, so that a stuck driver
    never holds up the listing, opening or closing of other ports.

    An input's callback runs on the driver's thread and must never list, open or close ports:
    closing an input waits, with the lock held, for a callback in progress.
*/
class SerialisedMidiPortBackend final : public MidiPortSystem::Backend
{
public:
    SerialisedMidiPortBackend (std::unique_ptr<MidiPortSystem::Backend> backendToGuard, std::mutex& lockToUse, bool shouldSerialiseSends);
    ~SerialisedMidiPortBackend() override;

    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback* callback) override;
    std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override;
    bool isHeldByAnotherProgram (bool isInput, int index) override;

private:
    class GuardedInput;
    class GuardedOutput;

    std::unique_ptr<MidiPortSystem::Backend> guarded;
    std::mutex& systemLock; // guards every call into guarded and its ports
    const bool serialiseSends;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SerialisedMidiPortBackend)
};
