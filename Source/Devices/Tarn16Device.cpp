#include "Tarn16Device.h"

Tarn16Device::Tarn16Device (ConsoleOutbox& outboxToPostTo, const StripParameters& parametersToChange)
    : HuiDevice (DeviceCatalogue::tarn16, outboxToPostTo, parametersToChange)
{
}
