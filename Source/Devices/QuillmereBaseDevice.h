#pragma once

#include "../Parameters/StripParameters.h"

class HostValueHandoff;

/** A console device: knows the MIDI vocabulary of one console model.

    The processor owns at most one. It forwards every change of level, mute and channel name
    to it, and hands it the console's messages from its 20 ms timer. The device turns the
    former into messages for the processor's outbox and the latter into parameter changes
    inside change gestures. The device is handed the processor's level and mute when it is
    made, and registers itself as a gesture source of both for its whole life.

    Threads: the send operations run on whichever thread changed the value, a host's audio
    thread included, with no lock held: they only post the message to the processor's outbox,
    whose port sender writes it. The processor parses the console's messages on the message
    thread with its linkLock held, and applies what they ask of the parameters after it has
    released the lock, since applying them tells the host, which may take locks of its own. The
    queries run on the message thread or on the thread that saves or restores state.
*/
class QuillmereBaseDevice
{
public:
    virtual ~QuillmereBaseDevice();

    /** Puts the channel strip's fader at a normalised level. */
    virtual void sendLevel (int channel, float level) = 0;

    /** Sets the channel strip's mute ("CUT"). */
    virtual void sendMute (int channel, bool muted) = 0;

    /** Shows a name on the channel strip's scribble strip, where the console has one. */
    virtual void sendChannelName (int channel, const juce::String& name) = 0;

    virtual juce::String getModelName() const = 0;
    virtual int getNumChannels() const = 0;

    /** One thing the console's messages ask of a parameter, with this device as the gesture
        source.
    */
    struct ParameterChange
    {
        enum class Kind
        {
            beginGesture,
            endGesture,
            setValue, // to value, where it differs from the parameter's value when applied
            toggle    // between 0 and 1, from the parameter's value when applied
        };

        Kind kind;
        ParameterIndex parameterIndex;
        float value = 0.0f;
    };

    using ParameterChanges = std::vector<ParameterChange>;

    /** Parses, in order, the messages that arrived since the last call and returns what those
        meant for the channel ask of the parameters, in order, without telling anybody.
        Message thread, from the processor's timer, with the processor's linkLock held.
    */
    virtual ParameterChanges parseIncomingMidi (int channel, const juce::MidiBuffer& messages) = 0;

    /** Makes the changes, telling the host of values and gestures. Message thread, with no
        lock of the processor's held.
    */
    void applyParameterChanges (const ParameterChanges& changes);

    /** Makes the changes where the message thread is not one the host serves, so that nothing
        tells the host on it: values are handed to the audio thread, which sets them and so tells
        the host; gestures that begin are left out, and those that end are only marked ended,
        so that a gesture the host heard begin hears its end once the host serves the message
        thread again, or when the instance goes. Message thread, with no lock of the processor's
        held.
    */
    void handOverParameterChanges (const ParameterChanges& changes, HostValueHandoff& handoff);

    virtual bool supportsChannelNames() const = 0;

    /** The name of the port through which the console is normally reached; empty when the
        model suggests none.
    */
    virtual juce::String getDefaultMidiInputName (int channel) const = 0;
    virtual juce::String getDefaultMidiOutputName (int channel) const = 0;

protected:
    /** The parameters outlive the device. */
    explicit QuillmereBaseDevice (const StripParameters& parametersToChange);

private:
    const StripParameters parameters;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillmereBaseDevice)
};
