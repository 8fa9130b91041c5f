#include "CutButtonAttachment.h"

CutButtonAttachment::CutButtonAttachment (BooleanParameter& muteToControl, ChannelMuteButton& keyToAttach)
    : mute (muteToControl)
    , key (keyToAttach)
{
    mute.changeManager->addChangeSource (this);
    key.addListener (this);
}

CutButtonAttachment::~CutButtonAttachment()
{
    key.removeListener (this);
    mute.changeManager->removeChangeSource (this);
}

void CutButtonAttachment::showParameterValue()
{
    key.setToggleState (mute.getValue() != 0.0f, juce::dontSendNotification);
}

void CutButtonAttachment::flip()
{
    mute.setValueNotifyingHost (mute.getValue() == 0.0f ? 1.0f : 0.0f);
}

void CutButtonAttachment::buttonClicked (juce::Button*)
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    // A pointer's click was counted when the key went down. A click that no pointer made (an
    // accessibility client's press) flips the mute in one whole gesture of its own.
    if (key.isReleasingPointer())
        return;

    mute.changeManager->beginChange (this);
    flip();
    mute.changeManager->endChange (this);
}

void CutButtonAttachment::buttonStateChanged (juce::Button*)
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    // Pressed only while a pointer holds the key: the pressed state that the framework flashes
    // after a quick release, or for a click without a pointer, is no second press.
    const auto down = key.getState() == juce::Button::buttonDown && key.isHeldByPointer();

    if (down != keyWasDown)
    {
        // The mute flips when the key goes down; releasing it ends the gesture.
        if (down)
        {
            mute.changeManager->beginChange (this);
            flip();
        }
        else
        {
            mute.changeManager->endChange (this);
        }
    }

    keyWasDown = down;
}
