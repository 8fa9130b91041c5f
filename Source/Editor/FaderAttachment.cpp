#include "FaderAttachment.h"

FaderAttachment::FaderAttachment (FaderParameter& levelToControl, juce::Slider& faderToAttach)
    : level (levelToControl)
    , fader (faderToAttach)
{
    level.changeManager->addChangeSource (this);
    fader.addListener (this);
}

FaderAttachment::~FaderAttachment()
{
    fader.removeListener (this);
    level.changeManager->removeChangeSource (this);
}

void FaderAttachment::showParameterValue()
{
    fader.setValue ((double) level.getValue(), juce::dontSendNotification);
}

void FaderAttachment::sliderValueChanged (juce::Slider* slider)
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    level.setValueNotifyingHost ((float) slider->getValue());
}

void FaderAttachment::sliderDragStarted (juce::Slider*)
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    level.changeManager->beginChange (this);
}

void FaderAttachment::sliderDragEnded (juce::Slider*)
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    level.changeManager->endChange (this);
}
