#include "AudioProcessorParameterWithChangeManager.h"

#include "../HostMessageThread.h"

#include <functional>
#include <vector>

namespace
{
    /** The parameters whose change manager stopped waiting for a report stuck in the host: their
        memory stays until that report is done. Entries are few and short-lived.
    */
    struct HeldParameter
    {
        const void* parameter;

        // Hands the memory to the report if it is still under way; false if it is done.
        std::function<bool (void*)> leaveToReport;
    };

    std::mutex heldParametersLock;
    std::vector<HeldParameter>& getHeldParameters()
    {
        static std::vector<HeldParameter> held;
        return held;
    }
}

AudioProcessorParameterWithChangeManager::ChangeManager::ChangeManager (AudioProcessorParameterWithChangeManager& ownerToReport)
{
    state->owner = &ownerToReport;
}

AudioProcessorParameterWithChangeManager::ChangeManager::~ChangeManager()
{
    std::unique_lock<std::mutex> lock (state->lock);
    auto* parameter = std::exchange (state->owner, nullptr);

    // On the message thread a report can be under way only if the host deletes the instance
    // from inside its own callback, which waiting would never end.
    if (juce::MessageManager::existsAndIsCurrentThread() || ! state->delivering)
        return;

    const auto done = state->idle.wait_for (lock, std::chrono::milliseconds (reportWaitMs), [this]
                                            { return ! state->delivering; });

    if (done)
        return;

    // The report is in the host, which waits, most likely, for a lock that the thread deleting
    // the instance holds. When the host returns, JUCE's gesture call goes on in the parameter,
    // so the parameter's memory is left to the report, which releases it.
    lock.unlock();
    const std::lock_guard<std::mutex> heldLock (heldParametersLock);
    getHeldParameters().push_back ({ parameter, [s = state] (void* memory)
                                     {
                                         const std::lock_guard<std::mutex> l (s->lock);

                                         if (! s->delivering)
                                             return false;

                                         s->memoryToRelease = memory;
                                         return true;
                                     } });
}

void AudioProcessorParameterWithChangeManager::ChangeManager::addChangeSource (void* source)
{
    const std::lock_guard<std::mutex> lock (state->lock);
    state->sources.add ({ source, false });
}

void AudioProcessorParameterWithChangeManager::ChangeManager::removeChangeSource (void* source)
{
    {
        const std::lock_guard<std::mutex> lock (state->lock);
        auto& sources = state->sources;

        for (int i = 0; i < sources.size(); ++i)
        {
            if (sources.getReference (i).source == source)
            {
                sources.remove (i);
                break;
            }
        }

        // A source removed while active would otherwise hold the host's gesture open for
        // ever, and a host in touch mode would keep overwriting automation.
        updateGestureLocked (*state);
    }

    reportToHost();
}

void AudioProcessorParameterWithChangeManager::ChangeManager::beginChange (void* source)
{
    setActive (source, true);
}

void AudioProcessorParameterWithChangeManager::ChangeManager::endChange (void* source)
{
    setActive (source, false);
}

bool AudioProcessorParameterWithChangeManager::ChangeManager::isAnyActive() const
{
    const std::lock_guard<std::mutex> lock (state->lock);
    return state->anyActive;
}

void AudioProcessorParameterWithChangeManager::ChangeManager::setActive (void* source, bool shouldBeActive)
{
    {
        const std::lock_guard<std::mutex> lock (state->lock);

        for (auto& entry : state->sources)
        {
            if (entry.source == source)
            {
                entry.active = shouldBeActive;
                updateGestureLocked (*state);
                break;
            }
        }
    }

    reportToHost();
}

void AudioProcessorParameterWithChangeManager::ChangeManager::updateGestureLocked (State& s)
{
    const auto any = std::any_of (s.sources.begin(), s.sources.end(), [] (const SourceState& entry)
                                  { return entry.active; });

    if (any == s.anyActive)
        return;

    s.anyActive = any;
    ++s.unreportedChanges;
}

void AudioProcessorParameterWithChangeManager::ChangeManager::reportToHost()
{
    // Another thread leaves its change to the message thread. Without a message manager there
    // is no message thread to leave it to, and nobody else who could report at the same time.
    // A message thread that the host does not serve leaves it waiting: the host hears it once
    // it serves the message thread, or when the instance goes.
    if (auto* mm = juce::MessageManager::getInstanceWithoutCreating(); mm != nullptr && ! mm->isThisTheMessageThread())
        postReport();
    else if (HostMessageThread::isServedByHost())
        reportPendingNow();
}

void AudioProcessorParameterWithChangeManager::ChangeManager::postReport()
{
    {
        const std::lock_guard<std::mutex> lock (state->lock);

        if (state->unreportedChanges == 0)
            return;
    }

    juce::MessageManager::callAsync ([s = state]
                                     {
        {
            const std::lock_guard<std::mutex> lock (s->lock);

            if (s->owner == nullptr)
                return;

            s->delivering = true;
        }

        // The manager waits in its destructor until this is done, for a while.
        if (HostMessageThread::isServedByHost())
            reportPending (*s);

        void* release = nullptr;

        {
            const std::lock_guard<std::mutex> lock (s->lock);
            s->delivering = false;
            release = std::exchange (s->memoryToRelease, nullptr);
        }

        s->idle.notify_all();

        if (release != nullptr)
            ::operator delete (release); });
}

void AudioProcessorParameterWithChangeManager::ChangeManager::reportPendingNow()
{
    reportPending (*state);
}

void AudioProcessorParameterWithChangeManager::ChangeManager::reportPending (State& s)
{
    // Changes alternate between begin and end, so telling them one by one from what the host
    // heard last keeps the host's order that of the sources' states, with no lock held while
    // the host listens. A call made from inside the host's callback finds another telling and
    // leaves its change to that one's loop. Once the host returns, only the shared state is
    // touched.
    for (;;)
    {
        AudioProcessorParameterWithChangeManager* parameter = nullptr;
        bool begin = false;

        {
            const std::lock_guard<std::mutex> lock (s.lock);

            if (s.reporting || s.unreportedChanges == 0 || s.owner == nullptr)
                return;

            s.reporting = true;
            --s.unreportedChanges;
            s.hostActive = ! s.hostActive;
            begin = s.hostActive;
            parameter = s.owner;
        }

        if (begin)
            parameter->beginChangeGesture();
        else
            parameter->endChangeGesture();

        const std::lock_guard<std::mutex> lock (s.lock);
        s.reporting = false;
    }
}

AudioProcessorParameterWithChangeManager::AudioProcessorParameterWithChangeManager (const juce::String& parameterID, const juce::String& parameterName)
    : juce::AudioProcessorParameterWithID (juce::ParameterID (parameterID), parameterName)
    , changeManager (std::make_unique<ChangeManager> (*this))
{
}

void* AudioProcessorParameterWithChangeManager::operator new (std::size_t size)
{
    return ::operator new (size);
}

void AudioProcessorParameterWithChangeManager::operator delete (void* memory, std::size_t size) noexcept
{
    {
        const std::lock_guard<std::mutex> heldLock (heldParametersLock);
        auto& held = getHeldParameters();
        const auto* begin = static_cast<const char*> (memory);

        for (auto it = held.begin(); it != held.end(); ++it)
        {
            const auto* parameter = static_cast<const char*> (it->parameter);

            if (parameter >= begin && parameter < begin + size)
            {
                const auto leftToReport = it->leaveToReport (memory);
                held.erase (it);

                if (leftToReport)
                    return;

                break;
            }
        }
    }

    ::operator delete (memory);
}

AudioProcessorParameterWithChangeManager::~AudioProcessorParameterWithChangeManager() = default;
