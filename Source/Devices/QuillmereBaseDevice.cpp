#include "QuillmereBaseDevice.h"

#include "../Parameters/AudioProcessorParameterWithChangeManager.h"
#include "../Parameters/HostValueHandoff.h"
#include "../QuillmereAudioProcessor.h"

namespace
{
    template<typename Fn>
    void forEachManagedParameter (QuillmereAudioProcessor& processor, Fn&& fn)
    {
        for (auto* parameter : processor.getParameters())
            if (auto* managed = dynamic_cast<AudioProcessorParameterWithChangeManager*> (parameter))
                fn (*managed->changeManager);
    }
}

QuillmereBaseDevice::QuillmereBaseDevice (QuillmereAudioProcessor& owner)
    : processor (&owner)
{
    forEachManagedParameter (owner, [this] (auto& manager)
                             { manager.addChangeSource (this); });
}

QuillmereBaseDevice::~QuillmereBaseDevice()
{
    forEachManagedParameter (*processor, [this] (auto& manager)
                             { manager.removeChangeSource (this); });
}

void QuillmereBaseDevice::sendChannelName (int, const juce::String&) {}

void QuillmereBaseDevice::applyParameterChanges (const ParameterChanges& changes)
{
    for (const auto& change : changes)
    {
        auto* parameter = getParameter (change.parameterIndex);

        if (parameter == nullptr)
            continue;

        switch (change.kind)
        {
            case ParameterChange::Kind::beginGesture:
                parameter->changeManager->beginChange (this);
                break;

            case ParameterChange::Kind::endGesture:
                parameter->changeManager->endChange (this);
                break;

            case ParameterChange::Kind::setValue:
                if (change.value != parameter->getValue())
                    parameter->setValueNotifyingHost (change.value);
                break;

            case ParameterChange::Kind::toggle:
                parameter->setValueNotifyingHost (parameter->getValue() == 0.0f ? 1.0f : 0.0f);
                break;
        }
    }
}

void QuillmereBaseDevice::handOverParameterChanges (const ParameterChanges& changes, HostValueHandoff& handoff)
{
    for (const auto& change : changes)
    {
        auto* parameter = getParameter (change.parameterIndex);

        if (parameter == nullptr)
            continue;

        switch (change.kind)
        {
            case ParameterChange::Kind::beginGesture:
                break;

            case ParameterChange::Kind::endGesture:
                parameter->changeManager->endChange (this);
                break;

            case ParameterChange::Kind::setValue:
                handoff.post (change.parameterIndex, change.value);
                break;

            case ParameterChange::Kind::toggle:
                handoff.postToggle (change.parameterIndex, *parameter);
                break;
        }
    }
}

juce::String QuillmereBaseDevice::getDefaultMidiInputName (int) { return {}; }

juce::String QuillmereBaseDevice::getDefaultMidiOutputName (int) { return {}; }

bool QuillmereBaseDevice::isPortPresent() { return false; }

ConsoleOutbox& QuillmereBaseDevice::getOutbox() const { return processor->outbox; }

AudioProcessorParameterWithChangeManager* QuillmereBaseDevice::getParameter (int index) const
{
    return AudioProcessorParameterWithChangeManager::atIndex (*processor, index);
}
