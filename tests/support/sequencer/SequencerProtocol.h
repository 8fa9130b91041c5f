#pragma once

#include <cstdint>

/** What the test sequencer's library and its router say to each other.

    Each client holds two Unix-domain sequenced-packet sockets to the router. On the control
    socket the library sends one Request at a time and waits for its Reply, as the real library
    makes one ioctl or write at a time; an event to output follows its Request in the same
    packet. The event socket, which the router hands over with the reply to hello, carries the
    events delivered to the client, one packet each: the 28-byte event, then its variable-length
    data, as the kernel lays them out for read(). A packet of lostMarker's size says that the
    client's input pool was full and events were lost. The client tells the router on the
    control socket what it has read, before the read returns, as reading frees the kernel's
    pool at once.
*/
namespace test_sequencer
{
    /** The environment variable naming the folder where the router listens. */
    constexpr const char* folderVariable = "QUILLMERE_TEST_SEQUENCER";

    /** The router's process id, which the command it runs finds here. */
    constexpr const char* routerProcessVariable = "QUILLMERE_SEQUENCER_ROUTER_PID";

    /** The router's socket, and the log of faults, inside that folder. */
    constexpr const char* socketName = "router.sock";
    constexpr const char* faultLogName = "faults.log";

    constexpr int nameSize = 64;

    /** The most variable-length data one event may carry: a default client's output pool of
        500 cells, one of them for the event itself.
    */
    constexpr int maxExtLength = 499 * 28;

    /** The events a client's input buffer holds, as the real library's default (500 events). */
    constexpr int inputBufferEvents = 500;

    /** A pool's cell holds one event; variable-length data takes as many more cells as it fills. */
    constexpr int cellSize = 28;

    constexpr int cellsFor (std::uint32_t extLength)
    {
        return 1 + (int) ((extLength + cellSize - 1) / cellSize);
    }

    /** The input pool of a client in user space, as the kernel gives it by default: 200 cells.
        Events delivered to the client wait there until it reads them; one that finds too few
        free cells is refused, and one whose data needs at least as many extra cells as the
        whole pool (more than 199 * 28 bytes) never fits. Either way the sender hears the error
        and the receiver's next read says that events were lost.
    */
    constexpr int inputPoolCells = 200;

    enum class Op : std::uint32_t
    {
        hello = 1,
        setClientName,
        createPort,
        deletePort,
        subscribe,
        unsubscribe,
        systemInfo,
        queryNextClient,
        queryNextPort,
        output,
        querySubscribers,
        taken, // events read out of the input pool: a, the cells they took; b, 1 if a loss was heard
        getSubscription,
        close // the client goes with its ports before the reply, as the kernel's release does
    };

    struct Request
    {
        Op op;
        std::int32_t a, b, c, d; // client, port, ... as each operation needs them
        std::uint32_t caps, type;
        char name[nameSize];
    };

    struct Reply
    {
        std::int32_t result; // 0 or a count or number on success, -errno on failure
        std::int32_t client, port, type, numPorts;
        std::uint32_t caps;
        char name[nameSize]; // a name, or what was not implemented
        std::int32_t pid;    // a client's process, -1 for the kernel's own clients
    };

    constexpr std::uint32_t lostMarker = 0x4c4f5354;
}
