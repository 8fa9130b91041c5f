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

    A stalled driver: the sender writes with no lock held, and keeps the port it writes to alive
    until the write returns, so removing an outbox never waits for the driver longer than a fixed
    bound, and the instance may close its port meanwhile. A close that waited the whole bound
    for a write still in the driver marks the line stuck until that write returns; closes on a
    stuck line wait for nothing, so a line holds up its closes for one bound in all, however
    many instances close on it. A sender whose last outbox has gone while its thread is stuck
    in a driver lets that thread finish by itself, keeps the module loaded for it, and the
    thread leaves the port open rather than close it through a JUCE that has shut down
    meanwhile.

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

    /** How long removing an outbox waits for its messages at most. Its own messages take a few
        milliseconds on the line; only a stalled driver takes longer.
    */
    static constexpr std::chrono::milliseconds closeBound { 500 };

    /** Adds an outbox whose messages go out through the given open port, which the sender
        shares until the outbox is removed and any write to it has returned.
    */
    void add (ConsoleOutbox& outbox, std::shared_ptr<MidiPortSystem::Output> port);

    /** Writes the outbox's waiting messages before any other's (unless told not to), then
        removes it. Waits for its write in progress and gives up on both after closeBound,
        whatever the driver does; on a line already known to be stuck it waits for nothing and
        drops what waits. Once this returns the sender no longer touches the outbox.
    */
    void remove (ConsoleOutbox& outbox, bool writeWhatWaits = true);

    /** Tells the sender that a message waits. Any thread: never blocks, never allocates. */
    void wake() noexcept;

    /** Waits until every sender of the process has written everything posted to its outboxes;
        false if that takes longer than the timeout. For tests and tools; never a real-time
        thread.
    */
    static bool waitUntilAllSent (int timeoutMs = 5000);

    /** How many ports a sender's thread has left open for good because JUCE had shut down
        when the driver returned from the thread's last write. For tests. Any thread.
    */
    static int getNumPortsLeftOpen() noexcept;

private:
    PortSender();

    static std::vector<std::shared_ptr<PortSender>> getLiveSenders();

    // Everything the sender's thread touches, shared with that thread, so that a thread stuck
    // in a driver can outlive the sender.
    struct Line;
    const std::shared_ptr<Line> line;
    std::thread thread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PortSender)
};
