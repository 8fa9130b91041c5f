#pragma once

#include <cstddef>

/** Counts what a program that links it allocates on the heap and how often it takes a mutex:
    the benchmark program and the real-time test program link it.

    The program replaces malloc and its relatives, operator new and delete (which it routes to
    malloc), and pthread_mutex_lock and trylock, so every allocation is seen, whether it comes
    through C++ or through JUCE's HeapBlock, and every CriticalSection or std::mutex taken.
    Bytes are counted as the allocator hands them out (malloc_usable_size), over all threads;
    allocations and locks are counted per thread, so that a measured thread is not blurred by
    the driver and timer threads around it. Any thread.
*/
class HeapAndLockCounter final
{
public:
    /** Heap bytes currently held, all threads together. */
    static long long getLiveBytes() noexcept;

    /** The most heap bytes held at any moment since the last resetPeak. */
    static long long getPeakBytes() noexcept;

    /** Starts a new peak from what is held now. */
    static void resetPeak() noexcept;

    /** Allocations (malloc, calloc, realloc, new and their aligned forms) made so far by the
        calling thread.
    */
    static long long getThreadAllocations() noexcept;

    /** Mutexes locked (or tried) so far by the calling thread. */
    static long long getThreadLocks() noexcept;

private:
    HeapAndLockCounter() = delete;
};
