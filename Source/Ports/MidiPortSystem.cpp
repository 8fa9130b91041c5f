#include "MidiPortSystem.h"
#include "JuceMidiPortBackend.h"

namespace
{
    std::atomic<MidiPortSystem::Backend*> installedBackend { nullptr };

    /** Lists the ports, opens the last one of that name that opens, and keeps it if it carries
        the name; when another port opened at that index, the list has changed since it was read,
        and it is read again. When none opens, asks the backend whether another program holds one
        that failed, at once, while the index still leads to it.
    */
    template<typename List, typename Open>
    auto openNamed (const juce::String& name, List&& list, Open&& open, bool isInput, bool* heldByAnotherProgram) -> decltype (open (0))
    {
        constexpr int maxListings = 4;

        if (heldByAnotherProgram != nullptr)
            *heldByAnotherProgram = false;

        if (name.isEmpty())
            return nullptr;

        for (int listing = 0; listing < maxListings; ++listing)
        {
            const juce::StringArray names = list();
            bool listChanged = false;

            for (int i = names.size(); --i >= 0 && ! listChanged;)
            {
                if (names[i] != name)
                    continue;

                if (auto port = open (i))
                {
                    if (port->getName() == name)
                        return port;

                    listChanged = true;
                }
                else if (heldByAnotherProgram != nullptr && ! *heldByAnotherProgram)
                {
                    *heldByAnotherProgram = MidiPortSystem::isHeldByAnotherProgram (isInput, i);
                }
            }

            if (! listChanged)
                return nullptr;
        }

        return nullptr;
    }
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

juce::StringArray MidiPortSystem::getNames (PortDirection direction)
{
    return direction == PortDirection::input ? getInputNames() : getOutputNames();
}

bool MidiPortSystem::isListed (PortDirection direction, const juce::String& name)
{
    return getNames (direction).contains (name);
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

bool MidiPortSystem::isHeldByAnotherProgram (bool isInput, int index)
{
    return index >= 0 && getBackend().isHeldByAnotherProgram (isInput, index);
}

std::unique_ptr<MidiPortSystem::Input> MidiPortSystem::openInputNamed (const juce::String& name, Input::Callback* callback, bool* heldByAnotherProgram)
{
    return openNamed (
        name, []
        { return getInputNames(); },
        [callback] (int index)
        { return openInput (index, callback); },
        true,
        heldByAnotherProgram);
}

std::unique_ptr<MidiPortSystem::Output> MidiPortSystem::openOutputNamed (const juce::String& name, bool* heldByAnotherProgram)
{
    return openNamed (
        name, []
        { return getOutputNames(); },
        [] (int index)
        { return openOutput (index); },
        false,
        heldByAnotherProgram);
}
