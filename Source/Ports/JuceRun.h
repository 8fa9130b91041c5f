#pragma once

#include <juce_events/juce_events.h>

#include <memory>
#include <mutex>

/** One run of JUCE in the process, from the first time it is asked for after JUCE started to
    JUCE's shutdown, for the threads that may outlive it.

    A port's sender thread left stuck in a driver when the last instance on that port closed can
    return after the host has closed every instance, shut JUCE down and unloaded the module.
    Such a thread asks the run it was started in before it touches anything of JUCE's, and the
    module is kept loaded while it may still run.
*/
class JuceRun final
{
public:
    ~JuceRun();

    /** The run going on now, created with the first call after JUCE started. Message thread or
        the host's state thread, while JUCE runs and an instance uses it, so that the run is
        known to end before JUCE's MIDI service does (JUCE deletes what it deletes at shutdown
        in the reverse order of creation).
    */
    static std::shared_ptr<JuceRun> current();

    /** Calls the function and returns true if the run has not ended; JUCE's shutdown waits for
        the call to return. Returns false, calling nothing, once the run has ended. Any thread
        but a real-time one.
    */
    template<typename Fn>
    bool whileRunning (Fn&& fn)
    {
        const std::lock_guard<std::mutex> lock (endLock);

        if (ended)
            return false;

        fn();
        return true;
    }

    /** Keeps the module holding this code loaded until the process ends, for a thread that is
        left running in it (Windows, where a host may unload the module with FreeLibrary;
        elsewhere nothing). Any thread.
    */
    static void keepModuleLoaded();

private:
    JuceRun() = default;

    class EndAtShutdown;

    std::mutex endLock; // guards ended
    bool ended = false;

    // No leak detector: a run is meant to outlive JUCE in the threads that hold it.
    JUCE_DECLARE_NON_COPYABLE (JuceRun)
};
