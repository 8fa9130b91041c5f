#pragma once

#include "MidiPortSystem.h"
#include "RealtimeReadGuard.h"

#include <memory>

class PortSender;

/** What one instance has still to tell its console, waiting for its port's sender.

    Three slots, one per kind of message: the level, the mute and the channel name. A message
    whose slot is empty joins the end of the line; one whose slot still waits replaces the
    waiting message and takes its place in line (the latest value wins and keeps its place).
    The port's sender takes the messages in line order. Under light load the console therefore
    receives every message, in the order in which they were made; under load it receives only
    the newest values, never a backlog.

    The level cache lives here: a level message that repeats, for the same channel, the last
    one written is not written, since the console shows it already. It is compared when the
    message is about to be written, so coalescing never sends a repeat and never drops a
    change the console has not received. The cache belongs to the port: a port newly attached
    starts without one, and so does the next write after forgetLevelCache.

    Messages are posted only while the outbox is attached to an open port; without one they are
    dropped and nothing is remembered.

    Threads: the post operations run on any thread, a host's audio thread included. Posting a
    level or a mute takes no lock and allocates nothing; posting a name allocates nothing and
    waits only for another name being posted, never for the port or the sender. attach and
    detach run on the message thread or the host's state thread, never on a real-time thread.
*/
class ConsoleOutbox final
{
public:
    ConsoleOutbox();
    ~ConsoleOutbox();

    /** The largest message a slot holds: the 28-byte scribble-strip message fits. */
    static constexpr int maxMessageBytes = 32;

    /** Posts a level message for a channel. It must be two controller changes on one MIDI
        channel, six bytes, as every console's level message is.
    */
    void postLevel (int channel, const juce::MidiMessage& message) noexcept;

    /** Posts a mute message, two controller changes on one MIDI channel like the level. */
    void postMute (const juce::MidiMessage& message) noexcept;

    /** Posts a channel-name message of up to maxMessageBytes bytes. */
    void postName (const juce::MidiMessage& message) noexcept;

    /** Makes the next level message written after this call go out even if it repeats the
        last one, as a new console device or a reconnected console must be told its level
        whatever was sent before. Any thread.
    */
    void forgetLevelCache() noexcept;

    /** Starts sending to an open port, through the sender of its name, which every outbox
        attached to a port of that name shares. The sender shares the port until detach, and
        after it for as long as a write to it has not returned.
    */
    void attach (std::shared_ptr<MidiPortSystem::Output> port);

    /** Writes what is waiting to the attached port, then stops using it. A close waits no
        longer than writing its own waiting messages takes (and never past a fixed bound,
        whatever the driver does; not at all on a line whose driver another close has already
        found stuck); whatever could not be written by then is dropped. A port that has vanished
        is not written to: what waits is dropped at once. The level cache goes with the port.
    */
    void detach (bool writeWhatWaits = true);

    bool isAttached() const noexcept { return sender.load() != nullptr; }

    /** True while a message waits or is being written. Any thread. */
    bool isBusy() const noexcept;

    /** Waits until every message posted so far has been handed to the port; false if that
        takes longer than the timeout. For shutdown paths and tests; never a real-time thread.
    */
    bool waitUntilSent (int timeoutMs = 5000) const;

private:
    friend class PortSender;

    struct Message
    {
        juce::uint8 bytes[maxMessageBytes];
        int size = 0;
    };

    // The sender's side, on its thread.
    bool takeNext (Message& message);
    bool hasPending() const noexcept;
    void clear() noexcept;

    void postControllerPair (std::atomic<juce::uint64>& slot, int channel, const juce::MidiMessage& message) noexcept;
    juce::uint32 takeTicket() noexcept;

    /** Puts a message into a slot's word atomically, in line, and returns the word it
        replaced. placeOfWaiting tells a word's place in line while its message still waits;
        compose makes the new word for a place.
    */
    template<typename Word, typename PlaceOfWaiting, typename Compose>
    Word joinLine (std::atomic<Word>& slot, PlaceOfWaiting placeOfWaiting, Compose compose) noexcept;

    std::atomic<PortSender*> sender { nullptr };
    std::shared_ptr<PortSender> senderOwner; // message or state thread only
    RealtimeReadGuard senderGuard;

    std::atomic<juce::uint32> nextTicket { 0 };

    // Counts forgetLevelCache calls; a level is compared with the cache only when the count
    // has not moved since the cached level was written.
    std::atomic<juce::uint32> levelGeneration { 0 };

    // Level and mute: the pending flag, the place in line, the level's channel and the six
    // bytes, packed into one word that posters replace atomically.
    std::atomic<juce::uint64> levelSlot { 0 };
    std::atomic<juce::uint64> muteSlot { 0 };

    // The name: a triple buffer. Posters write the back buffer and swap it with the middle
    // one; the sender swaps the middle one with its front buffer when it is fresh.
    struct NameBuffer
    {
        juce::uint8 bytes[maxMessageBytes] {};
        int size = 0;
    };

    NameBuffer nameBuffers[3];
    std::atomic<juce::uint32> nameState { 1 }; // the middle buffer's index, fresh flag, place in line
    std::mutex namePostersLock;                // guards nameBackIndex; only posters take it
    int nameBackIndex = 0;
    int nameFrontIndex = 2; // the sender's

    // The level cache: the last level written, with its channel, and the generation current
    // when it was written. The sender's, with its lock held; reset by detach once the sender
    // has let go of the outbox.
    bool levelWritten = false;
    juce::uint64 lastLevelWritten = 0;
    juce::uint32 lastLevelGeneration = 0;

    std::atomic<bool> writing { false };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ConsoleOutbox)
};
