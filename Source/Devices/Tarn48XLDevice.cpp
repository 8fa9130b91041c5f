#include "Tarn48XLDevice.h"

Tarn48XLDevice::Tarn48XLDevice (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange)
    : HuiDevice (DeviceCatalogue::tarn48XL, outboxToPostTo, parametersToChange)
{
}
