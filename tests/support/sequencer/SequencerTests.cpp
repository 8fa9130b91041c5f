// The test sequencer through the ALSA interface its callers use: what they rely on of the real
// sequencer, and the limits of it that the double keeps. Runs under the router (CMakeLists).

#include <alsa/asoundlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
    constexpr unsigned int readable = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    constexpr unsigned int writable = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

    /** One client with one port, closed when the test is done. */
    struct Client
    {
        explicit Client (const char* portName, unsigned int caps = readable | writable, int mode = 0)
        {
            EXPECT_EQ (snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, mode), 0);
            port = snd_seq_create_simple_port (seq, portName, caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC);
            EXPECT_GE (port, 0);
        }

        ~Client() { close(); }

        void close()
        {
            if (seq != nullptr)
                snd_seq_close (seq);

            seq = nullptr;
        }

        int id() const { return snd_seq_client_id (seq); }

        int send (const std::vector<unsigned char>& bytes)
        {
            snd_midi_event_t* encoder = nullptr;
            snd_midi_event_new (bytes.size(), &encoder);
            snd_seq_event_t event;
            snd_seq_ev_clear (&event);
            const auto used = snd_midi_event_encode (encoder, bytes.data(), (long) bytes.size(), &event);
            snd_seq_ev_set_source (&event, (unsigned char) port);
            snd_seq_ev_set_subs (&event);
            snd_seq_ev_set_direct (&event);
            const auto result = used == (long) bytes.size() ? snd_seq_event_output_direct (seq, &event) : -1;
            snd_midi_event_free (encoder);
            return result;
        }

        /** The next event's bytes, waiting up to two seconds; empty if none came. */
        std::vector<unsigned char> receive()
        {
            pollfd fd {};
            snd_seq_poll_descriptors (seq, &fd, 1, POLLIN);

            if (snd_seq_event_input_pending (seq, 0) == 0 && poll (&fd, 1, 2000) <= 0)
                return {};

            snd_seq_event_t* event = nullptr;

            if (snd_seq_event_input (seq, &event) < 0)
                return {};

            snd_midi_event_t* decoder = nullptr;
            snd_midi_event_new (256, &decoder);
            std::vector<unsigned char> bytes (256);
            const auto size = snd_midi_event_decode (decoder, bytes.data(), (long) bytes.size(), event);
            snd_midi_event_free (decoder);
            bytes.resize (size > 0 ? (size_t) size : 0);
            return bytes;
        }

        snd_seq_t* seq = nullptr;
        int port = -1;
    };

    /** The names of the ports listed as a caller lists them, "client:port name". */
    std::vector<std::string> listPorts (snd_seq_t* seq)
    {
        std::vector<std::string> ports;
        snd_seq_client_info_t* client;
        snd_seq_port_info_t* port;
        snd_seq_client_info_alloca (&client);
        snd_seq_port_info_alloca (&port);
        snd_seq_client_info_set_client (client, -1);

        while (snd_seq_query_next_client (seq, client) == 0)
        {
            snd_seq_port_info_set_client (port, snd_seq_client_info_get_client (client));
            snd_seq_port_info_set_port (port, -1);

            while (snd_seq_query_next_port (seq, port) == 0)
                ports.push_back (std::to_string (snd_seq_port_info_get_client (port)) + ":" + std::to_string (snd_seq_port_info_get_port (port)) + " " + snd_seq_port_info_get_name (port));
        }

        return ports;
    }

    bool contains (const std::vector<std::string>& list, const std::string& item)
    {
        return std::find (list.begin(), list.end(), item) != list.end();
    }
}

TEST (TestSequencer, ClientsAreNumberedFrom128AndTakeTheirPortsWithThemWhenTheyClose)
{
    Client lister ("lister");
    auto console = std::make_unique<Client> ("Tarn16 Automation");
    const auto address = std::to_string (console->id()) + ":0 Tarn16 Automation";

    EXPECT_EQ (lister.id(), 128);
    EXPECT_EQ (console->id(), 129);
    EXPECT_TRUE (contains (listPorts (lister.seq), "14:0 Midi Through Port-0"));
    EXPECT_TRUE (contains (listPorts (lister.seq), address));

    console.reset();
    EXPECT_FALSE (contains (listPorts (lister.seq), address));

    // The lowest free number goes to the next client.
    Client next ("next");
    EXPECT_EQ (next.id(), 129);
}

// Subscribers of the System client's Announce port hear of clients and ports that start and
// exit, as the kernel tells them: a closing client's ports exit before the client does. Every
// connection made or undone on request is announced too (the watcher's own among them), but
// those a port takes with it when it exits are not.
TEST (TestSequencer, TheAnnouncePortTellsOfClientsPortsAndConnectionsThatStartAndExit)
{
    Client watcher ("watch", SND_SEQ_PORT_CAP_WRITE);
    Client listener ("in", writable);
    ASSERT_EQ (snd_seq_connect_from (watcher.seq, watcher.port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE), 0);

    auto console = std::make_unique<Client> ("console");
    const auto id = console->id();
    ASSERT_EQ (snd_seq_connect_to (console->seq, console->port, listener.id(), listener.port), 0);
    ASSERT_EQ (snd_seq_disconnect_to (console->seq, console->port, listener.id(), listener.port), 0);
    ASSERT_EQ (snd_seq_connect_to (console->seq, console->port, listener.id(), listener.port), 0);
    console.reset();

    std::vector<std::string> heard;
    pollfd fd {};
    snd_seq_poll_descriptors (watcher.seq, &fd, 1, POLLIN);

    while (heard.size() < 8 && (snd_seq_event_input_pending (watcher.seq, 0) > 0 || poll (&fd, 1, 2000) > 0))
    {
        snd_seq_event_t* event = nullptr;

        if (snd_seq_event_input (watcher.seq, &event) < 0)
            break;

        EXPECT_EQ (event->source.client, SND_SEQ_CLIENT_SYSTEM);
        EXPECT_EQ (event->source.port, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        const auto address = [] (snd_seq_addr_t a)
        { return std::to_string (a.client) + ":" + std::to_string (a.port); };
        const auto connection = address (event->data.connect.sender) + ">" + address (event->data.connect.dest);

        heard.push_back (event->type == SND_SEQ_EVENT_CLIENT_START        ? "client start " + address (event->data.addr)
                         : event->type == SND_SEQ_EVENT_CLIENT_EXIT       ? "client exit " + address (event->data.addr)
                         : event->type == SND_SEQ_EVENT_PORT_START        ? "port start " + address (event->data.addr)
                         : event->type == SND_SEQ_EVENT_PORT_EXIT         ? "port exit " + address (event->data.addr)
                         : event->type == SND_SEQ_EVENT_PORT_SUBSCRIBED   ? "subscribed " + connection
                         : event->type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED ? "unsubscribed " + connection
                                                                          : "other");
    }

    const auto at = [id] (int port)
    { return std::to_string (id) + ":" + std::to_string (port); };
    const auto toListener = ">" + std::to_string (listener.id()) + ":0";
    const auto toWatcher = "0:1>" + std::to_string (watcher.id()) + ":0";
    EXPECT_EQ (heard, (std::vector<std::string> { "subscribed " + toWatcher, "client start " + at (0), "port start " + at (0), "subscribed " + at (0) + toListener, "unsubscribed " + at (0) + toListener, "subscribed " + at (0) + toListener, "port exit " + at (0), "client exit " + at (0) }));
}

TEST (TestSequencer, SubscriptionsNeedThePortsCapabilitiesAndAreMadeOnce)
{
    Client listener ("in", SND_SEQ_PORT_CAP_WRITE);
    Client refusing ("refusing", SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_SUBS_WRITE);
    Client console ("console");

    EXPECT_EQ (snd_seq_connect_from (listener.seq, listener.port, refusing.id(), refusing.port), -EPERM);
    EXPECT_EQ (snd_seq_connect_from (listener.seq, listener.port, console.id(), console.port), 0);
    EXPECT_EQ (snd_seq_connect_from (listener.seq, listener.port, console.id(), console.port), -EBUSY);
    EXPECT_EQ (snd_seq_connect_from (listener.seq, listener.port, console.id(), 7), -EINVAL);

    // Each end lists the other among its subscribers: the console reads to the listener, and
    // the listener is written to by the console.
    const auto subscribers = [] (snd_seq_t* seq, snd_seq_addr_t root, snd_seq_query_subs_type_t type)
    {
        std::vector<std::string> found;
        snd_seq_query_subscribe_t* query;
        snd_seq_query_subscribe_alloca (&query);
        snd_seq_query_subscribe_set_root (query, &root);
        snd_seq_query_subscribe_set_type (query, type);

        for (int index = 0;; ++index)
        {
            snd_seq_query_subscribe_set_index (query, index);

            if (snd_seq_query_port_subscribers (seq, query) < 0)
                break;

            const auto* addr = snd_seq_query_subscribe_get_addr (query);
            found.push_back (std::to_string (addr->client) + ":" + std::to_string (addr->port) + " of " + std::to_string (snd_seq_query_subscribe_get_num_subs (query)));
        }

        return found;
    };
    const snd_seq_addr_t consoleAddress { (unsigned char) console.id(), (unsigned char) console.port };
    const snd_seq_addr_t listenerAddress { (unsigned char) listener.id(), (unsigned char) listener.port };
    EXPECT_EQ (subscribers (listener.seq, consoleAddress, SND_SEQ_QUERY_SUBS_READ), (std::vector<std::string> { std::to_string (listener.id()) + ":0 of 1" }));
    EXPECT_EQ (subscribers (listener.seq, listenerAddress, SND_SEQ_QUERY_SUBS_WRITE), (std::vector<std::string> { std::to_string (console.id()) + ":0 of 1" }));
    EXPECT_TRUE (subscribers (listener.seq, consoleAddress, SND_SEQ_QUERY_SUBS_WRITE).empty());

    snd_seq_port_subscribe_t* subscription;
    snd_seq_port_subscribe_alloca (&subscription);
    snd_seq_port_subscribe_set_sender (subscription, &consoleAddress);
    snd_seq_port_subscribe_set_dest (subscription, &listenerAddress);
    EXPECT_EQ (snd_seq_get_port_subscription (listener.seq, subscription), 0);
    snd_seq_port_subscribe_set_sender (subscription, &listenerAddress);
    snd_seq_port_subscribe_set_dest (subscription, &consoleAddress);
    EXPECT_EQ (snd_seq_get_port_subscription (listener.seq, subscription), -ENOENT);
}

TEST (TestSequencer, EventsReachTheSubscribersWholeAndInOrder)
{
    Client console ("console");
    Client listener ("in", SND_SEQ_PORT_CAP_WRITE);
    ASSERT_EQ (snd_seq_connect_from (listener.seq, listener.port, console.id(), console.port), 0);

    const std::vector<std::vector<unsigned char>> messages {
        { 0xb0, 0x0f, 0x02 },
        { 0xf0, 0x00, 0x00, 0x66, 0x05, 0x00, 0x20, 0x02, 0x4b, 0x00, 0xf7 },
        { 0xe3, 0x00, 0x40 },
        { 0xf8 },
    };

    for (const auto& message : messages)
        EXPECT_GT (console.send (message), 0);

    for (const auto& message : messages)
        EXPECT_EQ (listener.receive(), message);
}

namespace
{
    /** A system-exclusive event of that many bytes from the client's port to its subscribers,
        or to one port, sent directly: what the sequencer answered.
    */
    int sendSysEx (Client& from, size_t size, const snd_seq_addr_t* to = nullptr)
    {
        std::vector<unsigned char> bytes (size, 0x11);
        bytes.front() = 0xf0;
        bytes.back() = 0xf7;

        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_sysex (&event, (unsigned int) bytes.size(), bytes.data());
        snd_seq_ev_set_source (&event, (unsigned char) from.port);

        if (to != nullptr)
            snd_seq_ev_set_dest (&event, to->client, to->port);
        else
            snd_seq_ev_set_subs (&event);

        snd_seq_ev_set_direct (&event);
        return snd_seq_event_output_direct (from.seq, &event);
    }
}

// A client's output pool holds 500 cells of 28 bytes, one for the event itself: a longer
// system-exclusive event is refused at the sender, even by a receiver that would take it, as
// Midi Through, a client of the kernel's own with no input pool, would.
TEST (TestSequencer, ASysExEventLargerThanTheOutputPoolIsRefused)
{
    Client console ("console");
    const snd_seq_addr_t through { 14, 0 };

    EXPECT_EQ (sendSysEx (console, 499 * 28, &through), (int) sizeof (snd_seq_event_t) + 499 * 28);
    EXPECT_EQ (sendSysEx (console, 499 * 28 + 1, &through), -ENOMEM);
}

// A client in user space receives into an input pool of 200 cells of 28 bytes, one per event
// and as many more as its data fills. An event the pool cannot take now is refused with
// -EAGAIN, one it could never take (data of 200 cells or more) with -ENOMEM; the direct
// sender hears the error, and the receiver, having read what its pool held, hears of the loss.
TEST (TestSequencer, AReceiversInputPoolRefusesWhatItCannotHoldAndTheSenderHearsIt)
{
    const struct
    {
        const char* what;
        int queuedFirst;    // short events waiting unread in the receiver's pool
        size_t sysExSize;   // the event then sent: a system-exclusive one of this size, or 0 for a short one
        int expectedResult; // what the sender is answered; > 0 the bytes taken
    } cases[] = {
        { "a short event into the pool's last cell", 199, 0, 28 },
        { "a short event into a full pool", 200, 0, -EAGAIN },
        { "data of 199 cells into an empty pool", 0, 199 * 28, 28 + 199 * 28 },
        { "data of 199 cells into a pool with one cell taken", 1, 199 * 28, -EAGAIN },
        { "data of 200 cells, which no pool of 200 holds", 0, 199 * 28 + 1, -ENOMEM },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        Client console ("console");
        Client desk ("desk", writable, SND_SEQ_NONBLOCK);
        ASSERT_EQ (snd_seq_connect_to (console.seq, console.port, desk.id(), desk.port), 0);

        for (int i = 0; i < c.queuedFirst; ++i)
            ASSERT_EQ (console.send ({ 0xb0, 0x07, (unsigned char) (i & 0x7f) }), 28);

        EXPECT_EQ (c.sysExSize > 0 ? sendSysEx (console, c.sysExSize) : console.send ({ 0xb0, 0x08, 0x01 }), c.expectedResult);

        // The receiver reads what its pool held, the refused event's loss last.
        std::vector<size_t> sizes;
        int result = 0;
        pollfd fd {};
        snd_seq_poll_descriptors (desk.seq, &fd, 1, POLLIN);

        for (;;)
        {
            snd_seq_event_t* event = nullptr;
            result = snd_seq_event_input (desk.seq, &event);

            if (result > 0)
                sizes.push_back ((size_t) snd_seq_event_length (event));
            else if (result != -EAGAIN || poll (&fd, 1, 500) <= 0)
                break;
        }

        const auto accepted = c.expectedResult > 0;
        EXPECT_EQ (result, accepted ? -EAGAIN : -ENOSPC);
        EXPECT_EQ (sizes.size(), (size_t) c.queuedFirst + (accepted ? 1 : 0));

        if (accepted && ! sizes.empty())
        {
            EXPECT_EQ (sizes.back(), (size_t) c.expectedResult);
        }

        // Once it has heard, the pool takes events again.
        EXPECT_EQ (console.send ({ 0xb0, 0x08, 0x02 }), 28);
        EXPECT_EQ (desk.receive(), (std::vector<unsigned char> { 0xb0, 0x08, 0x02 }));
    }
}

TEST (TestSequencer, NonBlockingInputSaysAgainAndBlockingInputWaitsForAnEvent)
{
    Client quiet ("quiet", readable | writable, SND_SEQ_NONBLOCK);
    snd_seq_event_t* event = reinterpret_cast<snd_seq_event_t*> (1);
    EXPECT_EQ (snd_seq_event_input (quiet.seq, &event), -EAGAIN);
    EXPECT_EQ (event, nullptr);

    Client waiting ("waiting", writable);
    Client sender ("sender");
    ASSERT_EQ (snd_seq_connect_to (sender.seq, sender.port, waiting.id(), waiting.port), 0);

    std::thread later ([&]
                       {
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        sender.send ({ 0x90, 0x3c, 0x40 }); });

    EXPECT_EQ (snd_seq_event_input (waiting.seq, &event), 1);
    later.join();
    ASSERT_NE (event, nullptr);
    EXPECT_EQ (event->type, SND_SEQ_EVENT_NOTEON);
}

TEST (TestSequencer, AReaderThatFallsBehindLosesEventsAndIsToldSo)
{
    Client flooder ("flooder");
    Client slow ("slow", writable, SND_SEQ_NONBLOCK);
    ASSERT_EQ (snd_seq_connect_to (flooder.seq, flooder.port, slow.id(), slow.port), 0);

    for (int i = 0; i < 5000; ++i)
        flooder.send ({ 0xb0, 0x07, (unsigned char) (i & 0x7f) });

    // The reader takes what its queue held, then learns that the rest was lost.
    snd_seq_event_t* event = nullptr;
    pollfd fd {};
    snd_seq_poll_descriptors (slow.seq, &fd, 1, POLLIN);
    int result = 0, read = 0;

    for (int waits = 0; waits < 20 && result != -ENOSPC;)
    {
        result = snd_seq_event_input (slow.seq, &event);

        if (result > 0)
            ++read;
        else if (result == -EAGAIN && poll (&fd, 1, 100) == 0)
            ++waits;
    }

    EXPECT_EQ (result, -ENOSPC);
    EXPECT_GT (read, 0);
    EXPECT_LT (read, 5000);

    // Once told, the reader hears new events again.
    flooder.send ({ 0xb0, 0x07, 0x01 });
    EXPECT_EQ (slow.receive(), (std::vector<unsigned char> { 0xb0, 0x07, 0x01 }));
}

TEST (TestSequencer, TheByteCoderKeepsRunningStatusRealTimeBytesAndLongSysExAsTheRealOne)
{
    snd_midi_event_t* coder = nullptr;
    ASSERT_EQ (snd_midi_event_new (4, &coder), 0);
    snd_seq_event_t event;

    // Running status: the second controller needs no status byte of its own.
    const unsigned char running[] = { 0xb0, 0x02, 0x7f, 0x22, 0x40 };
    EXPECT_EQ (snd_midi_event_encode (coder, running, 5, &event), 3);
    EXPECT_EQ (snd_midi_event_encode (coder, running + 3, 2, &event), 2);
    EXPECT_EQ (event.type, SND_SEQ_EVENT_CONTROLLER);
    EXPECT_EQ (event.data.control.param, 0x22u);

    // A clock byte inside a message stands alone and leaves the message whole.
    const unsigned char clockInside[] = { 0x90, 0x3c, 0xf8, 0x40 };
    EXPECT_EQ (snd_midi_event_encode (coder, clockInside, 4, &event), 3);
    EXPECT_EQ (event.type, SND_SEQ_EVENT_CLOCK);
    EXPECT_EQ (snd_midi_event_encode (coder, clockInside + 3, 1, &event), 1);
    EXPECT_EQ (event.type, SND_SEQ_EVENT_NOTEON);

    // A system-exclusive message longer than the coder's buffer comes out in pieces of it.
    const unsigned char sysex[] = { 0xf0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xf7 };
    EXPECT_EQ (snd_midi_event_encode (coder, sysex, 7, &event), 4);
    EXPECT_EQ (event.type, SND_SEQ_EVENT_SYSEX);
    EXPECT_EQ (event.data.ext.len, 4u);
    EXPECT_EQ (snd_midi_event_encode (coder, sysex + 4, 3, &event), 3);
    EXPECT_EQ (event.data.ext.len, 3u);

    // The decoder writes running status until it is reset.
    snd_seq_event_t controller;
    snd_seq_ev_clear (&controller);
    snd_seq_ev_set_controller (&controller, 0, 0x02, 0x7f);
    unsigned char bytes[8];
    EXPECT_EQ (snd_midi_event_decode (coder, bytes, 8, &controller), 3);
    EXPECT_EQ (snd_midi_event_decode (coder, bytes, 8, &controller), 2);
    snd_midi_event_reset_decode (coder);
    EXPECT_EQ (snd_midi_event_decode (coder, bytes, 8, &controller), 3);
    snd_midi_event_reset_decode (coder);
    EXPECT_EQ (snd_midi_event_decode (coder, bytes, 2, &controller), -ENOMEM);

    snd_midi_event_free (coder);
}

// A sequencer function the test sequencer does not implement answers -ENOSYS and names itself
// in the fault log, rather than leaving the caller with an unresolved symbol.
TEST (TestSequencer, AnUnimplementedCallFailsClearlyNamingTheFunction)
{
    const auto* folder = std::getenv ("QUILLMERE_TEST_SEQUENCER");
    ASSERT_NE (folder, nullptr) << "the program runs under the test sequencer's router";

    auto* library = dlopen ("libasound.so.2", RTLD_NOW);
    ASSERT_NE (library, nullptr);

    using PoolOutput = int (*) (void*, size_t);
    const auto setPoolOutput = reinterpret_cast<PoolOutput> (dlsym (library, "snd_seq_set_client_pool_output"));
    ASSERT_NE (setPoolOutput, nullptr);
    EXPECT_EQ (setPoolOutput (nullptr, 100), -ENOSYS);
    dlclose (library);

    const auto log = std::string (folder) + "/faults.log";
    std::ifstream file (log);
    const std::string text ((std::istreambuf_iterator<char> (file)), std::istreambuf_iterator<char>());
    EXPECT_NE (text.find ("snd_seq_set_client_pool_output() is not implemented"), std::string::npos) << text;

    // Expected here: the router fails the run for any other fault it finds in the log.
    std::remove (log.c_str());
}
