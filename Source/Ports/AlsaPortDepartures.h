#pragma once

#include <juce_core/juce_core.h>

#include <memory>
#include <vector>

/** Notices, on Linux, the ALSA sequencer ports that go away, from the sequencer's own
    announcements, so that a handle opened on a port that went and came back (an interface
    unplugged and plugged in again between two listings, under the same name and often the same
    address) is known to lead nowhere. Listing ports cannot tell that: the names and addresses
    are the same before and after.

    One client of the process listens while any Watch exists. Where the sequencer cannot be
    opened, nothing is noticed and every watched port counts as present.

    The sequencer announces every connection too, and the listener's input pool holds only 200
    announcements unread, so a busy patch bay can make it lose some. A watch that knows the
    connection its handle rests on then asks the sequencer whether that connection still
    stands: a port that goes takes its connections with it, and nothing remakes them. The
    connection is the one of this process to the port that appeared while the handle opened
    (the process opens one port at a time).
*/
class AlsaPortDepartures final
{
public:
    /** Watches one port, from its creation on. Any thread but a real-time one. */
    class Watch final
    {
    public:
        /** The port by the identifier JUCE gives it: its client and port numbers, "128-0". */
        explicit Watch (const juce::String& portIdentifier);
        ~Watch();

        /** Finds the connection that opening the handle made between a port of this process
            and the watched one, which way it runs (ours sends to it, or it sends to ours).
            Call it once, right after the open, before other threads share the watch.
        */
        void noteOpened (bool ownPortSends);

        /** True once the port has gone since this watch was made, whatever came back since. */
        bool hasGone() const;

        /** True when a port of another client (another program, or Midi Through) is connected
            to write to the watched port, so that its events can fall between ours. A program
            that writes to the port without connecting to it cannot be seen.
        */
        bool othersWrite() const;

        struct Address
        {
            int client = -1, port = -1;
            bool operator<(const Address& other) const { return client != other.client ? client < other.client : port < other.port; }
        };

    private:
        struct Listener;
        std::shared_ptr<Listener> listener;
        int client = -1, port = -1;
        std::vector<Address> ownSendersBefore, ownReceiversBefore; // this process's connections when the watch began
        Address own;                                               // this handle's port, once known
        bool ownPortSends = false;
        juce::uint64 portMark = 0, clientMark = 0;
        mutable juce::uint64 overrunMark = 0; // guarded by the listener's lock

        JUCE_DECLARE_NON_COPYABLE (Watch)
    };

private:
    AlsaPortDepartures() = delete;
};
