#include "HostMessageThread.h"

// Constant-initialised, so that a wrapper's report made while the module's static objects are
// built is never overwritten by this initialiser.
std::atomic<bool> HostMessageThread::servedByHost { true };

bool HostMessageThread::isServedByHost() noexcept
{
    return servedByHost.load();
}

void HostMessageThread::setServedByHost (bool served) noexcept
{
    servedByHost.store (served);
}
