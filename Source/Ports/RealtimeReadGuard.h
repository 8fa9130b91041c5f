#pragma once

#include <atomic>
#include <thread>

/** Lets threads that must never wait (a host's audio thread among them) use an object that
    other threads replace, without a lock.

    A reader enters a ReadScope, loads the object's pointer from an atomic, uses it and leaves.
    A writer stores the new pointer (or null), then calls synchronise(), which returns once no
    reader can still be using the old object, so that the writer may delete it. Readers never
    wait; a writer waits only for the readers that were inside when it swapped the pointer.

    Readers are counted in one of two counters, chosen by an epoch that synchronise() advances,
    so a stream of new readers cannot hold a writer up: they count in the other counter.
    Writers serialise among themselves (the owner's locks do that).
*/
class RealtimeReadGuard final
{
public:
    RealtimeReadGuard() = default;

    class ReadScope final
    {
    public:
        /** Any thread; never waits and never allocates. */
        explicit ReadScope (RealtimeReadGuard& guardToUse) noexcept
            : guard (guardToUse)
        {
            // Counting under an epoch that a writer has meanwhile left behind would let that
            // writer's next synchronise() miss this reader, so the epoch is checked again
            // after counting.
            for (;;)
            {
                epoch = guard.epoch.load();
                guard.readers[epoch & 1].fetch_add (1);

                if (guard.epoch.load() == epoch)
                    break;

                guard.readers[epoch & 1].fetch_sub (1);
            }
        }

        ~ReadScope() noexcept { guard.readers[epoch & 1].fetch_sub (1); }

    private:
        RealtimeReadGuard& guard;
        unsigned epoch = 0;

        ReadScope (const ReadScope&) = delete;
        ReadScope& operator= (const ReadScope&) = delete;
    };

    /** Waits until every reader that may have loaded a pointer before this call has left its
        scope. Call it after storing the new pointer. Never on a real-time thread.
    */
    void synchronise() noexcept
    {
        const auto oldEpoch = epoch.fetch_add (1);

        while (readers[oldEpoch & 1].load() != 0)
            std::this_thread::yield();
    }

private:
    // Sequentially consistent throughout: a reader's count must be ordered before its load of
    // the pointer, and a writer's store of the pointer before its look at the counts.
    std::atomic<unsigned> epoch { 0 };
    std::atomic<int> readers[2] {};

    RealtimeReadGuard (const RealtimeReadGuard&) = delete;
    RealtimeReadGuard& operator= (const RealtimeReadGuard&) = delete;
};
