#pragma once

#include "../Ports/ConsoleOutbox.h"
#include "QuillmereBaseDevice.h"

/** The HUI vocabulary that the Tarn and Mira consoles share, for one device.

    Builds the level, mute and scribble-strip messages and posts them to the processor's
    outbox, which it is given when it is made (and whose level cache keeps repeats off the
    wire), and parses the console's controller pairs into level changes, touch and release of
    the fader, and presses and releases of the CUT key. Every controller message is a
    controller change on MIDI channel 1; a channel strip is addressed by its zone,
    (channel - 1) mod 8.
*/
class HuiChannelProtocol final
{
public:
    /** The outbox that every message goes to; not owned, and it outlives the protocol. */
    explicit HuiChannelProtocol (ConsoleOutbox& outboxToPostTo);
    ~HuiChannelProtocol();

    /** The zone of a channel, 0 to 7; -1 for channels below 1, which address no strip. */
    static int zoneForChannel (int channel) noexcept;

    /** The 8-bit level of a normalised level. Levels outside 0.0 to 1.0 are clamped and NaN
        counts as 0.0, so the message never carries a data byte of 0x80 or more.
    */
    static int levelToEightBits (float level) noexcept;

    /** The level that a 14-bit fader position from the console stands for. */
    static float positionToLevel (int position) noexcept;

    static juce::MidiMessage makeLevelMessage (int zone, int eightBitLevel);
    static juce::MidiMessage makeMuteMessage (int zone, bool muted);

    /** The 28-byte scribble-strip message. Characters outside printable ASCII are written as
        '?', so that no byte of the text can end the message early at the console; the text
        is cut to 18 bytes and always followed by at least one zero.
    */
    static juce::MidiMessage makeChannelNameMessage (int zone, const juce::String& name);

    /** Posts the level message for the channel to the outbox, which writes it
        unless it repeats, for the same channel, the last level the console received.
        Any thread; no lock, no allocation.
    */
    void sendLevel (int channel, float level);

    /** Posts the mute message; every call is written unless a newer one replaces it first. */
    void sendMute (int channel, bool muted);

    /** Posts the channel name message, as the mute. */
    void sendChannelName (int channel, const juce::String& name);

    /** Parses one batch of the console's messages for a channel into what they ask of the
        parameters. Message thread.
    */
    QuillmereBaseDevice::ParameterChanges parseIncomingMidi (int channel, const juce::MidiBuffer& messages);

private:
    void setTouching (bool shouldBeTouching, QuillmereBaseDevice::ParameterChanges& changes);

    ConsoleOutbox& outbox;

    // The incoming parser's state.
    bool touching = false;
    int lastIncomingChannel = 0;
    std::unique_ptr<juce::MidiMessage> pendingMessage;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HuiChannelProtocol)
};
