#pragma once

#include "QuillmereBaseDevice.h"

/** The HUI vocabulary that the Tarn and Mira consoles share, for one device.

    Builds the level, mute and scribble-strip messages, keeps the 8-bit level cache that keeps
    repeats off the wire, and parses the console's controller pairs into level changes, touch
    and release of the fader, and presses and releases of the CUT key. Every controller
    message is a controller change on MIDI channel 1; a channel strip is addressed by its zone,
    (channel - 1) mod 8.
*/
class HuiChannelProtocol final
{
public:
    /** The device whose output is used and which is the gesture source; not owned. */
    explicit HuiChannelProtocol (QuillmereBaseDevice& deviceToServe);
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

    /** Sends the level unless its 8-bit value and the channel repeat the last one sent.
        Without an output port nothing is sent and nothing remembered.
        Runs on the thread that changed the level, with the processor's deviceLock held.
    */
    void sendLevel (int channel, float level);

    /** Sends the mute state on every call. */
    void sendMute (int channel, bool muted);

    /** Sends the channel name on every call. */
    void sendChannelName (int channel, const juce::String& name);

    /** Parses one batch of the console's messages for a channel. Message thread. */
    void handleIncomingMidi (int channel, const juce::MidiBuffer& messages);

private:
    void send (const juce::MidiMessage& message);
    void setTouching (bool shouldBeTouching);
    void toggleMute();

    QuillmereBaseDevice& device;

    // The incoming parser's state.
    bool touching = false;
    int lastIncomingChannel = 0;
    std::unique_ptr<juce::MidiMessage> pendingMessage;

    // The level cache.
    int lastSentLevelHigh = 255;
    bool levelNeverSent = true;
    int lastSentChannel = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (HuiChannelProtocol)
};
