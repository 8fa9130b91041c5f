#include "Tarn48XLDevice.h"

Tarn48XLDevice::Tarn48XLDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange)
    : Tarn16Device (outboxToPostTo, parametersToChange)
{
}

juce::String Tarn48XLDevice::getModelName() { return "Tarn48-XL"; }

juce::String Tarn48XLDevice::getDefaultMidiInputName (int) { return "Tarn48-XL Automation"; }

juce::String Tarn48XLDevice::getDefaultMidiOutputName (int) { return "Tarn48-XL Automation"; }
