#include "AlsaPortDepartures.h"

#if JUCE_LINUX || JUCE_BSD
#include <alsa/asoundlib.h>

#include <map>
#include <mutex>

/** The process's client on the sequencer's announcement port, shared by every watch. */
struct AlsaPortDepartures::Watch::Listener
{
    Listener()
    {
        if (snd_seq_open (&handle, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0)
        {
            handle = nullptr;
            return;
        }

        snd_seq_set_client_name (handle, "Quillmere port watch");

        // Written to by the announcements alone: others can neither see nor subscribe to it.
        const auto ownPort = snd_seq_create_simple_port (handle, "Announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT, SND_SEQ_PORT_TYPE_APPLICATION);

        if (ownPort < 0 || snd_seq_connect_from (handle, ownPort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE) < 0)
        {
            snd_seq_close (handle);
            handle = nullptr;
        }
    }

    ~Listener()
    {
        if (handle != nullptr)
            snd_seq_close (handle);
    }

    /** With the lock held: takes in the announcements that have arrived. */
    void readAnnouncements()
    {
        if (handle == nullptr)
            return;

        for (;;)
        {
            snd_seq_event_t* event = nullptr;
            const auto result = snd_seq_event_input (handle, &event);

            if (result == -ENOSPC)
            {
                // Announcements were lost: any port may have gone.
                ++overruns;
                continue;
            }

            if (result < 0 || event == nullptr)
                return;

            if (event->type == SND_SEQ_EVENT_PORT_EXIT)
                ++portDepartures[{ event->data.addr.client, event->data.addr.port }];
            else if (event->type == SND_SEQ_EVENT_CLIENT_EXIT)
                ++clientDepartures[event->data.addr.client];
        }
    }

    static std::shared_ptr<Listener> getShared()
    {
        static std::mutex sharedLock; // guards shared
        static std::weak_ptr<Listener> shared;

        const std::lock_guard<std::mutex> l (sharedLock);
        auto listener = shared.lock();

        if (listener == nullptr)
        {
            listener = std::make_shared<Listener>();
            shared = listener;
        }

        return listener;
    }

    std::mutex lock; // guards handle's input and the counts below
    snd_seq_t* handle = nullptr;
    std::map<std::pair<int, int>, juce::uint64> portDepartures;
    std::map<int, juce::uint64> clientDepartures;
    juce::uint64 overruns = 0;
};

AlsaPortDepartures::Watch::Watch (const juce::String& portIdentifier)
    : listener (Listener::getShared())
{
    const auto parts = juce::StringArray::fromTokens (portIdentifier, "-", {});

    if (parts.size() != 2 || ! parts[0].containsOnly ("0123456789") || ! parts[1].containsOnly ("0123456789"))
        return;

    client = parts[0].getIntValue();
    port = parts[1].getIntValue();

    const std::lock_guard<std::mutex> l (listener->lock);
    listener->readAnnouncements();
    portMark = listener->portDepartures[{ client, port }];
    clientMark = listener->clientDepartures[client];
    overrunMark = listener->overruns;
}

AlsaPortDepartures::Watch::~Watch() = default;

bool AlsaPortDepartures::Watch::hasGone() const
{
    if (client < 0)
        return false;

    const std::lock_guard<std::mutex> l (listener->lock);
    listener->readAnnouncements();

    return listener->portDepartures[{ client, port }] != portMark
           || listener->clientDepartures[client] != clientMark
           || listener->overruns != overrunMark;
}

#else

struct AlsaPortDepartures::Watch::Listener
{
};

AlsaPortDepartures::Watch::Watch (const juce::String&) {}

AlsaPortDepartures::Watch::~Watch() = default;

bool AlsaPortDepartures::Watch::hasGone() const { return false; }

#endif
