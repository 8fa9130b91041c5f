#pragma once

#include <juce_core/juce_core.h>

#if JUCE_WINDOWS
#else
#include <semaphore.h>
#endif

/** Wakes one waiting thread from any thread, a real-time one included.

    A counting semaphore of the operating system: signal() never blocks and takes no lock that
    the waiter could hold (a futex on Linux, a kernel semaphore on Windows), unlike a condition
    variable, whose mutex the waiting thread holds while it goes to sleep.
*/
class WakeSignal final
{
public:
    WakeSignal();
    ~WakeSignal();

    /** Any thread: lets one wait() return. */
    void signal() noexcept;

    /** Blocks the calling thread until signal() has been called (once per call of signal()). */
    void wait() noexcept;

private:
#if JUCE_WINDOWS
    void* handle = nullptr;
#else
    sem_t semaphore;
#endif

    JUCE_DECLARE_NON_COPYABLE (WakeSignal)
};
