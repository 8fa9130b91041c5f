#pragma once

#include "VirtualMidiPortBackend.h"

#include <map>

/** A model of a console's automation system, written from the wire format alone.

    It owns one pair of named virtual ports: the console's output, which instances open as
    their MIDI input ("from the console"), and its input, which instances open as their MIDI
    output. It reads every byte instances send and keeps, per zone, the fader position, the
    CUT state and the scribble-strip text it has been sent, counting the messages of each
    kind. Anything that is not a well-formed message of the console's vocabulary is rejected
    and recorded: a data byte of 0x80 or more, a message cut short, a status other than a
    controller change on MIDI channel 1, an unknown controller, a low fader half without its
    high half, and a system-exclusive message that is not the 28-byte strip message.

    It can also play a person at the desk: touch a fader, move it, release it, press and
    release a CUT key, on any zone. Each message goes out as its own delivery on the
    backend's driver thread; a pair can be split across the instances' timer ticks.
*/
class ConsoleSimulator final
{
public:
    struct Strip
    {
        int faderHigh = -1;  // the last fader controller's value (7 high bits of the 8-bit level)
        int faderLevel = -1; // the 8-bit level of the last complete fader message, -1 before any
        bool cut = false;
        juce::String text; // the scribble strip's text
        int levelMessages = 0;
        int muteMessages = 0;
        int nameMessages = 0;
    };

    /** Adds the ports to the backend's lists: an input port and an output port, both named
        portName, as a console's driver shows them.
    */
    ConsoleSimulator (VirtualMidiPortBackend& backend, const juce::String& portName);

    const juce::String& getPortName() const { return portName; }

    /** What a strip shows, once the ports' senders have written what instances posted. */
    Strip getStrip (int zone) const;

    /** Everything rejected so far, one line per fault. */
    juce::StringArray getMalformedTraffic() const;

    /** Total messages of each kind received. */
    int getTotalMessages() const;

    // The person at the desk. Positions are the console's 14-bit fader positions.
    void touch (int zone);
    void moveTo (int zone, int position);
    void release (int zone);
    void pressCut (int zone);
    void releaseCut (int zone);

    /** Sends raw messages as the console would, each a delivery of its own. */
    void sendRaw (const std::vector<juce::MidiMessage>& messages);

    /** Sends the two halves of a pair with a pause between them, so that instances' timers
        see them in different ticks.
    */
    void sendPairAcrossTicks (const juce::MidiMessage& first, const juce::MidiMessage& second, int pauseMs = 45);

    /** Waits until every message the desk sent has been handed to the instances. */
    void waitUntilDelivered();

    /** The 8-bit level that a normalised level becomes on the wire, for comparisons. */
    static int eightBitLevelOf (float level);

private:
    struct State;

    VirtualMidiPortBackend& backend;
    const juce::String portName;
    std::shared_ptr<State> state;
};
