#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The CUT key, drawn from four images: dark or lit (the toggle state, which the editor sets
    from the mute parameter), each plain or highlighted while the pointer is over it or it
    is held down.
*/
class ChannelMuteButton final : public juce::Button
{
public:
    ChannelMuteButton();

    juce::Image offImage, offHighlightedImage, onImage, onHighlightedImage;

    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChannelMuteButton)
};
