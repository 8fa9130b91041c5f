#include "AudioProcessorParameterWithChangeManager.h"

#include "../HostMessageThread.h"

AudioProcessorParameterWithChangeManager::ChangeManager::ChangeManager (AudioProcessorParameterWithChangeManager& ownerToReport)
    : owner (ownerToReport)
{
    handoff->manager = this;
}

AudioProcessorParameterWithChangeManager::ChangeManager::~ChangeManager()
{
    std::unique_lock<std::mutex> lock (handoff->lock);
    handoff->manager = nullptr;

    // On the message thread a report can be under way only if the host deletes the instance
    // from inside its own callback, which waiting would never end.
    if (! juce::MessageManager::existsAndIsCurrentThread())
        handoff->idle.wait (lock, [this]
                            { return ! handoff->delivering; });
}

void AudioProcessorParameterWithChangeManager::ChangeManager::addChangeSource (void* source)
{
    const juce::ScopedLock sl (sourcesLock);
    sources.add ({ source, false });
}

void AudioProcessorParameterWithChangeManager::ChangeManager::removeChangeSource (void* source)
{
    {
        const juce::ScopedLock sl (sourcesLock);

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
        updateGestureLocked();
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
    const juce::ScopedLock sl (sourcesLock);
    return anyActive;
}

void AudioProcessorParameterWithChangeManager::ChangeManager::setActive (void* source, bool shouldBeActive)
{
    {
        const juce::ScopedLock sl (sourcesLock);

        for (auto& entry : sources)
        {
            if (entry.source == source)
            {
                entry.active = shouldBeActive;
                updateGestureLocked();
                break;
            }
        }
    }

    reportToHost();
}

void AudioProcessorParameterWithChangeManager::ChangeManager::updateGestureLocked()
{
    const auto any = std::any_of (sources.begin(), sources.end(), [] (const SourceState& s)
                                  { return s.active; });

    if (any == anyActive)
        return;

    anyActive = any;
    ++unreportedChanges;
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
        const juce::ScopedLock sl (sourcesLock);

        if (unreportedChanges == 0)
            return;
    }

    juce::MessageManager::callAsync ([h = handoff]
                                     {
        {
            const std::lock_guard<std::mutex> lock (h->lock);

            if (h->manager == nullptr)
                return;

            h->delivering = true;
        }

        // The manager waits in its destructor until this is done.
        if (HostMessageThread::isServedByHost())
            h->manager->reportPendingNow();

        {
            const std::lock_guard<std::mutex> lock (h->lock);
            h->delivering = false;
        }

        h->idle.notify_all(); });
}

void AudioProcessorParameterWithChangeManager::ChangeManager::reportPendingNow()
{
    // Changes alternate between begin and end, so telling them one by one from what the host
    // heard last keeps the host's order that of the sources' states, with no lock held while
    // the host listens. A call made from inside the host's callback finds the message thread
    // telling and leaves its change to the loop below.
    for (;;)
    {
        bool begin;

        {
            const juce::ScopedLock sl (sourcesLock);

            if (reporting || unreportedChanges == 0)
                return;

            reporting = true;
            --unreportedChanges;
            hostActive = ! hostActive;
            begin = hostActive;
        }

        if (begin)
            owner.beginChangeGesture();
        else
            owner.endChangeGesture();

        const juce::ScopedLock sl (sourcesLock);
        reporting = false;
    }
}

AudioProcessorParameterWithChangeManager::AudioProcessorParameterWithChangeManager (const juce::String& parameterID, const juce::String& parameterName)
    : juce::AudioProcessorParameterWithID (juce::ParameterID (parameterID), parameterName)
    , changeManager (std::make_unique<ChangeManager> (*this))
{
}

AudioProcessorParameterWithChangeManager::~AudioProcessorParameterWithChangeManager() = default;

AudioProcessorParameterWithChangeManager* AudioProcessorParameterWithChangeManager::atIndex (const juce::AudioProcessor& processor, int index)
{
    const auto& parameters = processor.getParameters();

    if (! juce::isPositiveAndBelow (index, parameters.size()))
        return nullptr;

    return dynamic_cast<AudioProcessorParameterWithChangeManager*> (parameters.getUnchecked (index));
}
