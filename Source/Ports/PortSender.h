#pragma once

#include "ConsoleOutbox.h"
#include "WakeSignal.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

/** Writes the messages of every outbox attached to ports of one name, on a thread of its own,
    at the pace of the console's MIDI line.

    One sender exists per port name while any outbox is attached to such a port; the outboxes
    share it, so all instances linked through one port share its line. The outboxes take turns,
    one message each, so one busy strip cannot starve the others. Each message goes out
    through the attaching instance's own open port, so no port is written by two threads.

    Pacing: a console's MIDI line carries 31,250 baud, ten bits a byte, so each byte holds the
    line 320 microseconds. The sender never writes faster than that: an idle line takes the next
    message as soon as the sender sees it, a busy one is waited for, and only then is the next
    message taken from its outbox, so what goes out is always the newest value and nothing piles
    up in the driver.

    Waking: for a while after traffic the sender looks for messages every quarter of a millisecond, so
    that the posts of continuing automation make no system call; after that it sleeps until a
    post signals it.
*/
class PortSender final
{
public:
    ~PortSender();

    /** The sender of a port name, created when the first outbox needs it. Message thread or
        the host's state thread.
    */
    static std::shared_ptr<PortSender> forPort (const juce::String& portName);

    /** How long one byte holds a 31,250-baud MIDI line. */
    static constexpr std::chrono::microseconds byteTime { 320 };

    /** Adds an outbox whose messages go out through the given open port. */
    void add (ConsoleOutbox& outbox, MidiPortSystem::Output& port);

    /** Writes the outbox's waiting messages before any other's (unless told not to), then
        removes it. Waits for a write in progress; gives up on the rest after a fixed bound, for
        a stalled driver.
    */
    void remove (ConsoleOutbox& outbox, bool writeWhatWaits = true);

    /** Tells the sender that a message waits. Any thread: never blocks, never allocates. */
    void wake() noexcept;

    /** Waits until every sender of the process has written everything posted to its outboxes;
        false if that takes longer than the timeout. For tests and tools; never a real-time
        thread.
    */
    static bool waitUntilAllSent (int timeoutMs = 5000);

private:
    PortSender();

    static std::vector<std::shared_ptr<PortSender>> getLiveSenders();
    bool waitUntilSent (std::chrono::steady_clock::time_point deadline);

    struct Entry
    {
        ConsoleOutbox* outbox;
        MidiPortSystem::Output* port;
        bool closing;
    };

    void run();
    bool writeNext();
    bool writeNextLocked();
    bool writeFrom (Entry& entry);

    // Guards entries and nextTurn. The sender thread holds it while it takes a message and
    // writes it, so that removing an outbox waits for a write to its port in progress.
    std::mutex entriesLock;
    std::condition_variable messageWritten;
    std::vector<Entry> entries;
    size_t nextTurn = 0;

    // When the line is free again. Sender thread only.
    std::chrono::steady_clock::time_point lineFreeAt;

    // Set while the sender is awake or looking at short intervals, so that posts need not
    // signal it; cleared just before it sleeps on wakeSignal.
    WakeSignal wakeSignal;
    std::atomic<bool> wakeRequested { true };
    std::atomic<bool> quitting { false };
    std::thread thread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PortSender)
};
