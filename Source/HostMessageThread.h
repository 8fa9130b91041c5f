#pragma once

#include <atomic>

/** Whether JUCE's message loop runs on a thread that the host owns and serves, so that the host
    may be told of values and gestures from it.

    On Windows, in the standalone program and in LV2 the message thread is always the host's (or
    the program's own, which is its host), and this stays true. JUCE 7.0.5's VST2 and VST3 wrappers
    on Linux run the message loop on a thread of their own ("JUCE Plugin Message Thread") until the
    host serves it: a VST3 host through the run loop it offers with its context or with a plug-in
    view's frame, a VST2 host through its editor idle calls while the plug-in's window is open.
    Hosts that keep per-thread state (Ardour's tempo map) crash when called from that thread, so
    the plug-in's wrappers, compiled from build-local copies of JUCE's, report here whenever the
    loop moves between the two, and what would tell the host asks first.

    Any thread; never waits, allocates or locks.
*/
class HostMessageThread final
{
public:
    /** True while the message thread is one the host owns and serves. */
    static bool isServedByHost() noexcept;

    /** The wrappers' report: the message loop now runs on a thread the host serves (true) or on
        the plug-in's own thread (false). Called on the thread that moves the loop.
    */
    static void setServedByHost (bool served) noexcept;

private:
    static std::atomic<bool> servedByHost;

    HostMessageThread() = delete;
};
