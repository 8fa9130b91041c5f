#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** Notices, on Linux, the ALSA sequencer ports that go away, from the sequencer's own
    announcements, so that a handle opened on a port that went and came back (an interface
    unplugged and plugged in again between two listings, under the same name and often the same
    address) is known to lead nowhere. Listing ports cannot tell that: the names and addresses
    are the same before and after.

    One client of the process listens while any Watch exists. Where the sequencer cannot be
    opened, nothing is noticed and every watched port counts as present.
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

        /** True once the port has gone since this watch was made, whatever came back since. */
        bool hasGone() const;

    private:
        struct Listener;
        std::shared_ptr<Listener> listener;
        int client = -1, port = -1;
        juce::uint64 portMark = 0, clientMark = 0, overrunMark = 0;

        JUCE_DECLARE_NON_COPYABLE (Watch)
    };

private:
    AlsaPortDepartures() = delete;
};
