#include "PortSender.h"

#include <map>

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h> // with timeBeginPeriod: it is not built lean
#endif

namespace
{
    // After traffic, the sender looks for new messages at this interval for a while before it
    // sleeps until it is signalled; the interval adds at most that much to a message's way.
    constexpr auto pollInterval = std::chrono::microseconds (250);
    constexpr auto lingerTime = std::chrono::milliseconds (100);

    // How long a closing outbox waits for its messages at most. Its own messages take a few
    // milliseconds on the line; only a stalled driver takes longer.
    constexpr auto closeBound = std::chrono::milliseconds (500);
}

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
    : thread ([this]
              { run(); })
{
}

PortSender::~PortSender()
{
    jassert (entries.empty());

    quitting.store (true);
    wakeSignal.signal();
    thread.join();
}

void PortSender::add (ConsoleOutbox& outbox, MidiPortSystem::Output& port)
{
    const std::lock_guard<std::mutex> lock (entriesLock);
    entries.push_back ({ &outbox, &port, false });
}

void PortSender::remove (ConsoleOutbox& outbox, bool writeWhatWaits)
{
    std::unique_lock<std::mutex> lock (entriesLock);

    const auto find = [&]
    {
        return std::find_if (entries.begin(), entries.end(), [&] (const Entry& e)
                             { return e.outbox == &outbox; });
    };

    if (find() == entries.end())
        return;

    if (writeWhatWaits)
    {
        find()->closing = true;
        lock.unlock();
        wake();
        lock.lock();

        // While this thread holds the lock, no write is in progress, so a waiting message is
        // all that can be left.
        messageWritten.wait_for (lock, closeBound, [&]
                                 { return ! outbox.hasPending(); });
    }

    const auto position = (size_t) std::distance (entries.begin(), find());
    entries.erase (entries.begin() + (std::ptrdiff_t) position);

    if (nextTurn > position)
        --nextTurn;

    if (nextTurn >= entries.size())
        nextTurn = 0;
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
        allSent = sender->waitUntilSent (deadline) && allSent;

    return allSent;
}

bool PortSender::waitUntilSent (std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock (entriesLock);

    // With the lock held no write is in progress, so a waiting message is all that can be left.
    return messageWritten.wait_until (lock, deadline, [this]
                                      { return std::none_of (entries.begin(), entries.end(), [] (const Entry& e)
                                                             { return e.outbox->hasPending(); }); });
}

void PortSender::wake() noexcept
{
    if (! wakeRequested.exchange (true))
        wakeSignal.signal();
}

void PortSender::run()
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

bool PortSender::writeNext()
{
    bool wrote;

    {
        const std::lock_guard<std::mutex> lock (entriesLock);
        wrote = writeNextLocked();
    }

    messageWritten.notify_all();
    return wrote;
}

bool PortSender::writeNextLocked()
{
    // A closing outbox goes first, so that a close waits for its own messages only.
    for (auto& entry : entries)
        if (entry.closing && writeFrom (entry))
            return true;

    for (size_t i = 0; i < entries.size(); ++i)
    {
        const auto turn = (nextTurn + i) % entries.size();

        if (writeFrom (entries[turn]))
        {
            nextTurn = (turn + 1) % entries.size();
            return true;
        }
    }

    return false;
}

bool PortSender::writeFrom (Entry& entry)
{
    auto& outbox = *entry.outbox;
    ConsoleOutbox::Message message;

    outbox.writing.store (true);
    const auto taken = outbox.takeNext (message);

    if (taken)
    {
        const auto start = std::chrono::steady_clock::now();
        entry.port->sendBlockNow (message.bytes, message.size);
        lineFreeAt = std::max (start, lineFreeAt) + byteTime * message.size;
    }

    outbox.writing.store (false);
    return taken;
}
