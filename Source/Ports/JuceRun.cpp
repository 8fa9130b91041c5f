#include "JuceRun.h"

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

/** Ends its run when JUCE deletes what it deletes at shutdown. */
class JuceRun::EndAtShutdown final : public juce::DeletedAtShutdown
{
public:
    EndAtShutdown()
        : run (new JuceRun())
    {
    }

    ~EndAtShutdown() override
    {
        {
            const std::lock_guard<std::mutex> lock (getCurrentLock());

            if (getCurrent() == this)
                getCurrent() = nullptr;
        }

        const std::lock_guard<std::mutex> lock (run->endLock);
        run->ended = true;
    }

    static std::mutex& getCurrentLock()
    {
        static std::mutex currentLock;
        return currentLock;
    }

    // Guarded by getCurrentLock.
    static EndAtShutdown*& getCurrent()
    {
        static EndAtShutdown* currentRun = nullptr;
        return currentRun;
    }

    const std::shared_ptr<JuceRun> run;
};

JuceRun::~JuceRun() = default;

std::shared_ptr<JuceRun> JuceRun::current()
{
    const std::lock_guard<std::mutex> lock (EndAtShutdown::getCurrentLock());
    auto& current = EndAtShutdown::getCurrent();

    if (current == nullptr)
        current = new EndAtShutdown(); // JUCE deletes it at shutdown

    return current->run;
}

void JuceRun::keepModuleLoaded()
{
#if JUCE_WINDOWS
    // Pinned, the module stays mapped whatever FreeLibrary calls follow, until the process ends.
    // Any address inside the module names it.
    static const char addressInModule = 0;
    HMODULE module = nullptr;
    const auto pinned = GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                            reinterpret_cast<LPCWSTR> (&addressInModule),
                                            &module);
    jassert (pinned);
    juce::ignoreUnused (pinned);
#endif
}
