#include "QuillmereBaseDevice.h"

#include "../Parameters/HostValueHandoff.h"

QuillmereBaseDevice::QuillmereBaseDevice (const StripParameters& parametersToChange)
    : parameters (parametersToChange)
{
    for (auto index : allParameterIndices)
        parameters[index].changeManager->addChangeSource (this);
}

QuillmereBaseDevice::~QuillmereBaseDevice()
{
    for (auto index : allParameterIndices)
        parameters[index].changeManager->removeChangeSource (this);
}

void QuillmereBaseDevice::applyParameterChanges (const ParameterChanges& changes)
{
    for (const auto& change : changes)
    {
        auto& parameter = parameters[change.parameterIndex];

        switch (change.kind)
        {
            case ParameterChange::Kind::beginGesture:
                parameter.changeManager->beginChange (this);
                break;

            case ParameterChange::Kind::endGesture:
                parameter.changeManager->endChange (this);
                break;

            case ParameterChange::Kind::setValue:
                if (change.value != parameter.getValue())
                    parameter.setValueNotifyingHost (change.value);
                break;

            case ParameterChange::Kind::toggle:
                parameter.setValueNotifyingHost (parameter.getValue() == 0.0f ? 1.0f : 0.0f);
                break;
        }
    }
}

void QuillmereBaseDevice::handOverParameterChanges (const ParameterChanges& changes, HostValueHandoff& handoff)
{
    for (const auto& change : changes)
    {
        auto& parameter = parameters[change.parameterIndex];

        switch (change.kind)
        {
            case ParameterChange::Kind::beginGesture:
                break;

            case ParameterChange::Kind::endGesture:
                parameter.changeManager->endChange (this);
                break;

            case ParameterChange::Kind::setValue:
                handoff.post (toListIndex (change.parameterIndex), change.value);
                break;

            case ParameterChange::Kind::toggle:
                handoff.postToggle (toListIndex (change.parameterIndex), parameter);
                break;
        }
    }
}
