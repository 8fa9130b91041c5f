#include "StripName.h"
#include "ScribbleStripName.h"

#include <utility>

bool StripName::trackRenamed (const juce::String& newTrackName)
{
    if (newTrackName.isEmpty())
        return false;

    trackName = newTrackName;

    if (! followsTrack)
        return false;

    const auto fitted = ScribbleStripName::fitTrackName (trackName);

    if (fitted == name)
        return false;

    name = fitted;
    return true;
}

bool StripName::typed (const juce::String& newName)
{
    const auto before = std::make_pair (name, followsTrack);

    if (newName.isEmpty())
    {
        followsTrack = true;
        name = ScribbleStripName::fitTrackName (trackName);
    }
    else if (! (followsTrack && newName == name))
    {
        followsTrack = false;
        name = newName;
    }

    return std::make_pair (name, followsTrack) != before;
}

void StripName::restored (const juce::String& storedName, std::optional<bool> followsTrackAttribute)
{
    followsTrack = followsTrackAttribute.value_or (false) || storedName.isEmpty();
    name = followsTrack && trackName.isNotEmpty() ? ScribbleStripName::fitTrackName (trackName) : storedName;
}

StripName::Saved StripName::forSaving() const
{
    Saved saved { name, std::nullopt };

    if (followsTrack && name.isNotEmpty())
        saved.followsTrack = true;

    return saved;
}
