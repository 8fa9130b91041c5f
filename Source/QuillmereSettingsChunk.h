#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/** The translation between an instance's settings and the chunk the host keeps in its
    project: one QUILLMERESETTINGS element with no children, framed by JUCE's
    AudioProcessor::copyXmlToBinary. It only translates; applying the settings to an instance
    is the processor's business.

    A chunk may be damaged or edited by hand, so every attribute is optional: the settings say
    which ones the chunk held, and the processor keeps its current value for the others.

    Threads: both operations touch no shared state and run on any thread, the host's state
    thread included; neither is meant for a real-time thread, as both allocate.
*/
class QuillmereSettingsChunk final
{
public:
    /** The settings a chunk holds, one member per attribute, in the order they are written.
        An empty member stands for an absent attribute; an empty string is present. Members
        an initialiser leaves out are absent.
    */
    struct Settings
    {
        /** "midiInName": the input port the instance wants, open or not. */
        std::optional<juce::String> midiInName {};

        /** "midiOutName": the output port the instance wants, open or not. */
        std::optional<juce::String> midiOutName {};

        /** "fader": the level parameter's value, written as a double. A level that is no
            number (NaN) is written and read as 0, which is what the console is sent for it.
        */
        std::optional<float> level {};

        /** "cut": the mute, written as 1 or 0; any number that is not zero as a float reads as muted. */
        std::optional<bool> muted {};

        /** "channel": the linked channel strip, from 1; 0 while none is chosen. */
        std::optional<int> channel {};

        /** "channelName": the name on the console's scribble strip. */
        std::optional<juce::String> channelName {};

        /** "deviceName": the console's model name; empty asks for no device. */
        std::optional<juce::String> modelName {};

        /** "channelNameFollowsTrack": the channel name is the host's track name, fitted to the
            strip, and follows it when the track is renamed; written as 1 or 0, read as the
            mute is. Without it a name is one the user typed, as in every project saved before
            the name could follow the track.
        */
        std::optional<bool> nameFollowsTrack {};

        /** Member by member; levels compare as floats do, so a NaN level is unequal to all. */
        bool operator== (const Settings& other) const;
        bool operator!= (const Settings& other) const;
    };

    /** The chunk of these settings, the members that hold a value written as attributes in
        the order of Settings and the others left out.
    */
    static juce::MemoryBlock write (const Settings& settings);

    /** The settings a chunk holds, or nothing if the block is not such a chunk: not JUCE's
        framing of XML in valid UTF-8, not XML, or another tag (compared with letter case).
        Numbers are read as JUCE's XML getters read them, so a text that is no number reads
        as 0; a channel beyond the int range wraps instead of overflowing.
    */
    static std::optional<Settings> read (const void* data, int sizeInBytes);

    QuillmereSettingsChunk() = delete;
};
