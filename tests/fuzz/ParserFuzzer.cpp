// Fuzzes the parser of the console's messages through a real instance: any sequence of MIDI
// messages a driver can deliver, split across any number of timer ticks, for any model and any
// channel (none, negative, beyond the console's strips), mixed with host changes and model
// switches. Whatever arrives, the instance must not crash; what it answers must be well-formed
// on the wire; its parameters must stay in range and agree with the strip it is linked to; and
// the host's change gestures must open and close strictly in turn.

#include "../support/DeviceInput.h"
#include "../support/HostRecorder.h"
#include "../support/LinkedConsole.h"
#include "FuzzEnvironment.h"

namespace
{
    // The console on its ports, kept for the life of the process as the environment is; each
    // input links a fresh instance to it and destroys it at the end.
    LinkedConsole* linked = nullptr;

    const char* const models[] = { "Tarn16", "Tarn48-XL", "Mira", "" };

    const int interestingChannels[] = { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 24, -1, -7, -8, 1000,
                                        std::numeric_limits<int>::min(), std::numeric_limits<int>::min() + 1,
                                        std::numeric_limits<int>::max() };

    /** The fuzzer's bytes, read front to back; zeros once they run out. */
    class Reader
    {
    public:
        Reader (const juce::uint8* d, size_t s)
            : data (d)
            , size (s)
        {
        }

        bool isExhausted() const { return position >= size; }
        juce::uint8 next() { return position < size ? data[position++] : 0; }

    private:
        const juce::uint8* data;
        size_t size, position = 0;
    };

    /** Cuts a stream of bytes into complete messages as a MIDI driver does: a status byte
        starts a message, data bytes fill it, running status repeats the last channel status,
        system exclusive runs to its end byte or the next status, real-time bytes stand alone
        and stray data bytes are dropped.
    */
    class DriverStream
    {
    public:
        void push (juce::uint8 byte, std::vector<juce::MidiMessage>& out)
        {
            if (byte >= 0xf8)
            {
                out.push_back (juce::MidiMessage (byte));
                return;
            }

            if (byte >= 0x80)
            {
                finishSysEx (byte == 0xf7, out);

                if (byte == 0xf7)
                    return;

                pending.assign (1, byte);
                runningStatus = byte < 0xf0 ? byte : 0;

                if (byte == 0xf0)
                    inSysEx = true;
                else
                    completeIfFull (out);

                return;
            }

            if (inSysEx)
            {
                pending.push_back (byte);
                return;
            }

            if (pending.empty())
            {
                if (runningStatus == 0)
                    return;

                pending.assign (1, runningStatus);
            }

            pending.push_back (byte);
            completeIfFull (out);
        }

    private:
        void completeIfFull (std::vector<juce::MidiMessage>& out)
        {
            if ((int) pending.size() == juce::MidiMessage::getMessageLengthFromFirstByte (pending.front()))
            {
                out.push_back (juce::MidiMessage (pending.data(), (int) pending.size()));
                pending.clear();
            }
        }

        void finishSysEx (bool withEndByte, std::vector<juce::MidiMessage>& out)
        {
            if (! inSysEx)
                return;

            if (withEndByte)
                pending.push_back (0xf7);

            out.push_back (juce::MidiMessage (pending.data(), (int) pending.size()));
            pending.clear();
            inSysEx = false;
        }

        std::vector<juce::uint8> pending;
        juce::uint8 runningStatus = 0;
        bool inSysEx = false;
    };

    [[noreturn]] void fail (const juce::String& what)
    {
        std::fprintf (stderr, "ParserFuzzer: %s\n", what.toRawUTF8());
        __builtin_trap();
    }

    /** The host must hear a gesture begin only when none is open, and end only an open one. */
    void checkGestures (const HostRecorder& host, bool mustBeClosed)
    {
        int open[2] = { 0, 0 };

        for (const auto& e : host.getEvents())
        {
            if (e.index < 0 || e.index > 1)
                fail ("an event for parameter " + juce::String (e.index));

            if (e.kind == HostRecorder::Event::Kind::begin && open[e.index]++ != 0)
                fail ("a gesture began while one was open, parameter " + juce::String (e.index));

            if (e.kind == HostRecorder::Event::Kind::end && --open[e.index] != 0)
                fail ("a gesture ended that was not open, parameter " + juce::String (e.index));

            if (e.kind == HostRecorder::Event::Kind::value && ! (e.value >= 0.0f && e.value <= 1.0f))
                fail ("the host was told a value out of range: " + juce::String (e.value));
        }

        if (mustBeClosed && (open[0] != 0 || open[1] != 0))
            fail ("a gesture is left open");
    }

    void checkInstance (QuillmereAudioProcessor& p, const HostRecorder& host)
    {
        const auto& console = linked->console;

        if (! console.getMalformedTraffic().isEmpty())
            fail ("malformed traffic: " + console.getMalformedTraffic().joinIntoString ("; "));

        const auto level = p.faderParameter->getValue();
        const auto mute = p.muteParameter->getValue();

        if (! (level >= 0.0f && level <= 1.0f) || (mute != 0.0f && mute != 1.0f))
            fail ("parameters out of range: " + juce::String (level) + ", " + juce::String (mute));

        // Every change reaches the strip at once, so the strip shows what the instance holds.
        const auto channel = p.channel.load();

        if (p.device != nullptr && channel >= 1)
        {
            const auto strip = console.getStrip ((channel - 1) % 8);

            if (strip.faderLevel != ConsoleSimulator::eightBitLevelOf (level) || strip.cut != (mute == 1.0f))
                fail ("strip " + juce::String ((channel - 1) % 8) + " shows " + juce::String (strip.faderLevel) + (strip.cut ? " cut" : "")
                      + ", the instance holds " + juce::String (ConsoleSimulator::eightBitLevelOf (level)) + (mute == 1.0f ? " cut" : ""));
        }

        checkGestures (host, false);
    }

    /** Hands a batch to the device as the timer does: straight to the device with the lock
        held, or through the instance's own queue and drain.
    */
    void tick (QuillmereAudioProcessor& p, std::vector<juce::MidiMessage>& batch, bool throughQueue)
    {
        if (throughQueue)
        {
            for (const auto& m : batch)
                p.handleIncomingMidiMessage (p.midiInput.get(), m);

            p.timerCallback();
        }
        else
        {
            juce::MidiBuffer buffer;

            for (const auto& m : batch)
                buffer.addEvent (m, 0);

            const juce::ScopedLock sl (p.linkLock);

            if (p.device != nullptr)
                testing_helpers::parseAndApply (*p.device, p.channel.load(), buffer);
        }

        batch.clear();
    }

    void setChannel (QuillmereAudioProcessor& p, Reader& in)
    {
        const auto choice = in.next();
        p.channel = (choice & 0x80) != 0 ? (int) (juce::int8) in.next()
                                         : interestingChannels[(size_t) choice % juce::numElementsInArray (interestingChannels)];
        p.sendAllToDevice();
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size);

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    startFuzzMessageManager();
    linked = new LinkedConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    Reader in (data, size);

    {
        // Linked with no channel, which sends nothing, until the input chooses one.
        auto& p = linked->link (models[in.next() % 3], 0);
        HostRecorder host (p);

        setChannel (p, in);
        checkInstance (p, host);

        DriverStream stream;
        std::vector<juce::MidiMessage> batch;

        while (! in.isExhausted())
        {
            switch (in.next() % 8)
            {
                case 0:
                case 1:
                case 2:
                    // Bytes as they come down the cable.
                    for (int n = in.next() % 16 + 1; --n >= 0 && ! in.isExhausted();)
                        stream.push (in.next(), batch);
                    break;

                case 3:
                {
                    // A controller on MIDI channel 1, the console's own vocabulary.
                    const auto number = in.next() & 0x7f;
                    batch.push_back (juce::MidiMessage::controllerEvent (1, number, in.next() & 0x7f));
                    break;
                }

                case 4:
                case 5:
                    tick (p, batch, (in.next() & 1) != 0);
                    checkInstance (p, host);
                    break;

                case 6:
                    setChannel (p, in);
                    checkInstance (p, host);
                    break;

                case 7:
                    // The host and the window meanwhile: automation, the mute, another model.
                    switch (in.next() % 3)
                    {
                        case 0:
                            p.faderParameter->setValue ((float) in.next() / 255.0f);
                            break;
                        case 1:
                            p.muteParameter->setValue (p.muteParameter->getValue() == 0.0f ? 1.0f : 0.0f);
                            break;
                        default:
                            p.setDevice (models[in.next() % 4]);
                            break;
                    }

                    checkInstance (p, host);
                    break;

                default:
                    break;
            }
        }

        tick (p, batch, false);
        checkInstance (p, host);

        // Without its device no gesture may stay open with the host.
        p.setDevice ({});
        checkGestures (host, true);
    }

    linked->instances.clear();
    linked->ports.clearSentBlocks();
    return 0;
}
