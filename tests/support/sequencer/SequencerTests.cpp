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
// exit, as the kernel tells them: a closing client's ports exit before the client does.
TEST (TestSequencer, TheAnnouncePortTellsOfClientsAndPortsThatStartAndExit)
{
    Client watcher ("watch", SND_SEQ_PORT_CAP_WRITE);
    ASSERT_EQ (snd_seq_connect_from (watcher.seq, watcher.port, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE), 0);

    auto console = std::make_unique<Client> ("console");
    const auto id = console->id();
    console.reset();

    std::vector<std::string> heard;
    pollfd fd {};
    snd_seq_poll_descriptors (watcher.seq, &fd, 1, POLLIN);

    while (heard.size() < 4 && (snd_seq_event_input_pending (watcher.seq, 0) > 0 || poll (&fd, 1, 2000) > 0))
    {
        snd_seq_event_t* event = nullptr;

        if (snd_seq_event_input (watcher.seq, &event) < 0)
            break;

        EXPECT_EQ (event->source.client, SND_SEQ_CLIENT_SYSTEM);
        EXPECT_EQ (event->source.port, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
        const auto* kind = event->type == SND_SEQ_EVENT_CLIENT_START  ? "client start"
                           : event->type == SND_SEQ_EVENT_CLIENT_EXIT ? "client exit"
                           : event->type == SND_SEQ_EVENT_PORT_START  ? "port start"
                           : event->type == SND_SEQ_EVENT_PORT_EXIT   ? "port exit"
                                                                      : "other";
        heard.push_back (std::string (kind) + " " + std::to_string (event->data.addr.client) + ":" + std::to_string (event->data.addr.port));
    }

    const auto at = [id] (int port)
    { return std::to_string (id) + ":" + std::to_string (port); };
    EXPECT_EQ (heard, (std::vector<std::string> { "client start " + at (0), "port start " + at (0), "port exit " + at (0), "client exit " + at (0) }));
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

// A client's output pool holds 500 cells of 28 bytes, one for the event itself: a longer
// system-exclusive event is refused, one that fits arrives whole.
TEST (TestSequencer, ASysExEventLargerThanTheOutputPoolIsRefused)
{
    Client console ("console");
    Client listener ("in", SND_SEQ_PORT_CAP_WRITE);
    ASSERT_EQ (snd_seq_connect_from (listener.seq, listener.port, console.id(), console.port), 0);

    for (const auto size : { 499 * 28, 499 * 28 + 1 })
    {
        SCOPED_TRACE (size);
        std::vector<unsigned char> bytes ((size_t) size, 0x11);
        bytes.front() = 0xf0;
        bytes.back() = 0xf7;

        snd_seq_event_t event;
        snd_seq_ev_clear (&event);
        snd_seq_ev_set_sysex (&event, (unsigned int) bytes.size(), bytes.data());
        snd_seq_ev_set_source (&event, (unsigned char) console.port);
        snd_seq_ev_set_subs (&event);
        snd_seq_ev_set_direct (&event);
        const auto result = snd_seq_event_output_direct (console.seq, &event);

        if (size <= 499 * 28)
        {
            EXPECT_EQ (result, (int) (sizeof (snd_seq_event_t) + bytes.size()));

            pollfd fd {};
            snd_seq_poll_descriptors (listener.seq, &fd, 1, POLLIN);
            ASSERT_EQ (poll (&fd, 1, 2000), 1);
            snd_seq_event_t* received = nullptr;
            ASSERT_EQ (snd_seq_event_input (listener.seq, &received), 1);
            ASSERT_EQ (received->type, SND_SEQ_EVENT_SYSEX);
            ASSERT_EQ (received->data.ext.len, (unsigned int) size);
            EXPECT_EQ (std::memcmp (received->data.ext.ptr, bytes.data(), bytes.size()), 0);
        }
        else
        {
            EXPECT_EQ (result, -ENOMEM);
        }
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
