#pragma once

#include "../Ports/RealtimeReadGuard.h"
#include "QuillmereBaseDevice.h"

#include <atomic>
#include <memory>

class ConsoleOutbox;

/** Where an instance keeps its console device, and how every thread reaches it.

    Owns the device. Threads that send to it, a host's audio thread among them, reach it as
    readers of a read-copy-update pointer: they enter a ReadScope and find the device, or null
    while there is none or it is being replaced, and never wait. A replacement takes the pointer
    out of their reach, waits for the readers still using the old device, puts the new one in
    place and hands the old one back, for the caller to let go of once it holds no lock: a device
    that goes ends its gestures, which tells the host.

    Threads: the sends and ReadScope on any thread (the level and the mute on a real-time one
    too); replace and getDevice on any thread but a real-time one, with the owner's lock that
    serialises replacements held (the processor's linkLock).
*/
class DeviceSlot final
{
public:
    /** The outbox is the one the devices post to; it outlives the slot. */
    explicit DeviceSlot (ConsoleOutbox& outboxOfDevices);
    ~DeviceSlot();

    /** A reader's use of the device: while the scope lasts, a device it found stays alive. Any
        thread; never waits, locks or allocates.
    */
    class ReadScope final
    {
    public:
        explicit ReadScope (const DeviceSlot& slotToRead) noexcept;

        /** The device now, or null while there is none or it is being replaced. Once the scope
            has found a device, asking again gives that device or null, never another: a
            replacement waits for the scope to end before it puts the next one in place.
        */
        QuillmereBaseDevice* getDevice() const noexcept { return slot.deviceForReaders.load(); }

    private:
        const DeviceSlot& slot;
        const RealtimeReadGuard::ReadScope guardScope;

        JUCE_DECLARE_NON_COPYABLE (ReadScope)
    };

    /** Puts the new device (or none) in place and returns the old one, for the caller to let go
        of once it has released its locks. Waits for the readers that may be using the old
        device. A new device tells the console its level whatever was sent before.
    */
    [[nodiscard]] std::shared_ptr<QuillmereBaseDevice> replace (std::shared_ptr<QuillmereBaseDevice> newDevice);

    /** The device itself, for its queries and for sharing it while it parses. */
    const std::shared_ptr<QuillmereBaseDevice>& getDevice() const noexcept { return device; }

    /** Sends the level parameter's value on the channel to the device, if there is one. Any
        thread, a host's audio thread included: takes no lock, allocates nothing and never waits
        on the port. Where it gave up under contention, it wants a resend (resendWhatGaveUp).
    */
    void sendLevel (const std::atomic<int>& channel, const juce::AudioProcessorParameter& level) noexcept;

    /** Sends the mute parameter's state on the channel to the device, if there is one. Any
        thread, as the level.
    */
    void sendMute (const std::atomic<int>& channel, const juce::AudioProcessorParameter& mute) noexcept;

    /** Sends a name on the channel to the device, if there is one. Any thread but a real-time
        one.
    */
    void sendChannelName (const std::atomic<int>& channel, const juce::String& name);

    /** Sends the current level or mute again where a send gave up under contention, which may
        have left an older value waiting. Any thread but a real-time one.
    */
    void resendWhatGaveUp (const std::atomic<int>& channel, const StripParameters& parameters) noexcept;

private:
    ConsoleOutbox& outbox;

    // The owning pointer, replaced only under the owner's lock.
    std::shared_ptr<QuillmereBaseDevice> device;

    // The device as readers reach it: the same object as device, or null while it is being
    // replaced. Read only inside a ReadScope of readerGuard, so that the device is never
    // deleted while a reader uses it.
    std::atomic<QuillmereBaseDevice*> deviceForReaders { nullptr };
    mutable RealtimeReadGuard readerGuard;

    // Set by a level or mute send that gave up under contention, which may have left an older
    // value waiting; resendWhatGaveUp sends the current one.
    std::atomic<bool> levelResendWanted { false };
    std::atomic<bool> muteResendWanted { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DeviceSlot)
};
