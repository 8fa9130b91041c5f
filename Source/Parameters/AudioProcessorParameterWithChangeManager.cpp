#include "AudioProcessorParameterWithChangeManager.h"

AudioProcessorParameterWithChangeManager::ChangeManager::ChangeManager (AudioProcessorParameterWithChangeManager& ownerToReport)
    : owner (ownerToReport)
{
}

void AudioProcessorParameterWithChangeManager::ChangeManager::addChangeSource (void* source)
{
    const juce::ScopedLock sl (sourcesLock);
    sources.add ({ source, false });
}

void AudioProcessorParameterWithChangeManager::ChangeManager::removeChangeSource (void* source)
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

    // A source removed while active would otherwise hold the host's gesture open for ever,
    // and a host in touch mode would keep overwriting automation.
    updateGesture();
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
    const juce::ScopedLock sl (sourcesLock);

    for (auto& entry : sources)
    {
        if (entry.source == source)
        {
            entry.active = shouldBeActive;
            updateGesture();
            return;
        }
    }
}

void AudioProcessorParameterWithChangeManager::ChangeManager::updateGesture()
{
    const auto any = std::any_of (sources.begin(), sources.end(), [] (const SourceState& s)
                                  { return s.active; });

    if (any == anyActive)
        return;

    // The lock stays held while the host hears of it, so begin and end always reach the host
    // in the order in which the sources' states changed.
    if (any)
        owner.beginChangeGesture();
    else
        owner.endChangeGesture();

    anyActive = any;
}

AudioProcessorParameterWithChangeManager::AudioProcessorParameterWithChangeManager (const juce::String& parameterID, const juce::String& parameterName)
    : juce::AudioProcessorParameterWithID (juce::ParameterID (parameterID), parameterName)
    , changeManager (std::make_unique<ChangeManager> (*this))
{
}

AudioProcessorParameterWithChangeManager::~AudioProcessorParameterWithChangeManager() = default;
