#include "BooleanParameter.h"

BooleanParameter::BooleanParameter (const juce::String& parameterID)
    : AudioProcessorParameterWithChangeManager (parameterID, "Cut")
{
}

float BooleanParameter::getValue() const
{
    return value.load() ? 1.0f : 0.0f;
}

void BooleanParameter::setValue (float newValue)
{
    value.store (newValue != 0.0f);
    notifyListeners();
}

float BooleanParameter::getDefaultValue() const
{
    return 0.0f;
}

juce::String BooleanParameter::getName (int) const
{
    return "Cut";
}

juce::String BooleanParameter::getLabel() const
{
    return {};
}

int BooleanParameter::getNumSteps() const
{
    return 2;
}

juce::String BooleanParameter::getText (float normalisedValue, int) const
{
    return normalisedValue == 1.0f ? "On" : "Off";
}

float BooleanParameter::getValueForText (const juce::String& text) const
{
    const auto lower = text.toLowerCase();
    return (lower == "on" || lower == "1") ? 1.0f : 0.0f;
}
