#pragma once

#include "MidiPortSystem.h"

/** The system's MIDI ports, through JUCE's MidiInput and MidiOutput. */
class JuceMidiPortBackend final : public MidiPortSystem::Backend
{
public:
    JuceMidiPortBackend() = default;

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
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (JuceMidiPortBackend)
};
