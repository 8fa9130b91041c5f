#pragma once

#include "HuiDevice.h"

/** The Tarn16 console: 8 channel strips with scribble strips, reached through the ports
    "Tarn16 Automation" (DeviceCatalogue::tarn16).
*/
class Tarn16Device final : public HuiDevice
{
public:
    /** The outbox and the parameters outlive the device. */
    Tarn16Device (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Tarn16Device)
};
