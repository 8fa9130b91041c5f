#pragma once

#include "PortDirection.h"

#include <juce_audio_basics/juce_audio_basics.h>

/** The process-wide system of MIDI ports through which instances reach their consoles.

    Ports are listed by name and opened by index, or by name, which checks what opened. An open input delivers each complete message
    from the console on a driver thread of its own; an open output passes a block of bytes to
    the driver unchanged and in order. Instances never write to their outputs themselves: they
    post their messages to a ConsoleOutbox, and one PortSender per port name writes them at the
    pace of the console's MIDI line. The shipped plug-in uses JUCE's MidiInput and MidiOutput
    (JuceMidiPortBackend); another backend can be installed for the whole process, which is
    how the tests put named virtual ports in place of the system's devices.
*/
class MidiPortSystem final
{
public:
    /** An open input port. Destroying it closes the port: once the destructor has returned,
        no callback for it runs any more.
    */
    class Input
    {
    public:
        class Callback
        {
        public:
            virtual ~Callback() = default;

            /** Called on the port's driver thread, once per complete message, in order of arrival. */
            virtual void handleIncomingMidiMessage (Input* source, const juce::MidiMessage& message) = 0;
        };

        virtual ~Input() = default;

        virtual juce::String getName() const = 0;

        /** Starts delivering messages to the callback. */
        virtual void start() = 0;

        /** Stops delivering messages; the port stays open. */
        virtual void stop() = 0;

        /** False once the system has taken away the port this one was opened on, even if a
            port of the same name has appeared since (an interface unplugged and plugged in
            again between two listings): such a handle leads nowhere, and the port must be
            opened again. Not a real-time thread.
        */
        virtual bool isAlive() const { return true; }
    };

    /** An open output port. One output must not be used by two threads at the same time:
        the instances hand their messages to the port's sender (PortSender), whose thread
        alone writes them.
    */
    class Output
    {
    public:
        virtual ~Output() = default;

        virtual juce::String getName() const = 0;

        /** Hands the bytes to the driver, unchanged and in order, and returns when it has
            taken them. Runs on the calling thread, which may wait for the driver.
        */
        virtual void sendBlockNow (const juce::uint8* data, int numBytes) = 0;

        /** Sends the message's raw bytes as one block. */
        void sendMessageNow (const juce::MidiMessage& message);

        /** False once the system has taken away the port this one was opened on, as for an
            input. Not a real-time thread.
        */
        virtual bool isAlive() const { return true; }

        /** True when another program is connected to write to the port this one was opened on,
            where the system can tell (the ALSA sequencer lists a port's writers). Its messages
            can then fall between a zone select and the switch that follows it, so that the
            switch lands on another strip. Not a real-time thread.
        */
        virtual bool isWrittenByOthers() const { return false; }
    };

    /** Where ports come from. Implementations must allow listing, opening, starting, stopping
        and closing ports from any thread, several at the same time, and sending on different
        outputs from different threads at the same time (SerialisedMidiPortBackend makes a
        backend that cannot do so on its own safe).
    */
    class Backend
    {
    public:
        virtual ~Backend() = default;

        virtual juce::StringArray getInputNames() = 0;
        virtual juce::StringArray getOutputNames() = 0;

        /** Opens the input at that index of getInputNames; null when it cannot be opened. */
        virtual std::unique_ptr<Input> openInput (int index, Input::Callback* callback) = 0;

        /** Opens the output at that index of getOutputNames; null when it cannot be opened. */
        virtual std::unique_ptr<Output> openOutput (int index) = 0;

        /** After the port at that index failed to open: whether another program holds it, where
            the system can tell (Windows gives a MIDI port to one program at a time).
        */
        virtual bool isHeldByAnotherProgram (bool /*isInput*/, int /*index*/) { return false; }
    };

    /** The names of the input ports, in the system's order. Any thread. */
    static juce::StringArray getInputNames();

    /** The names of the output ports, in the system's order. Any thread. */
    static juce::StringArray getOutputNames();

    /** The names of the ports of one direction, in the system's order. Any thread. */
    static juce::StringArray getNames (PortDirection direction);

    /** Whether the system lists a port of that name in that direction now. A port chosen by
        name (in the window, from the project or as the model's default) is opened only then:
        a name the system does not list leaves the open port as it is. Any thread.
    */
    static bool isListed (PortDirection direction, const juce::String& name);

    /** Opens the input port at an index of getInputNames; null when the index is out of range
        or the port cannot be opened.
    */
    static std::unique_ptr<Input> openInput (int index, Input::Callback* callback);

    /** Opens the output port at an index of getOutputNames; null on failure. */
    static std::unique_ptr<Output> openOutput (int index);

    /** After the port at an index of getInputNames or getOutputNames failed to open: whether
        another program holds it (Backend::isHeldByAnotherProgram). Any thread.
    */
    static bool isHeldByAnotherProgram (bool isInput, int index);

    /** Opens the last input port of that name in the system's list that opens, and checks that
        the port that opened carries the name: the list may change between the listing and the
        open, and a port that appears ahead of the wanted one moves it to another index. Another
        port that opened instead is closed unused and the ports are listed again, a few times at
        most. Null when no port of that name opens. Any thread.
        When none opens and heldByAnotherProgram is given, it is set to whether a port of that
        name failed because another program holds it.
    */
    static std::unique_ptr<Input> openInputNamed (const juce::String& name, Input::Callback* callback, bool* heldByAnotherProgram = nullptr);

    /** Opens the last output port of that name that opens, checked as openInputNamed checks an
        input, and tells as it does whether another program holds the port. Any thread.
    */
    static std::unique_ptr<Output> openOutputNamed (const juce::String& name, bool* heldByAnotherProgram = nullptr);

    /** Installs a backend for the whole process, not owned; null goes back to JUCE's ports.
        Ports already open stay with the backend that opened them, so the caller keeps a
        backend alive until every port it opened has been closed.
    */
    static void setBackend (Backend* newBackend);

private:
    MidiPortSystem() = delete;

    static Backend& getBackend();
};
