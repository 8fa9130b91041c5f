// A console's automation system as a process of its own, for the tests through the real MIDI
// stacks: the console simulator (tests/support/ConsoleSimulator) behind a port on the ALSA
// sequencer, which it opens through libasound like any MIDI program (under the tests, the test
// sequencer's). It records every event that arrives, hands the bytes to the simulator, which
// checks them against the wire format, and plays a person at the desk on command.
//
//     QuillmereTestConsole [--port NAME] [--client NAME] [--record FILE] [--refuse]
//                          [--commands FILE --answers FILE]
//
// The port is one duplex port named after the model's default ("Tarn16 Automation" unless
// --port names another; a Mira suggests none, so give it the name the instances choose).
// --refuse creates it without the read and write capabilities that subscribers need, so that
// the port is listed but every subscription to it is refused. Commands, one a line on the
// standard input (or, with --commands, appended to that file, which the console follows, with
// the answers appended to the --answers file: a program under wine talks to it so); each
// answer ends with a line "ok" or "error <why>":
//
//     touch Z | release Z | move Z POSITION | press-cut Z | release-cut Z
//     raw HH HH ...           bytes as the console sends them, through the MIDI byte coder
//     sysex-part HH HH ...    one system-exclusive event holding exactly these bytes
//     strip Z                 strip Z level=L cut=C levels=N mutes=N names=N text=TEXT
//     malformed               the simulator's rejections, one "malformed ..." line each
//     events | clear-events   every event received, one "event HH HH ..." line each
//     unplug | plug           the port vanishes with the client, or comes back
//     stall-router MS         stops the test sequencer's router for MS milliseconds, as a MIDI
//                             driver that hangs: every program's call into the sequencer
//                             (this console's too) waits until it goes on
//     write-to NAME           connects the console's port to write to the port named NAME of
//                             another client, as a second program writing to a console does:
//                             what the desk and raw commands send goes there too
//     quit

#include "../ConsoleSimulator.h"
#include "SequencerProtocol.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <thread>
#include <vector>

namespace
{
    std::FILE* answers = stdout;

    juce::String hexOf (const unsigned char* data, size_t size)
    {
        juce::StringArray bytes;

        for (size_t i = 0; i < size; ++i)
            bytes.add (juce::String::toHexString ((int) data[i]).paddedLeft ('0', 2).toUpperCase());

        return bytes.joinIntoString (" ");
    }

    std::vector<unsigned char> bytesOf (const juce::StringArray& words, int from)
    {
        std::vector<unsigned char> bytes;

        for (int i = from; i < words.size(); ++i)
            bytes.push_back ((unsigned char) words[i].getHexValue32());

        return bytes;
    }

    class TestConsole final : private MidiPortSystem::Input::Callback
    {
    public:
        TestConsole (juce::String portNameToUse, juce::String clientNameToUse, juce::String recordPath, bool refuseToUse)
            : portName (std::move (portNameToUse))
            , clientName (std::move (clientNameToUse))
            , refuse (refuseToUse)
            , simulator (backend, portName)
        {
            if (recordPath.isNotEmpty())
                record = std::fopen (recordPath.toRawUTF8(), "a");

            // The simulator's desk delivers to the virtual input of its port name, which this
            // process opens to put the messages on the sequencer; what arrives from the
            // sequencer goes to the simulator through the virtual output of that name.
            deskInput = backend.openInput (backend.getInputNames().indexOf (portName), this);
            deskInput->start();
            simulatorOutput = backend.openOutput (backend.getOutputNames().indexOf (portName));
            snd_midi_event_new (64, &encoder);
        }

        ~TestConsole() override
        {
            unplug();
            deskInput.reset();
            simulatorOutput.reset();
            snd_midi_event_free (encoder);

            if (record != nullptr)
                std::fclose (record);
        }

        /** Opens the client and its port; the port's address, or an error. */
        juce::String plug()
        {
            if (seq != nullptr)
                return "the port is plugged in";

            if (const auto result = snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, 0); result < 0)
                return juce::String ("cannot open the sequencer: ") + snd_strerror (result);

            snd_seq_set_client_name (seq, clientName.toRawUTF8());
            const auto subscribable = SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_SUBS_WRITE;
            const auto caps = refuse ? subscribable : (subscribable | SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE);
            port = snd_seq_create_simple_port (seq, portName.toRawUTF8(), (unsigned int) caps, SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT);

            if (port < 0)
                return juce::String ("cannot create the port: ") + snd_strerror (port);

            stopReading = false;
            reader = std::thread ([this]
                                  { readEvents(); });
            return juce::String (snd_seq_client_id (seq)) + ":" + juce::String (port);
        }

        /** Closes the client: its port and subscriptions vanish with it. */
        void unplug()
        {
            if (seq == nullptr)
                return;

            stopReading = true;
            reader.join();
            snd_seq_close (seq);
            seq = nullptr;
        }

        /** Runs one command line; false once the console should quit. */
        bool run (const juce::String& line)
        {
            const auto words = juce::StringArray::fromTokens (line, " ", {});
            const auto command = words[0];
            const auto zone = words[1].getIntValue();

            if (command == "quit")
                return false;

            juce::String error;

            if (command == "touch")
                simulator.touch (zone);
            else if (command == "release")
                simulator.release (zone);
            else if (command == "move")
                simulator.moveTo (zone, words[2].getIntValue());
            else if (command == "press-cut")
                simulator.pressCut (zone);
            else if (command == "release-cut")
                simulator.releaseCut (zone);
            else if (command == "raw")
                error = sendBytes (bytesOf (words, 1));
            else if (command == "sysex-part")
                error = sendSysExPart (bytesOf (words, 1));
            else if (command == "strip")
                printStrip (zone);
            else if (command == "malformed")
                for (const auto& fault : simulator.getMalformedTraffic())
                    say ("malformed " + fault);
            else if (command == "events")
                printEvents();
            else if (command == "clear-events")
                clearEvents();
            else if (command == "unplug")
                unplug();
            else if (command == "stall-router")
                error = stallRouter (words[1].getIntValue());
            else if (command == "write-to")
                error = writeTo (line.fromFirstOccurrenceOf (" ", false, false).trim());
            else if (command == "plug")
            {
                const auto result = plug();
                error = result.containsChar (':') ? juce::String() : result;
            }
            else if (command.isNotEmpty())
                error = "unknown command " + command;

            simulator.waitUntilDelivered();
            say (error.isEmpty() ? juce::String ("ok") : "error " + error);
            return true;
        }

        static void say (const juce::String& text)
        {
            static std::mutex saying;
            const std::lock_guard<std::mutex> held (saying);
            std::fprintf (answers, "%s\n", text.toRawUTF8());
            std::fflush (answers);
        }

    private:
        /** Stops the router now and lets it go on after the given time, from a thread of its
            own, so that the console keeps answering commands meanwhile.
        */
        static juce::String stallRouter (int milliseconds)
        {
            const auto* variable = std::getenv (test_sequencer::routerProcessVariable);
            const auto router = variable != nullptr ? (pid_t) std::atoi (variable) : 0;

            if (router <= 0 || milliseconds <= 0)
                return "stall-router needs a time in milliseconds and a router that says its process";

            if (::kill (router, SIGSTOP) != 0)
                return "cannot stop the router: " + juce::String (std::strerror (errno));

            std::thread ([router, milliseconds]
                         {
                             std::this_thread::sleep_for (std::chrono::milliseconds (milliseconds));
                             ::kill (router, SIGCONT); })
                .detach();
            return {};
        }

        // The desk's messages, from the virtual backend's driver thread, onto the sequencer.
        void handleIncomingMidiMessage (MidiPortSystem::Input*, const juce::MidiMessage& message) override
        {
            const auto error = sendBytes (std::vector<unsigned char> (message.getRawData(), message.getRawData() + message.getRawDataSize()));

            if (error.isNotEmpty())
                say ("error " + error);
        }

        juce::String sendBytes (const std::vector<unsigned char>& bytes)
        {
            const std::lock_guard<std::mutex> held (sending);

            if (seq == nullptr)
                return "the port is unplugged";

            const auto* data = bytes.data();
            auto remaining = (long) bytes.size();

            while (remaining > 0)
            {
                snd_seq_event_t event;
                snd_seq_ev_clear (&event);
                const auto used = snd_midi_event_encode (encoder, data, remaining, &event);

                if (used <= 0)
                    return "cannot encode " + hexOf (data, (size_t) remaining);

                data += used;
                remaining -= used;

                if (event.type == SND_SEQ_EVENT_NONE)
                    continue;

                if (const auto error = output (event); error.isNotEmpty())
                    return error;
            }

            return {};
        }

        /** Subscribes the port to write to the first port of that name on another client. */
        juce::String writeTo (const juce::String& name)
        {
            if (seq == nullptr)
                return "the port is unplugged";

            snd_seq_client_info_t* clientInfo = nullptr;
            snd_seq_port_info_t* portInfo = nullptr;
            snd_seq_client_info_alloca (&clientInfo);
            snd_seq_port_info_alloca (&portInfo);
            snd_seq_client_info_set_client (clientInfo, -1);

            while (snd_seq_query_next_client (seq, clientInfo) >= 0)
            {
                const auto client = snd_seq_client_info_get_client (clientInfo);

                if (client == snd_seq_client_id (seq))
                    continue;

                snd_seq_port_info_set_client (portInfo, client);
                snd_seq_port_info_set_port (portInfo, -1);

                while (snd_seq_query_next_port (seq, portInfo) >= 0)
                {
                    if (name != snd_seq_port_info_get_name (portInfo))
                        continue;

                    const auto result = snd_seq_connect_to (seq, port, client, snd_seq_port_info_get_port (portInfo));
                    return result < 0 ? juce::String ("cannot connect: ") + snd_strerror (result) : juce::String();
                }
            }

            return "no port named " + name;
        }

        juce::String sendSysExPart (std::vector<unsigned char> bytes)
        {
            const std::lock_guard<std::mutex> held (sending);

            if (seq == nullptr)
                return "the port is unplugged";

            snd_seq_event_t event;
            snd_seq_ev_clear (&event);
            event.type = SND_SEQ_EVENT_SYSEX;
            event.flags = (unsigned char) ((event.flags & ~SND_SEQ_EVENT_LENGTH_MASK) | SND_SEQ_EVENT_LENGTH_VARIABLE);
            event.data.ext.len = (unsigned int) bytes.size();
            event.data.ext.ptr = bytes.data();
            return output (event);
        }

        juce::String output (snd_seq_event_t& event)
        {
            snd_seq_ev_set_source (&event, (unsigned char) port);
            snd_seq_ev_set_subs (&event);
            snd_seq_ev_set_direct (&event);
            const auto result = snd_seq_event_output_direct (seq, &event);
            return result < 0 ? juce::String ("cannot send: ") + snd_strerror (result) : juce::String();
        }

        // The input thread: every event that arrives is recorded and handed to the simulator.
        void readEvents()
        {
            snd_midi_event_t* decoder = nullptr;
            snd_midi_event_new (16 * 1024, &decoder);
            std::vector<unsigned char> bytes (16 * 1024);

            pollfd fd {};
            snd_seq_poll_descriptors (seq, &fd, 1, POLLIN);

            while (! stopReading)
            {
                if (::poll (&fd, 1, 50) <= 0)
                    continue;

                do
                {
                    snd_seq_event_t* event = nullptr;
                    const auto result = snd_seq_event_input (seq, &event);

                    if (result == -ENOSPC)
                        recordLine ("lost events: the input queue overflowed");

                    if (result < 0 || event == nullptr)
                        break;

                    snd_midi_event_reset_decode (decoder);
                    const auto size = snd_midi_event_decode (decoder, bytes.data(), (long) bytes.size(), event);

                    if (size > 0)
                    {
                        recordLine ("event " + hexOf (bytes.data(), (size_t) size));
                        simulatorOutput->sendBlockNow (bytes.data(), (int) size);
                    }
                } while (snd_seq_event_input_pending (seq, 0) > 0);
            }

            snd_midi_event_free (decoder);
        }

        void recordLine (const juce::String& line)
        {
            const std::lock_guard<std::mutex> held (recording);
            events.add (line);

            if (record != nullptr)
            {
                std::fprintf (record, "%s\n", line.toRawUTF8());
                std::fflush (record);
            }
        }

        void printEvents()
        {
            const std::lock_guard<std::mutex> held (recording);

            for (const auto& line : events)
                say (line);
        }

        void clearEvents()
        {
            const std::lock_guard<std::mutex> held (recording);
            events.clear();
        }

        void printStrip (int zone)
        {
            const auto strip = simulator.getStrip (zone);
            say ("strip " + juce::String (zone) + " level=" + juce::String (strip.faderLevel) + " cut=" + juce::String (strip.cut ? 1 : 0)
                 + " levels=" + juce::String (strip.levelMessages) + " mutes=" + juce::String (strip.muteMessages)
                 + " names=" + juce::String (strip.nameMessages) + " text=" + strip.text);
        }

        const juce::String portName, clientName;
        const bool refuse;

        VirtualMidiPortBackend backend;
        ConsoleSimulator simulator;
        std::unique_ptr<MidiPortSystem::Input> deskInput;
        std::unique_ptr<MidiPortSystem::Output> simulatorOutput;

        snd_seq_t* seq = nullptr;
        int port = -1;
        snd_midi_event_t* encoder = nullptr;
        std::mutex sending; // the encoder and the handle's output, shared by the desk and commands

        std::thread reader;
        std::atomic<bool> stopReading { false };

        std::mutex recording; // guards events and record
        juce::StringArray events;
        std::FILE* record = nullptr;
    };
}

int main (int argc, char** argv)
{
    juce::String portName ("Tarn16 Automation"), clientName ("Quillmere Test Console"), recordPath, commandsPath, answersPath;
    bool refuse = false;

    for (int i = 1; i < argc; ++i)
    {
        const juce::String argument (argv[i]);
        const auto hasValue = i + 1 < argc;

        if (argument == "--port" && hasValue)
            portName = argv[++i];
        else if (argument == "--client" && hasValue)
            clientName = argv[++i];
        else if (argument == "--record" && hasValue)
            recordPath = argv[++i];
        else if (argument == "--commands" && hasValue)
            commandsPath = argv[++i];
        else if (argument == "--answers" && hasValue)
            answersPath = argv[++i];
        else if (argument == "--refuse")
            refuse = true;
        else
        {
            std::fprintf (stderr, "usage: QuillmereTestConsole [--port NAME] [--client NAME] [--record FILE] [--refuse] [--commands FILE --answers FILE]\n");
            return 2;
        }
    }

    // The console never outlives whoever started it.
    ::prctl (PR_SET_PDEATHSIG, SIGTERM);

    if (commandsPath.isNotEmpty() != answersPath.isNotEmpty())
    {
        std::fprintf (stderr, "QuillmereTestConsole: --commands and --answers go together\n");
        return 2;
    }

    if (answersPath.isNotEmpty() && (answers = std::fopen (answersPath.toRawUTF8(), "a")) == nullptr)
    {
        std::fprintf (stderr, "QuillmereTestConsole: cannot write %s\n", answersPath.toRawUTF8());
        return 1;
    }

    TestConsole console (portName, clientName, recordPath, refuse);
    const auto address = console.plug();

    if (! address.containsChar (':'))
    {
        TestConsole::say ("error " + address);
        return 1;
    }

    TestConsole::say ("ready " + address);

    if (commandsPath.isEmpty())
    {
        for (std::string line; std::getline (std::cin, line);)
            if (! console.run (juce::String (line).trim()))
                break;

        return 0;
    }

    // Follows the commands file as it grows, a whole line at a time.
    std::ifstream commands (commandsPath.toRawUTF8());
    std::string pending;

    for (;;)
    {
        const auto c = commands.get();

        if (c == std::char_traits<char>::eof())
        {
            commands.clear();
            std::this_thread::sleep_for (std::chrono::milliseconds (10));
            continue;
        }

        if (c != '\n')
        {
            pending += (char) c;
            continue;
        }

        if (! console.run (juce::String (pending).trim()))
            return 0;

        pending.clear();
    }
}
