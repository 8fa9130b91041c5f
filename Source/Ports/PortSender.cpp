#include "PortSender.h"
#include "JuceRun.h"

#include <map>

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h> // with timeBeginPeriod: it is not built lean
#endif

namespace
{
    std::atomic<int> numPortsLeftOpen { 0 };

    /** Keeps a port that JUCE can no longer close safely open until the process ends. */
    void leaveOpen (std::shared_ptr<MidiPortSystem::Output> port)
    {
        static std::mutex leftOpenLock;                                                     // guards leftOpen
        static auto* leftOpen = new std::vector<std::shared_ptr<MidiPortSystem::Output>>(); // never destroyed

        const std::lock_guard<std::mutex> lock (leftOpenLock);
        leftOpen->push_back (std::move (port));
        ++numPortsLeftOpen;
    }

    // After traffic, the sender looks for new messages at this interval for a while before it
    // sleeps until it is signalled; the interval adds at most that much to a message's way.
    constexpr auto pollInterval = std::chrono::microseconds (250);
    constexpr auto lingerTime = std::chrono::milliseconds (100);
}

struct PortSender::Line
{
    struct Entry
    {
        ConsoleOutbox* outbox;
        std::shared_ptr<MidiPortSystem::Output> port;
        juce::uint64 id;
        bool closing;
        bool writing; // a message of this outbox is in the driver
    };

    // Guards entries, nextTurn, nextId, inDriver, stuck and threadEnded. Never held while a
    // message is written, so that nobody waits for a driver while holding it.
    std::mutex entriesLock;
    std::condition_variable changed; // a write has returned, or the thread has ended
    std::vector<Entry> entries;
    size_t nextTurn = 0;
    juce::uint64 nextId = 0;
    bool threadEnded = false;

    // Set while a message is in the driver. A close that waited the whole bound while it was
    // marks the line stuck, until the write returns: later closes then drop what waits at once
    // instead of each waiting the bound again for a driver already known not to answer.
    bool inDriver = false;
    bool stuck = false;

    // The run of JUCE the sender was made in; the thread may outlive it (see letGoOf).
    const std::shared_ptr<JuceRun> juceRun = JuceRun::current();

    // When the line is free again. Sender thread only.
    std::chrono::steady_clock::time_point lineFreeAt;

    // Set while the sender is awake or looking at short intervals, so that posts need not
    // signal it; cleared just before it sleeps on wakeSignal.
    WakeSignal wakeSignal;
    std::atomic<bool> wakeRequested { true };
    std::atomic<bool> quitting { false };

    Entry* find (const ConsoleOutbox& outbox)
    {
        for (auto& e : entries)
            if (e.outbox == &outbox)
                return &e;

        return nullptr;
    }

    Entry* findById (juce::uint64 id)
    {
        for (auto& e : entries)
            if (e.id == id)
                return &e;

        return nullptr;
    }

    bool isIdle()
    {
        return std::none_of (entries.begin(), entries.end(), [] (const Entry& e)
                             { return e.writing || e.outbox->hasPending(); });
    }

    void wake() noexcept
    {
        if (! wakeRequested.exchange (true))
            wakeSignal.signal();
    }

    /** With the lock held: takes the next message of an entry, marking the entry as writing. */
    bool takeFrom (Entry& entry, ConsoleOutbox::Message& message)
    {
        // In this order: an outbox is marked as writing before its slot is emptied, so that it
        // never looks idle while its message is on the way.
        entry.outbox->writing.store (true);

        if (entry.outbox->takeNext (message))
        {
            entry.writing = true;
            return true;
        }

        entry.outbox->writing.store (false);
        return false;
    }

    /** With the lock held: the entry whose message goes next, null when none waits. */
    Entry* takeNext (ConsoleOutbox::Message& message)
    {
        // A closing outbox goes first, so that a close waits for its own messages only.
        for (auto& entry : entries)
            if (entry.closing && takeFrom (entry, message))
                return &entry;

        for (size_t i = 0; i < entries.size(); ++i)
        {
            const auto turn = (nextTurn + i) % entries.size();

            if (takeFrom (entries[turn], message))
            {
                nextTurn = (turn + 1) % entries.size();
                return &entries[turn];
            }
        }

        return nullptr;
    }

    /** Sender thread: lets go of a port after a write. Closing it, should this be its last
        holder, calls JUCE, which may have shut down meanwhile if the thread was stuck in the
        driver while the host closed every instance: then the port is left open for good.
    */
    void letGoOf (std::shared_ptr<MidiPortSystem::Output> port)
    {
        if (! juceRun->whileRunning ([&port]
                                     { port.reset(); }))
            leaveOpen (std::move (port));
    }

    /** Sender thread: writes the next message, if one waits. */
    bool writeNext()
    {
        ConsoleOutbox::Message message;
        std::shared_ptr<MidiPortSystem::Output> port;
        juce::uint64 id = 0;

        {
            const std::lock_guard<std::mutex> lock (entriesLock);

            if (auto* entry = takeNext (message))
            {
                port = entry->port;
                id = entry->id;
                inDriver = true;
            }
        }

        if (port == nullptr)
        {
            // A level that repeats what the console shows may have been dropped from its slot,
            // which is news to whoever waits for the outboxes to empty.
            changed.notify_all();
            return false;
        }

        const auto start = std::chrono::steady_clock::now();
        port->sendBlockNow (message.bytes, message.size);
        lineFreeAt = std::max (start, lineFreeAt) + byteTime * message.size;

        // A port whose outbox has been removed meanwhile is let go of here, once its driver has
        // returned; otherwise the entry still shares it.
        letGoOf (std::move (port));

        {
            const std::lock_guard<std::mutex> lock (entriesLock);
            inDriver = false;
            stuck = false;

            if (auto* entry = findById (id))
            {
                entry->writing = false;
                entry->outbox->writing.store (false);
            }
        }

        changed.notify_all();
        return true;
    }

    /** The sender's thread. */
    void run()
    {
#if JUCE_WINDOWS
        // Windows sleeps in steps of its timer's resolution, 15.6 ms unless someone asks for
        // better; a byte takes 0.32 ms, so the sender asks for 1 ms while it runs.
        struct FineTimer
        {
            FineTimer() { timeBeginPeriod (1); }
            ~FineTimer() { timeEndPeriod (1); }
        } fineTimer;
#endif

        auto lastActive = std::chrono::steady_clock::now();

        for (;;)
        {
            // New messages only replace waiting ones while the line is busy, so the sender takes
            // the next message when the line is free, never before.
            if (std::chrono::steady_clock::now() < lineFreeAt)
                std::this_thread::sleep_until (lineFreeAt);

            if (quitting.load())
                return;

            if (writeNext())
            {
                lastActive = std::chrono::steady_clock::now();
                continue;
            }

            // Idle. Soon after traffic the sender keeps looking at a short interval instead of
            // sleeping on the signal: wakeRequested stays set, so posts made meanwhile (a host's
            // automation on its audio thread among them) make no system call, which on a busy or
            // virtual machine can hold the posting thread up for far longer than the post itself.
            if (std::chrono::steady_clock::now() - lastActive < lingerTime)
            {
                std::this_thread::sleep_for (pollInterval);
                continue;
            }

            // Cleared before looking again, so that a post made after that look signals the wait.
            wakeRequested.exchange (false);

            if (writeNext())
            {
                wakeRequested.store (true);
                lastActive = std::chrono::steady_clock::now();
                continue;
            }

            wakeSignal.wait();
            lastActive = std::chrono::steady_clock::now();
        }
    }
};

namespace
{
    struct Registry
    {
        std::mutex lock; // guards senders
        std::map<juce::String, std::weak_ptr<PortSender>> senders;
    };

    Registry& getRegistry()
    {
        static Registry registry;
        return registry;
    }
}

std::shared_ptr<PortSender> PortSender::forPort (const juce::String& portName)
{
    auto& [registryLock, registry] = getRegistry();
    const std::lock_guard<std::mutex> lock (registryLock);

    for (auto it = registry.begin(); it != registry.end();)
        it = it->second.expired() ? registry.erase (it) : std::next (it);

    auto& entry = registry[portName];

    if (auto existing = entry.lock())
        return existing;

    std::shared_ptr<PortSender> created (new PortSender());
    entry = created;
    return created;
}

PortSender::PortSender()
    : line (std::make_shared<Line>())
    , thread ([l = line]
              {
                  l->run();

                  {
                      const std::lock_guard<std::mutex> lock (l->entriesLock);
                      l->threadEnded = true;
                  }

                  l->changed.notify_all(); })
{
}

PortSender::~PortSender()
{
    std::unique_lock<std::mutex> lock (line->entriesLock);
    jassert (line->entries.empty());

    line->quitting.store (true);
    line->wakeSignal.signal();

    // A thread stuck in a driver is left to end by itself when the driver returns; it holds
    // the line and the port it writes to until then. A line known to be stuck is not waited
    // for again: the close that found it stuck has waited the bound already.
    const auto ended = line->changed.wait_for (lock, closeBound, [this]
                                               { return line->threadEnded || line->stuck; })
                       && line->threadEnded;
    lock.unlock();

    if (ended)
    {
        thread.join();
    }
    else
    {
        // The thread runs the module's code when the driver returns, maybe after the host has
        // unloaded the module.
        JuceRun::keepModuleLoaded();
        thread.detach();
    }
}

void PortSender::add (ConsoleOutbox& outbox, std::shared_ptr<MidiPortSystem::Output> port)
{
    jassert (port != nullptr);

    const std::lock_guard<std::mutex> lock (line->entriesLock);
    line->entries.push_back ({ &outbox, std::move (port), line->nextId++, false, false });
}

void PortSender::remove (ConsoleOutbox& outbox, bool writeWhatWaits)
{
    auto& l = *line;
    std::unique_lock<std::mutex> lock (l.entriesLock);

    if (auto* entry = l.find (outbox))
    {
        if (writeWhatWaits)
        {
            entry->closing = true;
            lock.unlock();
            l.wake();
            lock.lock();
        }
    }
    else
    {
        return;
    }

    // No post can start for this outbox any more, so its waiting messages only ever go; its
    // write in progress is waited for too, so that the port is done with when this returns.
    // On a line known to be stuck nothing is waited for: what waits is dropped, and a write in
    // progress keeps its port alive by itself.
    const auto done = [&]
    {
        const auto* entry = l.find (outbox);
        return l.stuck || (! entry->writing && ! (writeWhatWaits && outbox.hasPending()));
    };

    if (! l.changed.wait_for (lock, closeBound, done) && l.inDriver)
    {
        l.stuck = true;
        l.changed.notify_all(); // other closes waiting on this line give up too
    }

    const auto position = (size_t) std::distance (l.entries.data(), l.find (outbox));
    l.entries.erase (l.entries.begin() + (std::ptrdiff_t) position);

    if (l.nextTurn > position)
        --l.nextTurn;

    if (l.nextTurn >= l.entries.size())
        l.nextTurn = 0;
}

int PortSender::getNumPortsLeftOpen() noexcept
{
    return numPortsLeftOpen.load();
}

std::vector<std::shared_ptr<PortSender>> PortSender::getLiveSenders()
{
    auto& [registryLock, registry] = getRegistry();
    const std::lock_guard<std::mutex> lock (registryLock);
    std::vector<std::shared_ptr<PortSender>> live;

    for (auto& entry : registry)
        if (auto sender = entry.second.lock())
            live.push_back (std::move (sender));

    return live;
}

bool PortSender::waitUntilAllSent (int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (timeoutMs);
    bool allSent = true;

    for (auto& sender : getLiveSenders())
    {
        auto& l = *sender->line;
        std::unique_lock<std::mutex> lock (l.entriesLock);
        allSent = l.changed.wait_until (lock, deadline, [&l]
                                        { return l.isIdle(); })
                  && allSent;
    }

    return allSent;
}

void PortSender::wake() noexcept
{
    line->wake();
}
