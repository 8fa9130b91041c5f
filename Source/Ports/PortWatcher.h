#pragma once

#include "MidiPortSystem.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

/** Notices MIDI ports that come and go, for the whole process.

    The system gives no notice when a port appears or vanishes, so the watcher lists the ports
    itself, about once a second, on a thread of its own, and hands the lists to every listener
    that is watching: an instance that waits for a port or has one open, or an open window whose
    port lists follow the system's. Its thread runs only while some listener watches, so it
    costs nothing while no instance needs it, let alone while none exists.

    Listeners are called on the watcher's thread, one at a time, with no lock of the watcher's
    held, so they may take their own locks and open ports.
*/
class PortWatcher final
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** The watcher's thread: the system's input and output port names, just listed. Called
            on every round while the listener watches, so that a port that refused to open can
            be tried again.
        */
        virtual void portsListed (const juce::StringArray& inputNames, const juce::StringArray& outputNames) = 0;
    };

    /** How often the ports are listed while someone watches. */
    static constexpr int intervalMs = 1000;

    /** Registers a listener, not watching yet. Message thread or a host's thread, never a
        real-time one; takes no lock that a listener's call holds.
    */
    static void addListener (Listener* listener);

    /** Unregisters a listener. Waits for a call to it in progress, so the caller must not hold
        a lock that the listener's call takes.
    */
    static void removeListener (Listener* listener);

    /** Whether the listener wants the lists now. Any thread but a real-time one; never waits
        for a listener's call.
    */
    static void setWatching (Listener* listener, bool shouldWatch);

    /** Counts the rounds that have listed the ports, so that a reader of the last lists can
        tell that they are new. Any thread.
    */
    static int getListingCount();

    /** The names of the last round, without listing. Any thread. */
    static juce::StringArray getLastInputNames();
    static juce::StringArray getLastOutputNames();

    /** The names of the last round in one direction, without listing. Any thread. */
    static juce::StringArray getLastNames (PortDirection direction);

private:
    PortWatcher() = delete;
};
