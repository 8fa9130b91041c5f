#include "PortWatcher.h"

#include <cstdlib>

namespace
{
    void stopRoundsAtExit();

    /** The watcher's state, shared by its thread and the listeners' threads. */
    struct Watch
    {
        struct Entry
        {
            PortWatcher::Listener* listener;
            bool watching;
        };

        std::mutex lock; // guards everything below; never held during a listener's call
        std::condition_variable changed;
        std::vector<Entry> entries;
        PortWatcher::Listener* calling = nullptr;
        // Plain vectors: the watch is never destroyed, and JUCE's leak detector would count
        // a StringArray kept here as leaked when the program ends.
        std::vector<juce::String> lastInputs, lastOutputs;
        int listingCount = 0;

        // The thread runs while someone watches and ends by itself when nobody does; whoever
        // starts the next one, or removes the last listener, joins it.
        std::thread thread;
        bool threadRunning = false;
        int threadGeneration = 0;    // a thread stops as soon as its generation is not the current one
        bool processExiting = false; // set as the process exits: no round starts any more

        bool anyWatching() const
        {
            return std::any_of (entries.begin(), entries.end(), [] (const Entry& e)
                                { return e.watching; });
        }

        bool isWatching (PortWatcher::Listener* listener) const
        {
            return std::any_of (entries.begin(), entries.end(), [listener] (const Entry& e)
                                { return e.listener == listener && e.watching; });
        }

        /** With the lock held: starts the thread if nobody runs one. */
        void startThreadIfNeeded()
        {
            if (threadRunning)
                return;

            // A thread that ended by itself has released the lock for good.
            if (thread.joinable())
                thread.join();

            threadRunning = true;
            thread = std::thread ([this, generation = threadGeneration]
                                  { run (generation); });
        }

        void run (int generation)
        {
            std::unique_lock<std::mutex> held (lock);
            const auto stopping = [this, generation]
            { return processExiting || threadGeneration != generation || ! anyWatching(); };

            for (;;)
            {
                if (stopping())
                {
                    if (threadGeneration == generation)
                        threadRunning = false;

                    return;
                }

                if (changed.wait_for (held, std::chrono::milliseconds (PortWatcher::intervalMs), stopping))
                    continue;

                held.unlock();
                const auto inputs = MidiPortSystem::getInputNames();
                const auto outputs = MidiPortSystem::getOutputNames();
                stopRoundsAtExit();
                held.lock();

                lastInputs.assign (inputs.begin(), inputs.end());
                lastOutputs.assign (outputs.begin(), outputs.end());
                ++listingCount;

                // One listener at a time, each looked up again before its call, since the list
                // may change while the lock is released.
                std::vector<PortWatcher::Listener*> toCall;

                for (const auto& e : entries)
                    if (e.watching)
                        toCall.push_back (e.listener);

                for (auto* listener : toCall)
                {
                    if (processExiting || threadGeneration != generation || ! isWatching (listener))
                        continue;

                    calling = listener;
                    held.unlock();
                    listener->portsListed (inputs, outputs);
                    held.lock();
                    calling = nullptr;
                    changed.notify_all();
                }
            }
        }
    };

    /** Deletes the watch with the module's statics (as the process exits, or as a host unloads
        the plug-in) only once nobody uses it: no listener is registered and no thread runs.
    */
    struct DeleteWhenUnused
    {
        Watch* watch;

        ~DeleteWhenUnused()
        {
            {
                const std::lock_guard<std::mutex> held (watch->lock);

                if (! watch->entries.empty() || watch->threadRunning || watch->thread.joinable())
                    return;
            }

            delete watch;
        }
    };

    /** Created once, and destroyed with the statics only when unused. A host may call exit()
        while an instance still watches: the thread is then running, and a joinable std::thread
        destroyed with the statics would end the process with std::terminate. The thread may
        also still be inside its wait when the statics go, so the state it waits on stays too.
        A host that unloads the plug-in has closed every instance first: the watch then goes,
        rather than stay behind as a leak each time the module is loaded again.
    */
    Watch& getWatch()
    {
        static auto* watch = new Watch();

        // Made after the watch, so destroyed after the exit handler that the first listing
        // registers, which uses the watch.
        static const DeleteWhenUnused deleter { watch };
        juce::ignoreUnused (deleter);
        return *watch;
    }

    /** Registered once, after the thread's first listing: the port system's statics, made by
        that listing at the latest, are destroyed after it runs, so no round that starts once the
        process exits uses them.
    */
    void stopRoundsAtExit()
    {
        [[maybe_unused]] static const bool registered = []
        {
            return std::atexit ([]
                                {
                                    auto& watch = getWatch();
                                    const std::lock_guard<std::mutex> held (watch.lock);
                                    watch.processExiting = true;
                                    watch.changed.notify_all(); })
                   == 0;
        }();

        jassert (registered);
    }
}

void PortWatcher::addListener (Listener* listener)
{
    jassert (listener != nullptr);

    auto& watch = getWatch();
    const std::lock_guard<std::mutex> held (watch.lock);
    watch.entries.push_back ({ listener, false });
}

void PortWatcher::removeListener (Listener* listener)
{
    auto& watch = getWatch();
    std::thread finished;

    {
        std::unique_lock<std::mutex> held (watch.lock);

        watch.entries.erase (std::remove_if (watch.entries.begin(), watch.entries.end(), [listener] (const Watch::Entry& e)
                                             { return e.listener == listener; }),
                             watch.entries.end());

        // A call in progress finishes before the listener may go.
        watch.changed.wait (held, [&]
                            { return watch.calling != listener; });

        if (watch.entries.empty())
        {
            ++watch.threadGeneration;
            watch.threadRunning = false;
            watch.changed.notify_all();
            finished = std::move (watch.thread);
        }
    }

    if (finished.joinable())
        finished.join();
}

void PortWatcher::setWatching (Listener* listener, bool shouldWatch)
{
    auto& watch = getWatch();
    const std::lock_guard<std::mutex> held (watch.lock);

    for (auto& e : watch.entries)
        if (e.listener == listener)
            e.watching = shouldWatch;

    if (watch.anyWatching())
        watch.startThreadIfNeeded();

    watch.changed.notify_all();
}

int PortWatcher::getListingCount()
{
    auto& watch = getWatch();
    const std::lock_guard<std::mutex> held (watch.lock);
    return watch.listingCount;
}

juce::StringArray PortWatcher::getLastInputNames()
{
    auto& watch = getWatch();
    const std::lock_guard<std::mutex> held (watch.lock);
    return { watch.lastInputs.data(), (int) watch.lastInputs.size() };
}

juce::StringArray PortWatcher::getLastOutputNames()
{
    auto& watch = getWatch();
    const std::lock_guard<std::mutex> held (watch.lock);
    return { watch.lastOutputs.data(), (int) watch.lastOutputs.size() };
}

juce::StringArray PortWatcher::getLastNames (PortDirection direction)
{
    return direction == PortDirection::input ? getLastInputNames() : getLastOutputNames();
}
