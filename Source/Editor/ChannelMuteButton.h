#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** The CUT key, drawn from four images: dark or lit (the toggle state, which the editor sets
    from the mute parameter), each plain or highlighted while the pointer is over it or it
    is held down.

    It also tells whether a pointer is holding it down. The framework shows a key pressed for
    other reasons too: after a release that came before the pressed key was ever painted (a
    tap, or any click while the message thread is busy) and for a click that no pointer made
    (an accessibility client's press), it flashes the pressed state briefly. Only a pressed
    state while isHeldByPointer is a press of the key.
*/
class ChannelMuteButton final : public juce::Button
{
public:
    ChannelMuteButton();

    juce::Image offImage, offHighlightedImage, onImage, onHighlightedImage;

    void paintButton (juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void mouseDown (const juce::MouseEvent& event) override;
    void mouseUp (const juce::MouseEvent& event) override;

    /** True from a pointer's press on the key until its release, wherever the pointer is
        meanwhile.
    */
    bool isHeldByPointer() const noexcept { return heldByPointer; }

    /** True while the key handles a pointer's release, so also while it tells its listeners
        of the click that the release completes.
    */
    bool isReleasingPointer() const noexcept { return releasingPointer; }

private:
    bool heldByPointer = false, releasingPointer = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChannelMuteButton)
};
