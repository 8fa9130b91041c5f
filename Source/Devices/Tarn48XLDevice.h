#pragma once

#include "HuiDevice.h"

/** The Tarn48-XL console: a Tarn16 in every respect but its names; its ports are
    "Tarn48-XL Automation" (DeviceCatalogue::tarn48XL).
*/
class Tarn48XLDevice final : public HuiDevice
{
public:
    /** The outbox and the parameters outlive the device. */
    Tarn48XLDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Tarn48XLDevice)
};
