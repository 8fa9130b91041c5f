#include "WakeSignal.h"

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

WakeSignal::WakeSignal()
    : handle (CreateSemaphoreW (nullptr, 0, 0x7fffffff, nullptr))
{
    jassert (handle != nullptr);
}

WakeSignal::~WakeSignal() { CloseHandle (handle); }

void WakeSignal::signal() noexcept { ReleaseSemaphore (handle, 1, nullptr); }

void WakeSignal::wait() noexcept { WaitForSingleObject (handle, INFINITE); }

#else
#include <cerrno>

WakeSignal::WakeSignal()
{
    [[maybe_unused]] const auto result = sem_init (&semaphore, 0, 0);
    jassert (result == 0);
}

WakeSignal::~WakeSignal() { sem_destroy (&semaphore); }

void WakeSignal::signal() noexcept { sem_post (&semaphore); }

void WakeSignal::wait() noexcept
{
    // A signal handler may interrupt the wait; only a real post ends it.
    while (sem_wait (&semaphore) != 0 && errno == EINTR)
    {
    }
}
#endif
