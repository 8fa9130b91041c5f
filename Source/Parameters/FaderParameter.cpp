#include "FaderParameter.h"

FaderParameter::FaderParameter (const juce::String& parameterID)
    : AudioProcessorParameterWithChangeManager (parameterID, "Level")
{
}

float FaderParameter::getValue() const
{
    return value.load();
}

void FaderParameter::setValue (float newValue)
{
    value.store (newValue);
    notifyListeners();
}

float FaderParameter::getDefaultValue() const
{
    return 0.0f;
}

juce::String FaderParameter::getName (int) const
{
    return "Level";
}

juce::String FaderParameter::getLabel() const
{
    return {};
}

float FaderParameter::getValueForText (const juce::String& text) const
{
    return text.getFloatValue();
}
