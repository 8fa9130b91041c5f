#pragma once

#include "MidiPortSystem.h"

#include <map>
#include <mutex>

/** Makes a backend whose ports share state without a guard of their own safe to use from any
    thread, as MidiPortSystem promises its callers.

    The calls that touch the system's unguarded state run under one lock, which the creator
    supplies so that several backends over the same system share it. Which calls those are
    depends on the system (Sharing). Where a call may wait for its driver without limit, as a
    send can on a system whose outputs each write a handle of their own, and an input's stop or
    close can on a driver that serialises them with such a send, that call runs outside the
    lock, so that a stuck driver never holds up the listing, opening or closing of other ports.

    An input's callback runs on the driver's thread and must never list, open or close ports:
    closing an input waits, with its lock held, for a callback in progress.
*/
class SerialisedMidiPortBackend final : public MidiPortSystem::Backend
{
public:
    /** What the system's ports share without a guard. */
    enum class Sharing
    {
        /** Everything: one client behind every port and one buffer behind every send. Every
            call, sends included, runs under the process's lock.
        */
        everything,

        /** Only the list of open output handles, which opening and closing an output change,
            and each input port's state among the handles open on it. Opening and closing
            outputs runs under the process's lock; the calls of an input's handle run under a
            lock of its port alone; listing and sending take no lock.
        */
        outputHandles
    };

    SerialisedMidiPortBackend (std::unique_ptr<MidiPortSystem::Backend> backendToGuard, std::mutex& lockToUse, Sharing whatIsShared);
    ~SerialisedMidiPortBackend() override;

    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback* callback) override;
    std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override;
    bool isHeldByAnotherProgram (bool isInput, int index) override;

private:
    class GuardedInput;
    class GuardedOutput;

    /** The lock an input's handle is used under, once open: the process's lock, or its port's. */
    std::shared_ptr<std::mutex> getInputLock (const juce::String& portName);

    std::unique_ptr<MidiPortSystem::Backend> guarded;
    std::mutex& systemLock; // guards every call into guarded that touches its shared state
    const Sharing sharing;

    std::mutex inputLocksLock; // guards inputLocks
    std::map<juce::String, std::shared_ptr<std::mutex>> inputLocks;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SerialisedMidiPortBackend)
};
