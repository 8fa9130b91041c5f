#include "AlsaPortDepartures.h"

#if JUCE_LINUX || JUCE_BSD
#include <alsa/asoundlib.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <tuple>
#include <unistd.h>

namespace
{
    /** A port identifier as JUCE gives it, "128-0", as client and port; -1s if it is none. */
    std::pair<int, int> parseIdentifier (const juce::String& identifier)
    {
        const auto parts = juce::StringArray::fromTokens (identifier, "-", {});

        if (parts.size() != 2 || ! parts[0].containsOnly ("0123456789") || ! parts[1].containsOnly ("0123456789"))
            return { -1, -1 };

        return { parts[0].getIntValue(), parts[1].getIntValue() };
    }
}

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
                // Announcements were lost: any port may have gone. Connections made and undone
                // are announced too, so this happens on a busy patch bay.
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

    /** With the lock held: whether the sequencer holds that connection now. */
    bool isConnected (int senderClient, int senderPort, int destClient, int destPort)
    {
        if (handle == nullptr)
            return false;

        snd_seq_port_subscribe_t* subscription = nullptr;
        snd_seq_port_subscribe_alloca (&subscription);
        const snd_seq_addr_t sender { (unsigned char) senderClient, (unsigned char) senderPort };
        const snd_seq_addr_t dest { (unsigned char) destClient, (unsigned char) destPort };
        snd_seq_port_subscribe_set_sender (subscription, &sender);
        snd_seq_port_subscribe_set_dest (subscription, &dest);
        return snd_seq_get_port_subscription (handle, subscription) == 0;
    }

    /** With the lock held: the ports connected to write to the port (writers), or that the
        port sends to, each with whether this process owns its client.
    */
    std::vector<std::pair<Address, bool>> connectionsOf (int rootClient, int rootPort, bool writers)
    {
        std::vector<std::pair<Address, bool>> found;

        if (handle == nullptr)
            return found;

        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca (&query);
        const snd_seq_addr_t root { (unsigned char) rootClient, (unsigned char) rootPort };
        snd_seq_query_subscribe_set_root (query, &root);
        snd_seq_query_subscribe_set_type (query, writers ? SND_SEQ_QUERY_SUBS_WRITE : SND_SEQ_QUERY_SUBS_READ);

        for (int index = 0;; ++index)
        {
            snd_seq_query_subscribe_set_index (query, index);

            if (snd_seq_query_port_subscribers (handle, query) < 0)
                return found;

            const auto* addr = snd_seq_query_subscribe_get_addr (query);
            snd_seq_client_info_t* info = nullptr;
            snd_seq_client_info_alloca (&info);
            const auto ours = snd_seq_get_any_client_info (handle, addr->client, info) == 0
                              && snd_seq_client_info_get_pid (info) == (int) ::getpid();
            found.push_back ({ { addr->client, addr->port }, ours });
        }
    }

    /** With the lock held: the ports of this process among those connections. */
    std::vector<Address> ownConnectionsOf (int rootClient, int rootPort, bool writers)
    {
        std::vector<Address> ownPorts;

        for (const auto& [connected, ours] : connectionsOf (rootClient, rootPort, writers))
            if (ours)
                ownPorts.push_back (connected);

        std::sort (ownPorts.begin(), ownPorts.end());
        return ownPorts;
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
    std::tie (client, port) = parseIdentifier (portIdentifier);

    if (client < 0)
        return;

    const std::lock_guard<std::mutex> l (listener->lock);
    listener->readAnnouncements();
    ownSendersBefore = listener->ownConnectionsOf (client, port, true);
    ownReceiversBefore = listener->ownConnectionsOf (client, port, false);
    portMark = listener->portDepartures[{ client, port }];
    clientMark = listener->clientDepartures[client];
    overrunMark = listener->overruns;
}

AlsaPortDepartures::Watch::~Watch() = default;

void AlsaPortDepartures::Watch::noteOpened (bool ownSends)
{
    if (client < 0)
        return;

    const std::lock_guard<std::mutex> l (listener->lock);
    const auto now = listener->ownConnectionsOf (client, port, ownSends);
    const auto& before = ownSends ? ownSendersBefore : ownReceiversBefore;
    std::vector<Address> made;
    std::set_difference (now.begin(), now.end(), before.begin(), before.end(), std::back_inserter (made));

    // Exactly one, as the process opens one port at a time; otherwise the handle's connection
    // is not known, and a loss of announcements counts as the port's departure.
    if (made.size() == 1)
    {
        own = made.front();
        ownPortSends = ownSends;
    }
}

bool AlsaPortDepartures::Watch::hasGone() const
{
    if (client < 0)
        return false;

    const std::lock_guard<std::mutex> l (listener->lock);
    listener->readAnnouncements();

    if (listener->portDepartures[{ client, port }] != portMark || listener->clientDepartures[client] != clientMark)
        return true;

    if (listener->overruns == overrunMark)
        return false;

    // Announcements were lost. The connection made when the handle was opened stands only if
    // the port never went: the sequencer drops a port's connections when it goes.
    if (own.client < 0)
        return true;

    const auto connected = ownPortSends ? listener->isConnected (own.client, own.port, client, port)
                                        : listener->isConnected (client, port, own.client, own.port);

    // Whatever was lost up to now is answered; a later loss is asked about again.
    if (connected)
        overrunMark = listener->overruns;

    return ! connected;
}

bool AlsaPortDepartures::Watch::othersWrite() const
{
    if (client < 0)
        return false;

    const std::lock_guard<std::mutex> l (listener->lock);

    for (const auto& [address, ours] : listener->connectionsOf (client, port, true))
        if (! ours)
            return true;

    return false;
}

#else

struct AlsaPortDepartures::Watch::Listener
{
};

AlsaPortDepartures::Watch::Watch (const juce::String&) {}

AlsaPortDepartures::Watch::~Watch() = default;

void AlsaPortDepartures::Watch::noteOpened (bool) {}

bool AlsaPortDepartures::Watch::hasGone() const { return false; }

bool AlsaPortDepartures::Watch::othersWrite() const { return false; }

#endif
