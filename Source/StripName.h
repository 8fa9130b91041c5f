#pragma once

#include <juce_core/juce_core.h>

#include <optional>

/** The name on one channel strip and the rules by which it changes: either it follows the
    host's name of the track, fitted to the strip (ScribbleStripName), or it is a name the
    user typed, which renames of the track leave alone. An empty name always follows the track.

    It only decides: the caller sends the name to the console and tells the windows, as each
    operation's answer says, and keeps the instance's lock around it.

    Threads: no lock of its own and no I/O; the owner guards it (the processor's linkLock).
    Any thread but a real-time one, as the operations allocate.
*/
class StripName final
{
public:
    StripName() = default;

    /** The host reported the track's name. The name is kept as the track's; while the
        channel name follows the track it becomes the name fitted to the strip. A report
        without a name (the host does not know it) changes nothing.
        Returns whether the channel name changed: a rename the strip shows the same way does not.
    */
    bool trackRenamed (const juce::String& newTrackName);

    /** The user typed a name for the strip. A name wins over the track's from now on; an
        empty one goes back to following the track, and shows its name fitted to the strip, or
        stays empty while the host has reported none. Typing the name followed now keeps
        following it. Returns whether the name or its following the track changed.
    */
    bool typed (const juce::String& name);

    /** The name and follows attribute a project kept (an absent attribute as nullopt). Without
        the attribute the name is a typed one, as in projects saved before names could follow
        the track, unless it is empty; a followed name is the track's present name once the
        host has reported one, or else the stored name.
    */
    void restored (const juce::String& storedName, std::optional<bool> followsTrackAttribute);

    /** What a project keeps: the name, and the follows attribute, present (and true) only for
        a name that follows the track and is not empty, so that a typed name is saved as every
        name was before names could follow the track.
    */
    struct Saved
    {
        juce::String name;
        std::optional<bool> followsTrack;
    };

    Saved forSaving() const;

    /** The name the strip shows. */
    const juce::String& getName() const noexcept { return name; }

    /** The host's name of the track as it last reported it; empty while it has reported none
        (as VST2, LV2 and standalone hosts never do).
    */
    const juce::String& getTrackName() const noexcept { return trackName; }

    /** Whether the name is the track's name fitted to the strip and follows its renames,
        rather than one the user typed.
    */
    bool isFollowingTrack() const noexcept { return followsTrack; }

private:
    juce::String trackName, name;
    bool followsTrack = true;

    JUCE_LEAK_DETECTOR (StripName)
};
