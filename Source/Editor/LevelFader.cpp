#include "LevelFader.h"

LevelFader::LevelFader()
    : juce::Slider ("level")
{
}

void LevelFader::mouseDown (const juce::MouseEvent& event)
{
    holdingZeroMark = event.mods.isAltDown() && isEnabled();

    // Begins the drag as for any press, so that the reset lies inside its gesture.
    juce::Slider::mouseDown (event);

    if (holdingZeroMark)
        setValue (zeroMarkValue, juce::sendNotificationSync);
}

void LevelFader::mouseDrag (const juce::MouseEvent& event)
{
    if (! holdingZeroMark)
        juce::Slider::mouseDrag (event);
}

void LevelFader::mouseUp (const juce::MouseEvent& event)
{
    juce::Slider::mouseUp (event);
    holdingZeroMark = false;
}
