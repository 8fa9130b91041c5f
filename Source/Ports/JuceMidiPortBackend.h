#pragma once

#include "MidiPortSystem.h"
#include "SerialisedMidiPortBackend.h"

/** The system's MIDI ports, through JUCE's MidiInput and MidiOutput. Safe to use from any
    thread, which JUCE's MIDI classes are not on their own.

    JUCE keeps process-wide state behind its ports without a guard: on Linux one ALSA client,
    created and deleted with the first and last user and shared by every port, whose output
    buffer every SysEx send goes through; on Windows the list of open output handles, which
    opening and closing an output change, and, among the handles open on one input port, the
    port's shared collector. So on Linux every listing, opening, starting, stopping, closing and
    send, in any instance of this class, runs under one lock of the process. On Windows only
    opening and closing outputs take that lock, and an input's calls take a lock of its port:
    JUCE's long-message send waits for the driver without a limit, and a driver that serialises
    input and output (wine's does) makes an input's stop and close wait behind such a send, so
    sends, listings and inputs stay out of the process's lock, and a stuck interface holds up
    only the threads that use it. Opening and closing an output still take the lock, as JUCE's
    list of handles needs it: where the driver serialises those with a stuck send too, other
    outputs' opening and closing wait behind them, as they would wait in such a driver anyway.
    (JUCE closes a Windows input's device handle itself, later, in
    a timer on the message thread, outside any lock of ours; a driver that serialises that close
    with a stuck send holds up the message thread there.)

    On Linux, each open port also watches the sequencer's announcements, so that a port that
    went away and came back between two listings is known dead (isAlive).
*/
class JuceMidiPortBackend final : public MidiPortSystem::Backend
{
public:
    JuceMidiPortBackend();
    ~JuceMidiPortBackend() override;

    /** What JUCE's ports share without a guard on this system. */
    static constexpr SerialisedMidiPortBackend::Sharing sharing =
#if JUCE_WINDOWS
        SerialisedMidiPortBackend::Sharing::outputHandles;
#else
        SerialisedMidiPortBackend::Sharing::everything;
#endif

    /** Splits a block of bytes into the complete MIDI messages it holds, in order, and calls
        the function with each one's start and length. A system-exclusive message runs up to
        and including its end byte; bytes that begin no message are skipped.

        The outputs hand each channel message to JUCE on its own: JUCE's Windows output writes
        anything longer than three bytes as a long message and polls the driver with Sleep (1)
        until it is done, while a short message goes straight to the driver.
    */
    template<typename Fn>
    static void forEachMessage (const juce::uint8* data, int numBytes, Fn&& fn)
    {
        int start = 0;

        while (start < numBytes)
        {
            const auto status = data[start];

            if (status < 0x80)
            {
                ++start; // a data byte outside any message
                continue;
            }

            int length = 1;

            if (status == 0xf0)
            {
                while (start + length < numBytes && data[start + length - 1] != 0xf7)
                    ++length;
            }
            else
            {
                length = juce::MidiMessage::getMessageLengthFromFirstByte (status);
            }

            length = std::min (length, numBytes - start);
            fn (data + start, length);
            start += length;
        }
    }

    juce::StringArray getInputNames() override;
    juce::StringArray getOutputNames() override;
    std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback* callback) override;
    std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override;

private:
    std::unique_ptr<MidiPortSystem::Backend> serialised;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiPortBackend)
};
