#include "MidiPortSystem.h"
#include "JuceMidiPortBackend.h"

namespace
{
    std::atomic<MidiPortSystem::Backend*> installedBackend { nullptr };
}

void MidiPortSystem::Output::sendMessageNow (const juce::MidiMessage& message)
{
    sendBlockNow (message.getRawData(), message.getRawDataSize());
}

MidiPortSystem::Backend& MidiPortSystem::getBackend()
{
    if (auto* backend = installedBackend.load())
        return *backend;

    static JuceMidiPortBackend juceBackend;
    return juceBackend;
}

void MidiPortSystem::setBackend (Backend* newBackend)
{
    installedBackend.store (newBackend);
}

juce::StringArray MidiPortSystem::getInputNames()
{
    return getBackend().getInputNames();
}

juce::StringArray MidiPortSystem::getOutputNames()
{
    return getBackend().getOutputNames();
}

std::unique_ptr<MidiPortSystem::Input> MidiPortSystem::openInput (int index, Input::Callback* callback)
{
    if (index < 0 || callback == nullptr)
        return nullptr;

    return getBackend().openInput (index, callback);
}

std::unique_ptr<MidiPortSystem::Output> MidiPortSystem::openOutput (int index)
{
    if (index < 0)
        return nullptr;

    return getBackend().openOutput (index);
}
