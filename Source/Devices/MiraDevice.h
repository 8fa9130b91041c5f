#pragma once

#include "HuiDevice.h"

/** The Mira console: 16 channel strips on the 8 zones (channels 9 to 16 share zones 0 to 7
    with channels 1 to 8), no scribble strips and no suggested ports (DeviceCatalogue::mira).
*/
class MiraDevice final : public HuiDevice
{
public:
    /** The outbox and the parameters outlive the device. */
    MiraDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MiraDevice)
};
