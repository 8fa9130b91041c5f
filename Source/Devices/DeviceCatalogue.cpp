#include "DeviceCatalogue.h"

#include "MiraDevice.h"
#include "Tarn16Device.h"
#include "Tarn48XLDevice.h"

namespace
{
    template<typename Device>
    std::unique_ptr<QuillmereBaseDevice> create (ConsoleOutbox& outbox, const StripParameters& parameters)
    {
        return std::make_unique<Device> (outbox, parameters);
    }
}

// The Tarn48-XL is a Tarn16 in every respect but its names. The Mira has 16 strips on the 8
// zones, no scribble strips, and suggests no port.
// clang-format off
//                                                 name         channels  strips  default input            default output           device
const DeviceCatalogue::Model DeviceCatalogue::tarn16   { "Tarn16",    8,        true,   "Tarn16 Automation",     "Tarn16 Automation",     create<Tarn16Device> };
const DeviceCatalogue::Model DeviceCatalogue::tarn48XL { "Tarn48-XL", 8,        true,   "Tarn48-XL Automation",  "Tarn48-XL Automation",  create<Tarn48XLDevice> };
const DeviceCatalogue::Model DeviceCatalogue::mira     { "Mira",      16,       false,  "",                      "",                      create<MiraDevice> };
// clang-format on

namespace
{
    // The catalogue's order.
    const DeviceCatalogue::Model* const models[] = { &DeviceCatalogue::tarn16, &DeviceCatalogue::tarn48XL, &DeviceCatalogue::mira };
}

int DeviceCatalogue::getNumModels() noexcept
{
    return juce::numElementsInArray (models);
}

const DeviceCatalogue::Model* DeviceCatalogue::getModel (int index) noexcept
{
    return juce::isPositiveAndBelow (index, getNumModels()) ? models[index] : nullptr;
}

const DeviceCatalogue::Model* DeviceCatalogue::findModel (const juce::String& name) noexcept
{
    for (const auto* model : models)
        if (name == model->name)
            return model;

    return nullptr;
}

juce::String DeviceCatalogue::getModelName (int index)
{
    const auto* model = getModel (index);
    return model != nullptr ? juce::String (model->name) : juce::String();
}
