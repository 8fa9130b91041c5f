#include "MiraDevice.h"

MiraDevice::MiraDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange)
    : HuiDevice (DeviceCatalogue::mira, outboxToPostTo, parametersToChange)
{
}
