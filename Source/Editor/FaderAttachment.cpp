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
    level.setValueNotifyingHost ((float) slider->getValue());
}

void FaderAttachment::sliderDragStarted (juce::Slider*)
{
    level.changeManager->beginChange (this);
}

void FaderAttachment::sliderDragEnded (juce::Slider*)
{
    level.changeManager->endChange (this);
}
