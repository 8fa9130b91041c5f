// The sequencer half of the test sequencer's libasound: clients, ports, subscriptions and
// events, carried to and from the router (SequencerRouter.cpp) over Unix-domain sockets.
// Programs load this library in place of the system's libasound.so.2, so that JUCE and wine
// run their real ALSA code against a sequencer that exists only for the tests.

#include "SequencerFaults.h"
#include "SequencerProtocol.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace test_sequencer;

struct _snd_seq
{
    int controlFd = -1;
    int eventFd = -1;
    int client = -1;
    int streams = 0;
    bool nonBlocking = false;

    // One request and its reply at a time on the control socket, as one ioctl at a time.
    std::mutex controlLock;

    // The input buffer: events read from the router and not yet handed out, and the one handed
    // out last, which stays valid until the next call that reads, as in the real library.
    std::deque<std::vector<unsigned char>> input;
    std::vector<unsigned char> current;
    bool inputLost = false;

    // The real library shares one buffer per handle for reading and one for writing events
    // with variable-length data, so two threads doing either at once corrupt each other's
    // events. These count the threads inside, to report such use instead of hiding it.
    std::atomic<int> readers { 0 };
    std::atomic<int> variableWriters { 0 };
};

struct _snd_seq_system_info
{
    int queues, clients, ports, channels, curClients, curQueues;
};

struct _snd_seq_client_info
{
    int client;
    snd_seq_client_type_t type;
    char name[nameSize];
    int numPorts;
    int pid;
};

struct _snd_seq_port_subscribe
{
    snd_seq_addr_t sender, dest;
};

struct _snd_seq_query_subscribe
{
    snd_seq_addr_t root;
    snd_seq_query_subs_type_t type;
    int index, numSubs;
    snd_seq_addr_t addr;
};

struct _snd_seq_port_info
{
    snd_seq_addr_t addr;
    char name[nameSize];
    unsigned int capability, type;
};

namespace
{
    void copyName (char* destination, const char* source)
    {
        std::strncpy (destination, source != nullptr ? source : "", nameSize - 1);
        destination[nameSize - 1] = 0;
    }

    /** Sends one request (with its payload) and waits for the reply; -errno if the router
        cannot be reached or takes more than ten seconds.
    */
    int transact (snd_seq_t* seq, Request request, Reply& reply, const void* payload = nullptr, size_t payloadSize = 0)
    {
        std::vector<unsigned char> packet (sizeof (Request) + payloadSize);
        std::memcpy (packet.data(), &request, sizeof (Request));

        if (payloadSize > 0)
            std::memcpy (packet.data() + sizeof (Request), payload, payloadSize);

        const std::lock_guard<std::mutex> held (seq->controlLock);

        if (::send (seq->controlFd, packet.data(), packet.size(), MSG_NOSIGNAL) != (ssize_t) packet.size())
        {
            reportFault ("the router does not answer (client %d): %s", seq->client, std::strerror (errno));
            return -ENODEV;
        }

        const auto received = ::recv (seq->controlFd, &reply, sizeof (reply), 0);

        if (received != (ssize_t) sizeof (reply))
        {
            reportFault ("no reply from the router (client %d): %s", seq->client, received < 0 ? std::strerror (errno) : "connection closed");
            return -ENODEV;
        }

        if (reply.result == -ENOSYS)
            notImplemented (reply.name);

        return reply.result;
    }

    Request makeRequest (Op op, int a = 0, int b = 0, int c = 0, int d = 0)
    {
        Request request {};
        request.op = op;
        request.a = a;
        request.b = b;
        request.c = c;
        request.d = d;
        return request;
    }

    int connectToRouter()
    {
        const auto* folder = std::getenv (folderVariable);

        if (folder == nullptr)
        {
            // A machine without a sequencer device: the real library fails the same way.
            static std::once_flag told;
            std::call_once (told, []
                            { reportFault ("%s is not set, so there is no sequencer to open", folderVariable); });
            return -ENOENT;
        }

        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const auto path = std::string (folder) + "/" + socketName;

        if (path.size() >= sizeof (address.sun_path))
        {
            reportFault ("the router's socket path is too long: %s", path.c_str());
            return -ENAMETOOLONG;
        }

        std::strcpy (address.sun_path, path.c_str());
        const auto fd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);

        if (fd < 0)
            return -errno;

        if (::connect (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0)
        {
            const auto error = errno;
            reportFault ("no router listens at %s: %s", path.c_str(), std::strerror (error));
            ::close (fd);
            return -ENOENT;
        }

        // Every wait for the router has a bound.
        timeval timeout { 10, 0 };
        ::setsockopt (fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof (timeout));
        return fd;
    }

    /** Receives the reply to hello with the event socket passed along. */
    int receiveHello (int controlFd, Reply& reply, int& eventFd)
    {
        iovec part { &reply, sizeof (reply) };
        alignas (cmsghdr) char control[CMSG_SPACE (sizeof (int))] {};
        msghdr message {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof (control);

        if (::recvmsg (controlFd, &message, MSG_CMSG_CLOEXEC) != (ssize_t) sizeof (reply))
            return -ENODEV;

        eventFd = -1;

        for (auto* header = CMSG_FIRSTHDR (&message); header != nullptr; header = CMSG_NXTHDR (&message, header))
            if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
                std::memcpy (&eventFd, CMSG_DATA (header), sizeof (int));

        return reply.result < 0 ? reply.result : (eventFd >= 0 ? 0 : -ENODEV);
    }

    /** Tells the router what was read out of the client's input pool. */
    void tellTaken (snd_seq_t* seq, int cells, bool lossHeard)
    {
        if (cells == 0 && ! lossHeard)
            return;

        Reply reply {};
        transact (seq, makeRequest (Op::taken, cells, lossHeard ? 1 : 0), reply);
    }

    /** Moves what the router has delivered into the input buffer: waits for the first event
        in blocking mode, then takes whatever else is there, up to the buffer's size.
    */
    int fillInput (snd_seq_t* seq, bool mayBlock)
    {
        std::vector<unsigned char> packet (sizeof (snd_seq_event_t) + maxExtLength);
        auto wait = mayBlock && ! seq->nonBlocking;
        int cells = 0;
        int result = 0;

        while ((int) seq->input.size() < inputBufferEvents && ! seq->inputLost)
        {
            const auto received = ::recv (seq->eventFd, packet.data(), packet.size(), wait ? 0 : MSG_DONTWAIT);

            if (received < 0)
            {
                if (errno == EINTR)
                    continue;

                if (errno != EAGAIN && errno != EWOULDBLOCK)
                    result = -errno;

                break;
            }

            if (received == 0)
            {
                reportFault ("the router closed client %d's event socket", seq->client);
                result = -ENODEV;
                break;
            }

            wait = false;

            if (received == (ssize_t) sizeof (lostMarker))
            {
                seq->inputLost = true;
                break;
            }

            cells += cellsFor ((std::uint32_t) ((size_t) received - sizeof (snd_seq_event_t)));
            seq->input.emplace_back (packet.begin(), packet.begin() + received);
        }

        tellTaken (seq, cells, false);
        return result < 0 ? result : (int) seq->input.size();
    }

    /** After a loss, drops what is still in the client's input pool, as the kernel clears
        the pool when it reports the loss.
    */
    void dropInputPool (snd_seq_t* seq)
    {
        std::vector<unsigned char> discard (sizeof (snd_seq_event_t) + maxExtLength);
        int cells = 0;

        for (;;)
        {
            const auto received = ::recv (seq->eventFd, discard.data(), discard.size(), MSG_DONTWAIT);

            if (received <= 0)
                break;

            if (received >= (ssize_t) sizeof (snd_seq_event_t))
                cells += cellsFor ((std::uint32_t) ((size_t) received - sizeof (snd_seq_event_t)));
        }

        tellTaken (seq, cells, true);
    }
}

//==============================================================================
int snd_seq_open (snd_seq_t** handle, const char* name, int streams, int mode)
{
    if (handle == nullptr || name == nullptr)
        return -EINVAL;

    *handle = nullptr;

    if (std::strcmp (name, "default") != 0 && std::strcmp (name, "hw") != 0)
        return -ENOENT;

    if ((streams & SND_SEQ_OPEN_DUPLEX) == 0)
        return -EINVAL;

    const auto fd = connectToRouter();

    if (fd < 0)
        return fd;

    auto seq = std::make_unique<snd_seq_t>();
    seq->controlFd = fd;
    seq->streams = streams;
    seq->nonBlocking = (mode & SND_SEQ_NONBLOCK) != 0;

    auto request = makeRequest (Op::hello);
    Reply reply {};

    if (::send (fd, &request, sizeof (request), MSG_NOSIGNAL) != (ssize_t) sizeof (request) || receiveHello (fd, reply, seq->eventFd) != 0)
    {
        const auto result = reply.result < 0 ? reply.result : -ENODEV;
        reportFault ("the router refused a new client: %s", std::strerror (-result));
        ::close (fd);
        return result;
    }

    seq->client = reply.client;
    *handle = seq.release();
    return 0;
}

int snd_seq_close (snd_seq_t* seq)
{
    if (seq == nullptr)
        return -EINVAL;

    // The client, its ports and its subscriptions are gone when this returns, as they are from
    // the kernel's sequencer once close() has returned. Closing the sockets alone would end the
    // client too, but only once the router notices.
    Reply reply {};
    transact (seq, makeRequest (Op::close, seq->client), reply);

    ::close (seq->eventFd);
    ::close (seq->controlFd);
    delete seq;
    return 0;
}

const char* snd_seq_name (snd_seq_t*)
{
    return "default";
}

snd_seq_type_t snd_seq_type (snd_seq_t*)
{
    return SND_SEQ_TYPE_HW;
}

int snd_seq_nonblock (snd_seq_t* seq, int nonblock)
{
    seq->nonBlocking = nonblock != 0;
    return 0;
}

int snd_seq_client_id (snd_seq_t* seq)
{
    return seq->client;
}

int snd_seq_set_client_name (snd_seq_t* seq, const char* name)
{
    if (name == nullptr)
        return -EINVAL;

    auto request = makeRequest (Op::setClientName);
    copyName (request.name, name);
    Reply reply {};
    return transact (seq, request, reply);
}

int snd_seq_poll_descriptors_count (snd_seq_t* seq, short events)
{
    const auto wanted = ((events & POLLIN) != 0 && (seq->streams & SND_SEQ_OPEN_INPUT) != 0)
                        || ((events & POLLOUT) != 0 && (seq->streams & SND_SEQ_OPEN_OUTPUT) != 0);
    return wanted ? 1 : 0;
}

int snd_seq_poll_descriptors (snd_seq_t* seq, struct pollfd* pfds, unsigned int space, short events)
{
    short wanted = 0;

    if ((events & POLLIN) != 0 && (seq->streams & SND_SEQ_OPEN_INPUT) != 0)
        wanted |= POLLIN;

    // Events go out directly, so output never has to wait: a full receiver refuses at once.
    if ((events & POLLOUT) != 0 && (seq->streams & SND_SEQ_OPEN_OUTPUT) != 0)
        wanted |= POLLOUT;

    if (space < 1 || wanted == 0)
        return 0;

    pfds[0].fd = seq->eventFd;
    pfds[0].events = wanted;
    pfds[0].revents = 0;
    return 1;
}

//==============================================================================
int snd_seq_create_simple_port (snd_seq_t* seq, const char* name, unsigned int caps, unsigned int type)
{
    auto request = makeRequest (Op::createPort);
    copyName (request.name, name);
    request.caps = caps;
    request.type = type;
    Reply reply {};
    const auto result = transact (seq, request, reply);
    return result < 0 ? result : reply.port;
}

int snd_seq_delete_simple_port (snd_seq_t* seq, int port)
{
    Reply reply {};
    return transact (seq, makeRequest (Op::deletePort, seq->client, port), reply);
}

int snd_seq_connect_from (snd_seq_t* seq, int myport, int src_client, int src_port)
{
    Reply reply {};
    return transact (seq, makeRequest (Op::subscribe, src_client, src_port, seq->client, myport), reply);
}

int snd_seq_connect_to (snd_seq_t* seq, int myport, int dest_client, int dest_port)
{
    Reply reply {};
    return transact (seq, makeRequest (Op::subscribe, seq->client, myport, dest_client, dest_port), reply);
}

int snd_seq_disconnect_from (snd_seq_t* seq, int myport, int src_client, int src_port)
{
    Reply reply {};
    return transact (seq, makeRequest (Op::unsubscribe, src_client, src_port, seq->client, myport), reply);
}

int snd_seq_disconnect_to (snd_seq_t* seq, int myport, int dest_client, int dest_port)
{
    Reply reply {};
    return transact (seq, makeRequest (Op::unsubscribe, seq->client, myport, dest_client, dest_port), reply);
}

//==============================================================================
size_t snd_seq_system_info_sizeof() { return sizeof (snd_seq_system_info_t); }

int snd_seq_system_info_get_queues (const snd_seq_system_info_t* info) { return info->queues; }
int snd_seq_system_info_get_clients (const snd_seq_system_info_t* info) { return info->clients; }
int snd_seq_system_info_get_ports (const snd_seq_system_info_t* info) { return info->ports; }
int snd_seq_system_info_get_channels (const snd_seq_system_info_t* info) { return info->channels; }
int snd_seq_system_info_get_cur_clients (const snd_seq_system_info_t* info) { return info->curClients; }
int snd_seq_system_info_get_cur_queues (const snd_seq_system_info_t* info) { return info->curQueues; }

int snd_seq_system_info (snd_seq_t* seq, snd_seq_system_info_t* info)
{
    Reply reply {};
    const auto result = transact (seq, makeRequest (Op::systemInfo), reply);

    if (result < 0)
        return result;

    // The limits of the kernel's sequencer; no queues are open, as the tests use none.
    info->queues = 32;
    info->clients = 192;
    info->ports = 254;
    info->channels = 256;
    info->curClients = reply.client;
    info->curQueues = 0;
    return 0;
}

size_t snd_seq_client_info_sizeof() { return sizeof (snd_seq_client_info_t); }

int snd_seq_client_info_get_client (const snd_seq_client_info_t* info) { return info->client; }
snd_seq_client_type_t snd_seq_client_info_get_type (const snd_seq_client_info_t* info) { return info->type; }
const char* snd_seq_client_info_get_name (snd_seq_client_info_t* info) { return info->name; }
int snd_seq_client_info_get_num_ports (const snd_seq_client_info_t* info) { return info->numPorts; }
int snd_seq_client_info_get_pid (const snd_seq_client_info_t* info) { return info->pid; }
void snd_seq_client_info_set_client (snd_seq_client_info_t* info, int client) { info->client = client; }

int snd_seq_query_next_client (snd_seq_t* seq, snd_seq_client_info_t* info)
{
    Reply reply {};
    const auto result = transact (seq, makeRequest (Op::queryNextClient, info->client), reply);

    if (result < 0)
        return result;

    info->client = reply.client;
    info->type = (snd_seq_client_type_t) reply.type;
    info->numPorts = reply.numPorts;
    info->pid = reply.pid;
    copyName (info->name, reply.name);
    return 0;
}

int snd_seq_get_any_client_info (snd_seq_t* seq, int client, snd_seq_client_info_t* info)
{
    // The client after the one before it, if that is the one asked for.
    snd_seq_client_info_t found {};
    found.client = client - 1;

    if (client < 0 || snd_seq_query_next_client (seq, &found) < 0 || found.client != client)
        return -ENOENT;

    *info = found;
    return 0;
}

size_t snd_seq_port_info_sizeof() { return sizeof (snd_seq_port_info_t); }

int snd_seq_port_info_get_client (const snd_seq_port_info_t* info) { return info->addr.client; }
int snd_seq_port_info_get_port (const snd_seq_port_info_t* info) { return info->addr.port; }
const snd_seq_addr_t* snd_seq_port_info_get_addr (const snd_seq_port_info_t* info) { return &info->addr; }
const char* snd_seq_port_info_get_name (const snd_seq_port_info_t* info) { return info->name; }
unsigned int snd_seq_port_info_get_capability (const snd_seq_port_info_t* info) { return info->capability; }
unsigned int snd_seq_port_info_get_type (const snd_seq_port_info_t* info) { return info->type; }
void snd_seq_port_info_set_client (snd_seq_port_info_t* info, int client) { info->addr.client = (unsigned char) client; }
void snd_seq_port_info_set_port (snd_seq_port_info_t* info, int port) { info->addr.port = (unsigned char) port; }

int snd_seq_query_next_port (snd_seq_t* seq, snd_seq_port_info_t* info)
{
    // The port number -1 that callers start from is stored as 255 in the address byte, as in
    // the real structure: the next port after it is port 0.
    const auto after = info->addr.port == 255 ? -1 : (int) info->addr.port;
    Reply reply {};
    const auto result = transact (seq, makeRequest (Op::queryNextPort, info->addr.client, after), reply);

    if (result < 0)
        return result;

    info->addr.client = (unsigned char) reply.client;
    info->addr.port = (unsigned char) reply.port;
    info->capability = reply.caps;
    info->type = (unsigned int) reply.type;
    copyName (info->name, reply.name);
    return 0;
}

//==============================================================================
// Subscriptions, as the kernel lists them: a port's read subscriptions are the ports it sends
// to, its write subscriptions the ports that send to it.
size_t snd_seq_port_subscribe_sizeof() { return sizeof (snd_seq_port_subscribe_t); }

int snd_seq_port_subscribe_malloc (snd_seq_port_subscribe_t** ptr)
{
    *ptr = new snd_seq_port_subscribe_t {};
    return 0;
}

void snd_seq_port_subscribe_free (snd_seq_port_subscribe_t* ptr) { delete ptr; }
const snd_seq_addr_t* snd_seq_port_subscribe_get_sender (const snd_seq_port_subscribe_t* info) { return &info->sender; }
const snd_seq_addr_t* snd_seq_port_subscribe_get_dest (const snd_seq_port_subscribe_t* info) { return &info->dest; }
void snd_seq_port_subscribe_set_sender (snd_seq_port_subscribe_t* info, const snd_seq_addr_t* addr) { info->sender = *addr; }
void snd_seq_port_subscribe_set_dest (snd_seq_port_subscribe_t* info, const snd_seq_addr_t* addr) { info->dest = *addr; }

int snd_seq_get_port_subscription (snd_seq_t* seq, snd_seq_port_subscribe_t* sub)
{
    Reply reply {};
    return transact (seq, makeRequest (Op::getSubscription, sub->sender.client, sub->sender.port, sub->dest.client, sub->dest.port), reply);
}

size_t snd_seq_query_subscribe_sizeof() { return sizeof (snd_seq_query_subscribe_t); }

int snd_seq_query_subscribe_malloc (snd_seq_query_subscribe_t** ptr)
{
    *ptr = new snd_seq_query_subscribe_t {};
    return 0;
}

void snd_seq_query_subscribe_free (snd_seq_query_subscribe_t* ptr) { delete ptr; }
int snd_seq_query_subscribe_get_client (const snd_seq_query_subscribe_t* info) { return info->root.client; }
int snd_seq_query_subscribe_get_port (const snd_seq_query_subscribe_t* info) { return info->root.port; }
const snd_seq_addr_t* snd_seq_query_subscribe_get_root (const snd_seq_query_subscribe_t* info) { return &info->root; }
snd_seq_query_subs_type_t snd_seq_query_subscribe_get_type (const snd_seq_query_subscribe_t* info) { return info->type; }
int snd_seq_query_subscribe_get_index (const snd_seq_query_subscribe_t* info) { return info->index; }
int snd_seq_query_subscribe_get_num_subs (const snd_seq_query_subscribe_t* info) { return info->numSubs; }
const snd_seq_addr_t* snd_seq_query_subscribe_get_addr (const snd_seq_query_subscribe_t* info) { return &info->addr; }
void snd_seq_query_subscribe_set_client (snd_seq_query_subscribe_t* info, int client) { info->root.client = (unsigned char) client; }
void snd_seq_query_subscribe_set_port (snd_seq_query_subscribe_t* info, int port) { info->root.port = (unsigned char) port; }
void snd_seq_query_subscribe_set_root (snd_seq_query_subscribe_t* info, const snd_seq_addr_t* addr) { info->root = *addr; }
void snd_seq_query_subscribe_set_type (snd_seq_query_subscribe_t* info, snd_seq_query_subs_type_t type) { info->type = type; }
void snd_seq_query_subscribe_set_index (snd_seq_query_subscribe_t* info, int index) { info->index = index; }

int snd_seq_query_port_subscribers (snd_seq_t* seq, snd_seq_query_subscribe_t* subs)
{
    Reply reply {};
    const auto result = transact (seq, makeRequest (Op::querySubscribers, subs->root.client, subs->root.port, (int) subs->type, subs->index), reply);

    if (result < 0)
        return result;

    subs->addr = { (unsigned char) reply.client, (unsigned char) reply.port };
    subs->numSubs = reply.numPorts;
    return 0;
}

//==============================================================================
ssize_t snd_seq_event_length (snd_seq_event_t* ev)
{
    switch (ev->flags & SND_SEQ_EVENT_LENGTH_MASK)
    {
        case SND_SEQ_EVENT_LENGTH_FIXED:
            return sizeof (snd_seq_event_t);
        case SND_SEQ_EVENT_LENGTH_VARIABLE:
            return (ssize_t) (sizeof (snd_seq_event_t) + ev->data.ext.len);
        default:
            return notImplemented ("snd_seq_event_length of an event with user-space (VARUSR) data");
    }
}

int snd_seq_event_output_direct (snd_seq_t* seq, snd_seq_event_t* ev)
{
    if ((seq->streams & SND_SEQ_OPEN_OUTPUT) == 0)
        return -EINVAL;

    const auto length = snd_seq_event_length (ev);

    if (length < 0)
        return (int) length;

    if ((size_t) length == sizeof (snd_seq_event_t))
    {
        Reply reply {};
        return transact (seq, makeRequest (Op::output), reply, ev, sizeof (snd_seq_event_t));
    }

    if (ev->data.ext.len > (unsigned int) maxExtLength)
        return -ENOMEM; // more than the client's output pool can hold

    if (seq->variableWriters.fetch_add (1) != 0)
        reportFault ("two threads write variable-length events through client %d's handle at once: the real library shares one buffer for them", seq->client);

    // Laid out as the real library writes it: the event, then its data.
    std::vector<unsigned char> event ((size_t) length);
    std::memcpy (event.data(), ev, sizeof (snd_seq_event_t));
    std::memcpy (event.data() + sizeof (snd_seq_event_t), ev->data.ext.ptr, ev->data.ext.len);

    Reply reply {};
    const auto result = transact (seq, makeRequest (Op::output), reply, event.data(), event.size());
    seq->variableWriters.fetch_sub (1);
    return result;
}

int snd_seq_event_input (snd_seq_t* seq, snd_seq_event_t** ev)
{
    *ev = nullptr;

    if ((seq->streams & SND_SEQ_OPEN_INPUT) == 0)
        return -EINVAL;

    if (seq->readers.fetch_add (1) != 0)
        reportFault ("two threads read events from client %d's handle at once: the real library shares one input buffer", seq->client);

    struct Leave
    {
        std::atomic<int>& readers;
        ~Leave() { readers.fetch_sub (1); }
    } leave { seq->readers };

    if (seq->input.empty())
    {
        if (! seq->inputLost)
        {
            const auto filled = fillInput (seq, true);

            if (filled < 0)
                return filled;
        }

        if (seq->input.empty())
        {
            if (seq->inputLost)
            {
                // The queue overflowed: what is still queued is dropped, as the kernel clears
                // the client's queue, and the reader learns that events were lost.
                seq->inputLost = false;
                dropInputPool (seq);
                return -ENOSPC;
            }

            return -EAGAIN;
        }
    }

    seq->current = std::move (seq->input.front());
    seq->input.pop_front();

    auto* event = reinterpret_cast<snd_seq_event_t*> (seq->current.data());

    if ((event->flags & SND_SEQ_EVENT_LENGTH_MASK) == SND_SEQ_EVENT_LENGTH_VARIABLE)
        event->data.ext.ptr = seq->current.data() + sizeof (snd_seq_event_t);

    *ev = event;
    return 1;
}

int snd_seq_event_input_pending (snd_seq_t* seq, int fetch_sequencer)
{
    if (seq->input.empty() && fetch_sequencer != 0 && (seq->streams & SND_SEQ_OPEN_INPUT) != 0)
    {
        const auto filled = fillInput (seq, false);

        if (filled < 0)
            return filled;
    }

    return (int) seq->input.size();
}

int snd_seq_free_event (snd_seq_event_t*)
{
    // Events live in the handle's input buffer, as in the real library.
    return 0;
}

//==============================================================================
const char* snd_strerror (int errnum)
{
    return std::strerror (errnum < 0 ? -errnum : errnum);
}

int snd_lib_error_set_handler (snd_lib_error_handler_t)
{
    // This library reports its faults itself (SequencerFaults.h) and never calls the handler.
    return 0;
}

int snd_config_update_free_global()
{
    // There is no configuration tree to free: the library reads no configuration files.
    return 0;
}
