// The test sequencer's router: the part of the kernel's ALSA sequencer that the tests need,
// as a process of its own. It numbers clients and ports as the kernel does, checks
// subscriptions against the ports' capabilities, delivers events directly to subscribers or to
// one port, and removes a client with its ports and subscriptions when its connection closes,
// so that a process that exits takes its ports with it. Like the kernel, it announces clients
// and ports that start and exit, and every connection made or undone, to the subscribers of
// the System client's Announce port. Each client's input pool holds what the kernel's does by
// default, and a receiver whose pool cannot take an event refuses it: the direct sender gets
// the error, and the receiver learns of the loss. Client 0 (System) and client 14 (Midi
// Through, which sends back whatever it receives) are there from the start, as on a real
// machine. Clients reach it through the test sequencer's libasound (AlsaSequencer.cpp).
//
// It runs one command with the sequencer in place and ends with it:
//     QuillmereSequencerRouter [--run] <program> [arguments...]
// or serves until it is interrupted, for use by hand:
//     QuillmereSequencerRouter --serve <folder>

#include "SequencerProtocol.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace test_sequencer;

namespace
{
    constexpr int systemClient = 0, announcePort = 1, throughClient = 14, firstUserClient = 128, maxClients = 192, maxPorts = 254;

    /** The socket under a client's input pool holds more than the pool (200 cells), so that
        the pool's count alone decides what is refused. Linux caps it at net.core.wmem_max.
    */
    constexpr int eventSocketBytes = 4 * 1024 * 1024;

    struct Port
    {
        std::string name;
        unsigned int caps = 0, type = 0;
    };

    struct Client
    {
        std::string name;
        snd_seq_client_type_t type = SND_SEQ_USER_CLIENT;
        std::map<int, Port> ports;
        int controlFd = -1, eventFd = -1; // the router's ends; -1 for the kernel's own clients
        int pid = -1;                     // the process that opened it, as the kernel records it
        int poolCells = 0;                // cells of its input pool taken by events it has not read
        bool lossUntold = false;          // events were lost, and the mark that says so is not sent yet
        bool lossTold = false;            // the mark is sent, and the client has not read past it
    };

    struct Address
    {
        int client, port;
        bool operator<(const Address& other) const { return std::tie (client, port) < std::tie (other.client, other.port); }
        bool operator== (const Address& other) const { return client == other.client && port == other.port; }
    };

    class Router
    {
    public:
        explicit Router (int listener)
            : listenFd (listener)
        {
            auto& system = clients[systemClient];
            system.name = "System";
            system.type = SND_SEQ_KERNEL_CLIENT;
            system.ports[0] = { "Timer", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_SUBS_WRITE, 0 };
            system.ports[announcePort] = { "Announce", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, 0 };

            auto& through = clients[throughClient];
            through.name = "Midi Through";
            through.type = SND_SEQ_KERNEL_CLIENT;
            through.ports[0] = { "Midi Through Port-0",
                                 SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_SOFTWARE | SND_SEQ_PORT_TYPE_PORT };
        }

        /** Serves until the function says to stop; it is asked at least every 200 ms. */
        template<typename ShouldStop>
        void serve (ShouldStop shouldStop)
        {
            while (! shouldStop())
            {
                std::vector<pollfd> fds { { listenFd, POLLIN, 0 } };
                std::vector<int> owners { -1 };

                for (const auto& [number, client] : clients)
                {
                    if (client.controlFd >= 0)
                    {
                        fds.push_back ({ client.controlFd, POLLIN, 0 });
                        owners.push_back (number);
                    }

                    // A client that lost events hears of it as soon as its socket has room.
                    if (client.lossUntold)
                    {
                        fds.push_back ({ client.eventFd, POLLOUT, 0 });
                        owners.push_back (number);
                    }
                }

                if (::poll (fds.data(), fds.size(), 200) <= 0)
                    continue;

                if ((fds[0].revents & POLLIN) != 0)
                    accept();

                for (size_t i = 1; i < fds.size(); ++i)
                {
                    if (fds[i].revents == 0 || clients.count (owners[i]) == 0)
                        continue;

                    if (fds[i].events == POLLOUT)
                        tellOfLoss (clients[owners[i]]);
                    else
                        serveClient (owners[i]);
                }
            }
        }

    private:
        void accept()
        {
            const auto fd = ::accept4 (listenFd, nullptr, nullptr, SOCK_CLOEXEC);

            if (fd < 0)
                return;

            Request request {};

            // A new connection says hello at once; one that does not is dropped.
            pollfd waiting { fd, POLLIN, 0 };

            if (::poll (&waiting, 1, 5000) <= 0 || ::recv (fd, &request, sizeof (request), 0) != (ssize_t) sizeof (request) || request.op != Op::hello)
            {
                ::close (fd);
                return;
            }

            Reply reply {};
            int number = firstUserClient;

            while (number < maxClients && clients.count (number) != 0)
                ++number;

            int pair[2] = { -1, -1 };

            if (number >= maxClients)
                reply.result = -ENOMEM;
            else if (::socketpair (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
                reply.result = -errno;

            if (reply.result < 0)
            {
                ::send (fd, &reply, sizeof (reply), MSG_NOSIGNAL);
                ::close (fd);
                return;
            }

            ::fcntl (pair[0], F_SETFL, ::fcntl (pair[0], F_GETFL) | O_NONBLOCK);
            ::setsockopt (pair[0], SOL_SOCKET, SO_SNDBUF, &eventSocketBytes, sizeof (eventSocketBytes));

            auto& client = clients[number];
            client.name = "Client-" + std::to_string (number);
            client.controlFd = fd;
            client.eventFd = pair[0];

            ucred peer {};
            socklen_t peerSize = sizeof (peer);

            if (::getsockopt (fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0)
                client.pid = peer.pid;

            reply.client = number;
            iovec part { &reply, sizeof (reply) };
            alignas (cmsghdr) char control[CMSG_SPACE (sizeof (int))] {};
            msghdr message {};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof (control);
            auto* header = CMSG_FIRSTHDR (&message);
            header->cmsg_level = SOL_SOCKET;
            header->cmsg_type = SCM_RIGHTS;
            header->cmsg_len = CMSG_LEN (sizeof (int));
            std::memcpy (CMSG_DATA (header), &pair[1], sizeof (int));

            if (::sendmsg (fd, &message, MSG_NOSIGNAL) != (ssize_t) sizeof (reply))
                removeClient (number);
            else
                announce (SND_SEQ_EVENT_CLIENT_START, { number, 0 });

            ::close (pair[1]);
        }

        void serveClient (int number)
        {
            auto& client = clients[number];
            std::vector<unsigned char> packet (sizeof (Request) + sizeof (snd_seq_event_t) + maxExtLength + 1);
            const auto received = ::recv (client.controlFd, packet.data(), packet.size(), MSG_DONTWAIT);

            if (received < 0 && (errno == EAGAIN || errno == EINTR))
                return;

            if (received < (ssize_t) sizeof (Request))
            {
                // The client closed its handle or exited: it goes with its ports.
                removeClient (number);
                return;
            }

            Request request;
            std::memcpy (&request, packet.data(), sizeof (request));
            Reply reply {};

            if (request.op == Op::close)
            {
                // Gone before the client hears the reply.
                const auto controlFd = ::dup (client.controlFd);
                removeClient (number);
                ::send (controlFd, &reply, sizeof (reply), MSG_NOSIGNAL);
                ::close (controlFd);
                return;
            }

            reply.result = handle (number, request, packet.data() + sizeof (Request), (size_t) received - sizeof (Request), reply);

            if (::send (client.controlFd, &reply, sizeof (reply), MSG_NOSIGNAL) != (ssize_t) sizeof (reply))
                removeClient (number);
        }

        int handle (int number, const Request& request, const unsigned char* payload, size_t payloadSize, Reply& reply)
        {
            auto& client = clients[number];
            const std::string name (request.name, strnlen (request.name, nameSize));

            switch (request.op)
            {
                case Op::setClientName:
                    client.name = name;
                    return 0;

                case Op::createPort:
                {
                    // The lowest free number, as the kernel gives it.
                    int port = 0;

                    while (client.ports.count (port) != 0)
                        ++port;

                    if (port >= maxPorts)
                        return -ENOMEM;

                    client.ports[port] = { name, request.caps, request.type };
                    reply.port = port;
                    announce (SND_SEQ_EVENT_PORT_START, { number, port });
                    return 0;
                }

                case Op::deletePort:
                    if (request.a != number || client.ports.erase (request.b) == 0)
                        return -EINVAL;

                    dropSubscriptionsOf ({ number, request.b });
                    announce (SND_SEQ_EVENT_PORT_EXIT, { number, request.b });
                    return 0;

                case Op::subscribe:
                {
                    const auto result = subscribe (number, { request.a, request.b }, { request.c, request.d });

                    if (result == 0)
                        announceConnection (SND_SEQ_EVENT_PORT_SUBSCRIBED, { request.a, request.b }, { request.c, request.d });

                    return result;
                }

                case Op::unsubscribe:
                    if (subscriptions.erase ({ { request.a, request.b }, { request.c, request.d } }) == 0)
                        return -ENOENT;

                    announceConnection (SND_SEQ_EVENT_PORT_UNSUBSCRIBED, { request.a, request.b }, { request.c, request.d });
                    return 0;

                case Op::getSubscription:
                    if (findPort ({ request.a, request.b }) == nullptr || findPort ({ request.c, request.d }) == nullptr)
                        return -ENXIO;

                    return subscriptions.count ({ { request.a, request.b }, { request.c, request.d } }) != 0 ? 0 : -ENOENT;

                case Op::querySubscribers:
                {
                    // Read subscriptions: where the root port sends; write: who sends to it.
                    const Address root { request.a, request.b };

                    if (findPort (root) == nullptr)
                        return -ENXIO;

                    std::vector<Address> found;

                    for (const auto& [from, to] : subscriptions)
                        if (request.c == SND_SEQ_QUERY_SUBS_READ ? from == root : to == root)
                            found.push_back (request.c == SND_SEQ_QUERY_SUBS_READ ? to : from);

                    if (request.d < 0 || request.d >= (int) found.size())
                        return -ENOENT;

                    reply.client = found[(size_t) request.d].client;
                    reply.port = found[(size_t) request.d].port;
                    reply.numPorts = (int) found.size();
                    return 0;
                }

                case Op::systemInfo:
                    reply.client = (int) clients.size();
                    return 0;

                case Op::queryNextClient:
                {
                    const auto next = clients.upper_bound (request.a);

                    if (next == clients.end())
                        return -ENOENT;

                    reply.client = next->first;
                    reply.type = next->second.type;
                    reply.numPorts = (int) next->second.ports.size();
                    reply.pid = next->second.pid;
                    std::strncpy (reply.name, next->second.name.c_str(), nameSize - 1);
                    return 0;
                }

                case Op::queryNextPort:
                {
                    const auto owner = clients.find (request.a);

                    if (owner == clients.end())
                        return -ENOENT;

                    const auto next = owner->second.ports.upper_bound (request.b);

                    if (next == owner->second.ports.end())
                        return -ENOENT;

                    reply.client = request.a;
                    reply.port = next->first;
                    reply.caps = next->second.caps;
                    reply.type = (int) next->second.type;
                    std::strncpy (reply.name, next->second.name.c_str(), nameSize - 1);
                    return 0;
                }

                case Op::output:
                    return output (number, payload, payloadSize, reply);

                case Op::taken:
                    // Reading frees the pool's cells; hearing of a loss ends it.
                    client.poolCells = std::max (0, client.poolCells - request.a);

                    if (request.b != 0)
                        client.lossTold = false;

                    return 0;

                case Op::hello:
                case Op::close: // served before it gets here
                    break;
            }

            return -EINVAL;
        }

        Port* findPort (Address address)
        {
            const auto client = clients.find (address.client);

            if (client == clients.end())
                return nullptr;

            const auto port = client->second.ports.find (address.port);
            return port != client->second.ports.end() ? &port->second : nullptr;
        }

        /** As the kernel checks a subscription: both ports exist, a client other than the
            requester needs its port to allow reading (sender) or writing (receiver), and a
            connection exists only once.
        */
        int subscribe (int requester, Address sender, Address dest)
        {
            auto* senderPort = findPort (sender);
            auto* destPort = findPort (dest);

            if (senderPort == nullptr || destPort == nullptr)
                return -EINVAL;

            const auto allows = [] (const Port& port, unsigned int wanted)
            { return (port.caps & wanted) == wanted; };

            if (requester != sender.client && ! allows (*senderPort, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ))
                return -EPERM;

            if (requester != dest.client && ! allows (*destPort, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE))
                return -EPERM;

            return subscriptions.insert ({ sender, dest }).second ? 0 : -EBUSY;
        }

        int output (int number, const unsigned char* payload, size_t payloadSize, Reply& reply)
        {
            if (payloadSize < sizeof (snd_seq_event_t))
                return -EINVAL;

            snd_seq_event_t event;
            std::memcpy (&event, payload, sizeof (event));
            const auto variable = (event.flags & SND_SEQ_EVENT_LENGTH_MASK) == SND_SEQ_EVENT_LENGTH_VARIABLE;
            const auto extLength = variable ? (size_t) event.data.ext.len : 0;

            if (payloadSize != sizeof (event) + extLength)
                return -EINVAL;

            if (event.type == SND_SEQ_EVENT_NONE)
                return (int) payloadSize; // the kernel skips events of no type

            if (event.queue != SND_SEQ_QUEUE_DIRECT)
                return unsupported (reply, "scheduling events on a queue (snd_seq_event_output_direct with a queue)");

            // The sender's address is the sending client's, whatever the event says.
            event.source.client = (unsigned char) number;

            if (findPort ({ number, event.source.port }) == nullptr)
                return -EINVAL;

            if (event.dest.client == SND_SEQ_ADDRESS_BROADCAST)
                return unsupported (reply, "broadcast events");

            const auto* ext = payload + sizeof (event);

            if (event.dest.client == SND_SEQ_ADDRESS_SUBSCRIBERS)
            {
                const auto result = deliverToSubscribers (event, ext, extLength);
                return result < 0 ? result : (int) payloadSize;
            }

            const Address dest { event.dest.client, event.dest.port };
            const auto* destPort = findPort (dest);

            if (destPort == nullptr)
                return -ENOENT;

            if ((destPort->caps & SND_SEQ_PORT_CAP_WRITE) == 0)
                return -EPERM;

            if (dest.client == systemClient)
                return unsupported (reply, "events to the System client (timer and announcements)");

            const auto result = deliver (dest, event, ext, extLength);
            return result < 0 ? result : (int) payloadSize;
        }

        int unsupported (Reply& reply, const char* what)
        {
            std::strncpy (reply.name, what, nameSize - 1);
            return -ENOSYS;
        }

        /** Delivers to every subscriber of the event's source, and, as the kernel does, answers
            the first error a receiver gave after trying them all.
        */
        int deliverToSubscribers (const snd_seq_event_t& event, const unsigned char* ext, size_t extLength)
        {
            const Address sender { event.source.client, event.source.port };
            std::vector<Address> receivers;

            for (const auto& [from, to] : subscriptions)
                if (from == sender)
                    receivers.push_back (to);

            int firstError = 0;

            for (const auto& to : receivers)
                if (const auto result = deliver (to, event, ext, extLength); result < 0 && firstError == 0)
                    firstError = result;

            return firstError;
        }

        /** Puts the event into the receiver's input pool: -EAGAIN when the pool has too few free
            cells, -ENOMEM when the event could never fit in it. A refused event counts as lost
            for the receiver, whose next read says so.
        */
        int deliver (Address to, snd_seq_event_t event, const unsigned char* ext, size_t extLength)
        {
            event.dest.client = (unsigned char) to.client;
            event.dest.port = (unsigned char) to.port;

            if (to.client == throughClient)
            {
                // Midi Through sends everything it receives on to its own subscribers.
                event.source = { (unsigned char) throughClient, (unsigned char) to.port };
                return deliverToSubscribers (event, ext, extLength);
            }

            const auto found = clients.find (to.client);

            if (found == clients.end() || found->second.eventFd < 0)
                return 0;

            auto& client = found->second;
            const auto cells = cellsFor ((std::uint32_t) extLength);

            if (cells - 1 >= inputPoolCells)
                return refuse (client, -ENOMEM);

            if (client.poolCells + cells > inputPoolCells)
                return refuse (client, -EAGAIN);

            std::vector<unsigned char> packet (sizeof (event) + extLength);

            if (extLength > 0)
                event.data.ext.ptr = nullptr; // the sender's address means nothing here
            std::memcpy (packet.data(), &event, sizeof (event));

            if (extLength > 0)
                std::memcpy (packet.data() + sizeof (event), ext, extLength);

            if (::send (client.eventFd, packet.data(), packet.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK ? refuse (client, -EAGAIN) : 0; // 0: the client is going

            client.poolCells += cells;
            return 0;
        }

        int refuse (Client& client, int error)
        {
            // One mark for a run of losses: the kernel reports a loss once, and clears the pool.
            if (! client.lossTold)
                client.lossUntold = true;

            if (client.lossUntold)
                tellOfLoss (client);

            return error;
        }

        /** Queues the mark that events were lost; false while the client's socket is full. */
        bool tellOfLoss (Client& client)
        {
            if (::send (client.eventFd, &lostMarker, sizeof (lostMarker), MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
                return false;

            client.lossUntold = false;
            client.lossTold = true;
            return true;
        }

        void dropSubscriptionsOf (Address port)
        {
            for (auto it = subscriptions.begin(); it != subscriptions.end();)
                it = (it->first == port || it->second == port) ? subscriptions.erase (it) : std::next (it);
        }

        void removeClient (int number)
        {
            auto& client = clients[number];
            std::vector<int> ports;

            for (const auto& entry : client.ports)
            {
                dropSubscriptionsOf ({ number, entry.first });
                ports.push_back (entry.first);
            }

            ::close (client.controlFd);
            ::close (client.eventFd);
            clients.erase (number);

            // As the kernel does: each port's exit, then the client's.
            for (const auto port : ports)
                announce (SND_SEQ_EVENT_PORT_EXIT, { number, port });

            announce (SND_SEQ_EVENT_CLIENT_EXIT, { number, 0 });
        }

        /** Tells the subscribers of the System client's Announce port that a client or port
            started or exited.
        */
        void announce (snd_seq_event_type_t type, Address about)
        {
            auto event = makeAnnouncement (type);
            event.data.addr = { (unsigned char) about.client, (unsigned char) about.port };
            deliverToSubscribers (event, nullptr, 0);
        }

        /** Tells the same subscribers of a connection made or undone, as the kernel does for
            every subscription a client asks for (a port's exit drops its connections silently).
        */
        void announceConnection (snd_seq_event_type_t type, Address sender, Address dest)
        {
            auto event = makeAnnouncement (type);
            event.data.connect.sender = { (unsigned char) sender.client, (unsigned char) sender.port };
            event.data.connect.dest = { (unsigned char) dest.client, (unsigned char) dest.port };
            deliverToSubscribers (event, nullptr, 0);
        }

        static snd_seq_event_t makeAnnouncement (snd_seq_event_type_t type)
        {
            snd_seq_event_t event {};
            event.type = type;
            event.flags = SND_SEQ_EVENT_LENGTH_FIXED;
            event.queue = SND_SEQ_QUEUE_DIRECT;
            event.source = { (unsigned char) systemClient, (unsigned char) announcePort };
            event.dest = { (unsigned char) SND_SEQ_ADDRESS_SUBSCRIBERS, 0 };
            return event;
        }

        int listenFd;
        std::map<int, Client> clients;
        std::set<std::pair<Address, Address>> subscriptions;
    };

    int listenIn (const std::string& folder)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const auto path = folder + "/" + socketName;

        if (path.size() >= sizeof (address.sun_path))
        {
            std::fprintf (stderr, "QuillmereSequencerRouter: the socket path is too long: %s\n", path.c_str());
            return -1;
        }

        std::strcpy (address.sun_path, path.c_str());
        ::unlink (path.c_str());
        const auto fd = ::socket (AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);

        if (fd < 0 || ::bind (fd, reinterpret_cast<const sockaddr*> (&address), sizeof (address)) != 0 || ::listen (fd, 64) != 0)
        {
            std::fprintf (stderr, "QuillmereSequencerRouter: cannot listen at %s: %s\n", path.c_str(), std::strerror (errno));
            return -1;
        }

        return fd;
    }

    volatile std::sig_atomic_t stopRequested = 0;

    void requestStop (int) { stopRequested = 1; }

    int usage()
    {
        std::fprintf (stderr, "usage: QuillmereSequencerRouter [--run] <program> [arguments...]\n"
                              "       QuillmereSequencerRouter --serve <folder>\n");
        return 2;
    }

    /** Removes the run's folder with the files its clients left in it. */
    void removeFolder (const std::string& folder)
    {
        if (auto* entries = ::opendir (folder.c_str()))
        {
            while (const auto* entry = ::readdir (entries))
                if (std::strcmp (entry->d_name, ".") != 0 && std::strcmp (entry->d_name, "..") != 0)
                    ::unlink ((folder + "/" + entry->d_name).c_str());

            ::closedir (entries);
        }

        ::rmdir (folder.c_str());
    }
}

int main (int argc, char** argv)
{
    // With no option the arguments are the command to run, so that CMake can use the router
    // as the launcher of a test program.
    int commandStart = 2;

    if (argc >= 2 && argv[1][0] != '-')
        commandStart = 1;
    else if (argc < 3)
        return usage();

    const std::string mode (commandStart == 1 ? "--run" : argv[1]);
    std::signal (SIGPIPE, SIG_IGN);
    std::signal (SIGINT, requestStop);
    std::signal (SIGTERM, requestStop);

    if (mode == "--serve")
    {
        const std::string folder (argv[2]);
        ::mkdir (folder.c_str(), 0700);
        const auto fd = listenIn (folder);

        if (fd < 0)
            return 1;

        std::printf ("The test sequencer serves in %s: set %s=%s and LD_LIBRARY_PATH=%s for its clients.\n",
                     folder.c_str(), folderVariable, folder.c_str(), QUILLMERE_SEQUENCER_LIBRARY_DIR);
        std::fflush (stdout);
        Router (fd).serve ([]
                           { return stopRequested != 0; });
        ::close (fd);
        ::unlink ((folder + "/" + socketName).c_str());
        return 0;
    }

    if (mode != "--run")
        return usage();

    // A folder of its own, so that concurrent runs never meet.
    const auto* tmp = std::getenv ("TMPDIR");
    std::string pattern = std::string (tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/quillmere-sequencer-XXXXXX";

    if (::mkdtemp (pattern.data()) == nullptr)
    {
        std::fprintf (stderr, "QuillmereSequencerRouter: cannot make a folder: %s\n", std::strerror (errno));
        return 1;
    }

    const auto folder = pattern;
    const auto fd = listenIn (folder);

    if (fd < 0)
    {
        removeFolder (folder);
        return 1;
    }

    std::string libraryPath = QUILLMERE_SEQUENCER_LIBRARY_DIR;

    if (const auto* existing = std::getenv ("LD_LIBRARY_PATH"); existing != nullptr && *existing != 0)
        libraryPath += std::string (":") + existing;

    const auto parent = ::getpid();
    const auto child = ::fork();

    if (child == 0)
    {
        // The command ends with the router, even if the router is killed.
        ::prctl (PR_SET_PDEATHSIG, SIGKILL);

        if (::getppid() != parent)
            ::_exit (1);

        ::close (fd);
        ::setenv (folderVariable, folder.c_str(), 1);
        ::setenv (routerProcessVariable, std::to_string (parent).c_str(), 1);
        ::setenv ("LD_LIBRARY_PATH", libraryPath.c_str(), 1);
        std::signal (SIGPIPE, SIG_DFL);
        std::signal (SIGINT, SIG_DFL);
        std::signal (SIGTERM, SIG_DFL);
        ::execvp (argv[commandStart], argv + commandStart);
        std::fprintf (stderr, "QuillmereSequencerRouter: cannot run %s: %s\n", argv[commandStart], std::strerror (errno));
        ::_exit (127);
    }

    if (child < 0)
    {
        removeFolder (folder);
        return 1;
    }

    int status = 0;
    bool ended = false;

    Router (fd).serve ([&]
                       {
        if (stopRequested != 0)
            ::kill (child, SIGTERM);

        ended = ::waitpid (child, &status, WNOHANG) == child;
        return ended; });

    ::close (fd);

    // A fault the library logged fails the run, even when the command passed: a caller used
    // something the test sequencer does not implement, or used the library wrongly.
    std::string faults;

    if (auto* log = std::fopen ((folder + "/" + faultLogName).c_str(), "r"))
    {
        char line[512];

        while (std::fgets (line, sizeof (line), log) != nullptr)
            faults += line;

        std::fclose (log);
    }

    removeFolder (folder);

    if (! faults.empty())
        std::fprintf (stderr, "QuillmereSequencerRouter: the test sequencer logged faults during the run:\n%s", faults.c_str());

    if (WIFSIGNALED (status))
        return 128 + WTERMSIG (status);

    return WEXITSTATUS (status) == 0 && ! faults.empty() ? 1 : WEXITSTATUS (status);
}
