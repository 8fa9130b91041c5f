#pragma once

#include "../Parameters/BooleanParameter.h"
#include "ChannelMuteButton.h"

/** Links the CUT key to the mute parameter, with the gestures told through the mute's change
    manager, which merges them with the console's.

    A pointer's press flips the mute at once, inside a gesture that lasts until the key is let
    go; the click that the release completes changes nothing more. A click that no pointer made
    (an accessibility client's press) flips the mute in one whole gesture of its own. The key
    never toggles itself: it lights when showParameterValue is called (the window does so on
    its poll), without notification.

    The attachment is a gesture source of the mute while it exists: going while the key is
    held, it ends its gesture. The key and the parameter must outlive it. Message thread only.
*/
class CutButtonAttachment final : private juce::Button::Listener
{
public:
    CutButtonAttachment (BooleanParameter& mute, ChannelMuteButton& key);
    ~CutButtonAttachment() override;

    /** Lights the key while the mute is on, telling nobody. */
    void showParameterValue();

private:
    void buttonClicked (juce::Button* button) override;
    void buttonStateChanged (juce::Button* button) override;

    /** Sets the mute to the other of its two values, telling the host. */
    void flip();

    BooleanParameter& mute;
    ChannelMuteButton& key;

    // Whether a pointer held the key down when its state last changed.
    bool keyWasDown = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CutButtonAttachment)
};
