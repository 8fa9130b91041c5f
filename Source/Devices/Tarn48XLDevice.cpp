#include "Tarn48XLDevice.h"

Tarn48XLDevice::Tarn48XLDevice (QuillmereAudioProcessor& owner)
    : Tarn16Device (owner)
{
}

juce::String Tarn48XLDevice::getModelName() { return "Tarn48-XL"; }

juce::String Tarn48XLDevice::getDefaultMidiInputName (int) { return "Tarn48-XL Automation"; }

juce::String Tarn48XLDevice::getDefaultMidiOutputName (int) { return "Tarn48-XL Automation"; }
