#include "QuillmereAudioProcessor.h"
#include "HostMessageThread.h"
#include "QuillmereSettingsChunk.h"

#include "Devices/DeviceCatalogue.h"
#include "Editor/QuillmereAudioProcessorEditor.h"

namespace
{
    constexpr int drainIntervalMs = 20;
}

// JUCE's default buses, one stereo "Input" and one stereo "Output", but active from the start:
// the LV2 wrapper marks the ports of a bus that is inactive by default as optional, and a host
// may then see no audio ports at all or leave them unconnected. The VST2, VST3 and AAX wrappers
// choose their layout from the preferred channel configurations, whatever the buses start as.
QuillmereAudioProcessor::QuillmereAudioProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
    // Hosts store the parameters under their index, "0" and "1". LV2 names a parameter by a
    // Turtle name, which cannot start with a digit: both would become the same name there, so
    // LV2 gets words, which its hosts list in the same order.
    const auto forLv2 = wrapperType == wrapperType_LV2;

    auto fader = std::make_unique<FaderParameter> (forLv2 ? "level" : "0");
    faderParameter = fader.get();
    addParameter (fader.release());

    auto mute = std::make_unique<BooleanParameter> (forLv2 ? "mute" : "1");
    muteParameter = mute.get();
    addParameter (mute.release());

    faderParameter->addListener (this);
    muteParameter->addListener (this);

    // Registered for the instance's life; the watcher lists ports only while it watches.
    PortWatcher::addListener (this);
}

QuillmereAudioProcessor::~QuillmereAudioProcessor()
{
    // First, with no lock held: waits for a reconnection in progress on the watcher's thread.
    PortWatcher::removeListener (this);

    {
        // Blank the linked strip while the device still exists.
        const juce::ScopedLock sl (linkLock);
        sendChannelNameToDevice ({});
    }

    {
        std::shared_ptr<QuillmereBaseDevice> departing;

        {
            const juce::ScopedLock sl (linkLock);
            departing = deviceSlot.replace (nullptr);
        }

        // Ends the device's gestures, telling the host, with no lock held.
    }

    // On another thread than the message thread the device left the host's news of its gestures'
    // ends to the message thread, which would come too late: the host hears it now.
    faderParameter->changeManager->reportPendingNow();
    muteParameter->changeManager->reportPendingNow();

    // No input callback may arrive once the queue and its lock are gone.
    closeMidiInput();
    stopTimer();

    // The blank name, and whatever else waits, goes out before the port closes.
    const juce::ScopedLock sl (linkLock);
    closeMidiOutput();
}

//==============================================================================
const juce::String QuillmereAudioProcessor::getName() const { return "Quillmere"; }

void QuillmereAudioProcessor::prepareToPlay (double, int) {}

void QuillmereAudioProcessor::releaseResources() {}

void QuillmereAudioProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) { setWaitingValues(); }

void QuillmereAudioProcessor::processBlock (juce::AudioBuffer<double>&, juce::MidiBuffer&) { setWaitingValues(); }

void QuillmereAudioProcessor::processBlockBypassed (juce::AudioBuffer<float>&, juce::MidiBuffer&) { setWaitingValues(); }

void QuillmereAudioProcessor::processBlockBypassed (juce::AudioBuffer<double>&, juce::MidiBuffer&) { setWaitingValues(); }

void QuillmereAudioProcessor::setWaitingValues() noexcept
{
    // The wrapper hears the change on this thread: JUCE's VST3 wrapper hands it to the host as
    // an output parameter change of this block, its VST2 wrapper as an automation call. The
    // broadcast sends it on to the console as any other change, which keeps the fader and the
    // value in step.
    for (auto* parameter : { static_cast<juce::AudioProcessorParameter*> (faderParameter),
                             static_cast<juce::AudioProcessorParameter*> (muteParameter) })
    {
        if (const auto value = hostValues.take (parameter->getParameterIndex()))
            if (*value != parameter->getValue())
                parameter->setValueNotifyingHost (*value);
    }
}

double QuillmereAudioProcessor::getTailLengthSeconds() const { return 0.0; }

bool QuillmereAudioProcessor::acceptsMidi() const { return false; }

bool QuillmereAudioProcessor::producesMidi() const { return false; }

bool QuillmereAudioProcessor::hasEditor() const { return true; }

juce::AudioProcessorEditor* QuillmereAudioProcessor::createEditor()
{
    return new QuillmereAudioProcessorEditor (*this);
}

int QuillmereAudioProcessor::getNumPrograms() { return 1; }

int QuillmereAudioProcessor::getCurrentProgram() { return 0; }

void QuillmereAudioProcessor::setCurrentProgram (int) {}

const juce::String QuillmereAudioProcessor::getProgramName (int) { return "Quillmere"; }

void QuillmereAudioProcessor::changeProgramName (int, const juce::String&) {}

//==============================================================================
void QuillmereAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const juce::ScopedLock sl (settingsLock);

    QuillmereSettingsChunk::Settings settings;
    // The wanted ports, open or not: a project saved while the console is away keeps its link.
    settings.midiInName = wantedMidiInName;
    settings.midiOutName = wantedMidiOutName;
    settings.level = faderParameter->getValue();
    settings.muted = muteParameter->getValue() != 0.0f;
    settings.channel = channel.load();
    settings.modelName = getDeviceModelName();

    {
        const juce::ScopedLock dl (linkLock);
        const auto saved = stripName.forSaving();
        settings.channelName = saved.name;
        settings.nameFollowsTrack = saved.followsTrack;
    }

    destData = QuillmereSettingsChunk::write (settings);
}

void QuillmereAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    const auto settings = QuillmereSettingsChunk::read (data, sizeInBytes);

    if (! settings.has_value())
        return;

    // Let go of after the lock: a device replaced by the restore ends its gestures then.
    std::shared_ptr<QuillmereBaseDevice> departing;
    const juce::ScopedLock sl (settingsLock);

    // What the chunk leaves out keeps its current value, but for the names: an absent model
    // means the first of the catalogue (an empty one asks for no device), and an absent port
    // or channel name reads as empty.
    setChannel (settings->channel.value_or (channel.load()));

    departing = setDeviceLocked (settings->modelName.value_or (getModelNameForIndex (0)));

    restoreMidiInput (settings->midiInName.value_or (juce::String()));
    restoreMidiOutput (settings->midiOutName.value_or (juce::String()));
    updateWatching();

    // Restored without telling the host: it is the host that asked for these values, and they
    // replace any of the console's that still wait for the audio thread.
    hostValues.clear();
    faderParameter->setValue (settings->level.value_or (faderParameter->getValue()));
    sendLevelToDevice();

    const auto muted = settings->muted.value_or (muteParameter->getValue() != 0.0f);
    muteParameter->setValue (muted ? 1.0f : 0.0f);
    sendMuteToDevice();

    {
        const juce::ScopedLock dl (linkLock);
        stripName.restored (settings->channelName.value_or (juce::String()), settings->nameFollowsTrack);
        sendChannelNameToDevice (stripName.getName());
        channelNameChanged();
    }
}

void QuillmereAudioProcessor::restoreMidiInput (const juce::String& storedName)
{
    const auto wanted = storedName.isNotEmpty() ? storedName : getDefaultMidiInputName (channel.load());

    if (wanted.isEmpty())
        return;

    // Wanted even while absent: it is opened when it appears.
    wantedMidiInName = wanted;
    openMidiInputsNamed (wanted);
}

void QuillmereAudioProcessor::restoreMidiOutput (const juce::String& storedName)
{
    const auto wanted = storedName.isNotEmpty() ? storedName : getDefaultMidiOutputName (channel.load());

    if (wanted.isEmpty())
        return;

    wantedMidiOutName = wanted;
    openMidiOutputsNamed (wanted);
}

bool QuillmereAudioProcessor::openMidiInputsNamed (const juce::String& name)
{
    // Of several ports of that name, the last that opens stays open. A port opened by name
    // starts with an empty queue. When none has the name, the open input is left as it was.
    if (! MidiPortSystem::isListed (PortDirection::input, name))
        return midiInput != nullptr && midiInName == name;

    openMidiInputNamed (name, true);
    midiInName = name;
    return midiInput != nullptr;
}

bool QuillmereAudioProcessor::openMidiOutputsNamed (const juce::String& name)
{
    if (! MidiPortSystem::isListed (PortDirection::output, name))
        return midiOutput != nullptr && midiOutName == name;

    replaceMidiOutput (MidiPortSystem::openOutputNamed (name, &outputHeldByAnotherProgram), name);
    return midiOutput != nullptr;
}

void QuillmereAudioProcessor::updateWatching()
{
    const auto needsWatching = wantedMidiInName.isNotEmpty() || wantedMidiOutName.isNotEmpty() || midiInput != nullptr || midiOutput != nullptr;
    PortWatcher::setWatching (this, needsWatching);
    ++portStateChanges;

    // The console this instance drives is the one behind the output port it wants.
    stripRegistration.setPort (wantedMidiOutName);
}

QuillmereAudioProcessor::PortState QuillmereAudioProcessor::getPortState()
{
    const juce::ScopedLock sl (settingsLock);
    const juce::ScopedLock dl (linkLock);

    PortState state;
    state.inputOpen = midiInput != nullptr;
    state.outputOpen = midiOutput != nullptr;
    state.inName = midiInName;
    state.outName = midiOutName;
    state.wantedInName = wantedMidiInName;
    state.wantedOutName = wantedMidiOutName;
    state.outputWrittenByOthers = midiOutput != nullptr && outputWrittenByOthers;
    state.inputHeldByAnotherProgram = midiInput == nullptr && inputHeldByAnotherProgram;
    state.outputHeldByAnotherProgram = midiOutput == nullptr && outputHeldByAnotherProgram;
    return state;
}

void QuillmereAudioProcessor::portsListed (const juce::StringArray& inputNames, const juce::StringArray& outputNames)
{
    const juce::ScopedLock sl (settingsLock);

    // A send that gave up under contention may have left an older value in line; the current
    // one follows it (the level cache drops it if the console has it already).
    deviceSlot.resendWhatGaveUp (channel, getStripParameters());

    // A port the system no longer lists is gone, whatever its handle says, and so is one the
    // system took away although a port of its name is back (an interface plugged in again
    // between two rounds): nothing more is sent to it, and the port is opened again as soon as
    // it is listed. A gone input whose wanted port is listed is replaced below, the new port
    // started before the old one stops, so that JUCE's ALSA client keeps a thread reading.
    const auto inputGone = [&]
    { return midiInput != nullptr && (! inputNames.contains (midiInName) || ! midiInput->isAlive()); };

    const auto wantedInputListed = wantedMidiInName.isNotEmpty() && inputNames.contains (wantedMidiInName);

    if (inputGone() && ! wantedInputListed)
        closeMidiInput();

    {
        const juce::ScopedLock dl (linkLock);

        if (midiOutput != nullptr && (! outputNames.contains (midiOutName) || ! midiOutput->isAlive()))
            closeMidiOutput (false);

        // Another program on the console's port can move the wrong strip: the window says so.
        outputWrittenByOthers = midiOutput != nullptr && midiOutput->isWrittenByOthers();
    }

    bool reconnected = false;

    if (wantedInputListed && (midiInput == nullptr || midiInName != wantedMidiInName || inputGone()))
        reconnected = openMidiInputsNamed (wantedMidiInName) || reconnected;

    // Left when the wanted port was not there to replace it after all.
    if (inputGone())
        closeMidiInput();

    if (wantedMidiOutName.isNotEmpty() && (midiOutput == nullptr || midiOutName != wantedMidiOutName) && outputNames.contains (wantedMidiOutName))
        reconnected = openMidiOutputsNamed (wantedMidiOutName) || reconnected;

    // The console may have been switched off or used by others meanwhile: its strip is told
    // everything again, the level even if it is the last one sent.
    if (reconnected)
    {
        outbox.forgetLevelCache();
        sendAllToDevice();
    }

    updateWatching();
}

JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
const juce::String QuillmereAudioProcessor::getInputChannelName (int channelIndex) const { return juce::String (channelIndex + 1); }

const juce::String QuillmereAudioProcessor::getOutputChannelName (int channelIndex) const { return juce::String (channelIndex + 1); }

bool QuillmereAudioProcessor::isInputChannelStereoPair (int) const { return true; }

bool QuillmereAudioProcessor::isOutputChannelStereoPair (int) const { return true; }
JUCE_END_IGNORE_WARNINGS_GCC_LIKE

juce::int32 QuillmereAudioProcessor::getAAXPluginIDForMainBusConfig (const juce::AudioChannelSet& mainInputLayout,
                                                                     const juce::AudioChannelSet& mainOutputLayout,
                                                                     bool idForAudioSuite) const
{
    // JUCE's default numbers the type from the layouts' positions in its own format list,
    // which gives other identifiers than those the plug-in has always had.
    const short configurations[][2] = { JucePlugin_PreferredChannelConfigurations };
    const auto numConfigurations = juce::numElementsInArray (configurations);

    int number = 0;

    while (number < numConfigurations
           && (configurations[number][0] != mainInputLayout.size() || configurations[number][1] != mainOutputLayout.size()))
        ++number;

    // The wrapper asks only for layouts that match a preferred configuration.
    jassert (number < numConfigurations);

    return (idForAudioSuite ? 0x6a796161 /* 'jyaa' */ : 0x6a636161 /* 'jcaa' */) + number;
}

//==============================================================================
void QuillmereAudioProcessor::closeMidiInput()
{
    replaceMidiInput (nullptr, false);
}

void QuillmereAudioProcessor::replaceMidiInput (std::unique_ptr<MidiPortSystem::Input> newInput, bool emptyQueue)
{
    auto* input = newInput.get();
    std::unique_ptr<MidiPortSystem::Input> oldInput;

    {
        // From here on the driver thread's source test passes for the new port alone.
        const juce::ScopedLock sl (incomingMidiLock);

        if (input != nullptr && emptyQueue)
            incomingMidi.clear();

        oldInput = std::exchange (midiInput, std::move (newInput));
    }

    // The new port starts before the old one stops: JUCE's ALSA client ends its reading thread
    // when its last started input stops, and a start while that thread finishes its poll starts
    // none, so stopping first would leave no thread reading the new port.
    if (input != nullptr)
    {
        midiInName = input->getName();
        input->start();
        startTimer (drainIntervalMs);
    }

    if (oldInput != nullptr)
    {
        oldInput->stop();

        // Waits for a callback in progress, so this must not hold incomingMidiLock.
        oldInput.reset();

        if (input == nullptr)
        {
            stopTimer();
            midiInName = {};
        }
    }
}

void QuillmereAudioProcessor::openMidiInputNamed (const juce::String& name, bool emptyQueue)
{
    auto newInput = MidiPortSystem::openInputNamed (name, this, &inputHeldByAnotherProgram);

    // A driver that refuses a second handle on a port it has open gets its port once the old
    // handle has closed.
    if (newInput == nullptr && midiInput != nullptr && name.isNotEmpty())
    {
        closeMidiInput();
        newInput = MidiPortSystem::openInputNamed (name, this, &inputHeldByAnotherProgram);
    }

    replaceMidiInput (std::move (newInput), emptyQueue);
}

void QuillmereAudioProcessor::setMidiInputByName (const juce::String& name)
{
    const juce::ScopedLock sl (settingsLock);

    // Messages still queued from the previous port are handed on at the next tick.
    wantedMidiInName = name;
    openMidiInputNamed (name, false);
    updateWatching();
}

void QuillmereAudioProcessor::setMidiInput (int index)
{
    setMidiInputByName (MidiPortSystem::getInputNames()[index]);
}

void QuillmereAudioProcessor::closeMidiOutput (bool writeWhatWaits)
{
    // Messages made while this port was current are written to it before it closes, unless
    // the port is gone; the sender is done with the port when detach returns.
    outbox.detach (writeWhatWaits);
    midiOutput.reset();
    midiOutName = {};
}

void QuillmereAudioProcessor::replaceMidiOutput (std::shared_ptr<MidiPortSystem::Output> newOutput, const juce::String& newName)
{
    const juce::ScopedLock sl (linkLock);

    // The new port is open before the old one closes.
    outbox.detach();
    const auto oldOutput = std::move (midiOutput);
    midiOutput = std::move (newOutput);
    midiOutName = newName;

    if (midiOutput != nullptr)
        outbox.attach (midiOutput);
}

void QuillmereAudioProcessor::setMidiOutputByName (const juce::String& name)
{
    const juce::ScopedLock sl (settingsLock);

    {
        // Close the current port before opening the next: a driver may refuse a second open.
        const juce::ScopedLock dl (linkLock);
        closeMidiOutput();
    }

    wantedMidiOutName = name;
    replaceMidiOutput (MidiPortSystem::openOutputNamed (name, &outputHeldByAnotherProgram), name);

    // The console behind the new port knows nothing of this strip yet.
    if (midiOutput != nullptr)
        sendAllToDevice();

    updateWatching();
}

void QuillmereAudioProcessor::setMidiOutput (int index)
{
    setMidiOutputByName (MidiPortSystem::getOutputNames()[index]);
}

juce::String QuillmereAudioProcessor::getDefaultMidiInputName (int channelToAsk)
{
    const juce::ScopedLock sl (linkLock);
    return device != nullptr ? device->getDefaultMidiInputName (channelToAsk) : juce::String();
}

juce::String QuillmereAudioProcessor::getDefaultMidiOutputName (int channelToAsk)
{
    const juce::ScopedLock sl (linkLock);
    return device != nullptr ? device->getDefaultMidiOutputName (channelToAsk) : juce::String();
}

juce::String QuillmereAudioProcessor::getDeviceModelName()
{
    const juce::ScopedLock sl (linkLock);
    return device != nullptr ? device->getModelName() : juce::String();
}

juce::String QuillmereAudioProcessor::getModelNameForIndex (int index)
{
    return DeviceCatalogue::getModelName (index);
}

int QuillmereAudioProcessor::getNumChannels()
{
    const juce::ScopedLock sl (linkLock);
    return device != nullptr ? device->getNumChannels() : 0;
}

bool QuillmereAudioProcessor::deviceShowsChannelNames()
{
    const juce::ScopedLock sl (linkLock);
    return device == nullptr || device->supportsChannelNames();
}

std::shared_ptr<QuillmereBaseDevice> QuillmereAudioProcessor::setDeviceLocked (const juce::String& modelName)
{
    const juce::ScopedLock dl (linkLock);

    if (device != nullptr && device->getModelName() == modelName)
        return nullptr;

    // The old device stays registered as a gesture source of both parameters until its last
    // holder lets go of it, with no lock held, and ends its gestures then.
    auto departing = deviceSlot.replace (nullptr);

    if (const auto* model = DeviceCatalogue::findModel (modelName))
    {
        [[maybe_unused]] const auto none = deviceSlot.replace (model->createDevice (outbox, getStripParameters()));
        jassert (none == nullptr); // the old device went above
        sendAllToDevice();
    }

    return departing;
}

void QuillmereAudioProcessor::setDevice (const juce::String& modelName)
{
    // Let go of after the lock, so that the old device ends its gestures with no lock held.
    std::shared_ptr<QuillmereBaseDevice> departing;
    const juce::ScopedLock sl (settingsLock);
    departing = setDeviceLocked (modelName);
}

void QuillmereAudioProcessor::setChannelName (const juce::String& name)
{
    const juce::ScopedLock sl (linkLock);

    // Sent and announced even when the name stays as it was: every name the window hands over
    // reaches the console.
    stripName.typed (name);
    sendChannelNameToDevice (stripName.getName());
    channelNameChanged();
}

juce::String QuillmereAudioProcessor::getChannelName()
{
    const juce::ScopedLock sl (linkLock);
    return stripName.getName();
}

bool QuillmereAudioProcessor::isChannelNameFollowingTrack()
{
    const juce::ScopedLock sl (linkLock);
    return stripName.isFollowingTrack();
}

void QuillmereAudioProcessor::channelNameChanged()
{
    stripRegistration.setName (stripName.getName());
    ++channelNameChanges;
}

void QuillmereAudioProcessor::updateTrackProperties (const TrackProperties& properties)
{
    const juce::ScopedLock sl (linkLock);

    // A report without a name, or a rename that the strip shows the same way, sends nothing.
    if (! stripName.trackRenamed (properties.name))
        return;

    sendChannelNameToDevice (stripName.getName());
    channelNameChanged();
}

void QuillmereAudioProcessor::setChannel (int newChannel)
{
    channel = newChannel;
    stripRegistration.setChannel (newChannel);
}

void QuillmereAudioProcessor::sendLevelToDevice()
{
    deviceSlot.sendLevel (channel, *faderParameter);
}

void QuillmereAudioProcessor::sendMuteToDevice()
{
    deviceSlot.sendMute (channel, *muteParameter);
}

void QuillmereAudioProcessor::sendChannelNameToDevice (const juce::String& name)
{
    deviceSlot.sendChannelName (channel, name);
}

void QuillmereAudioProcessor::sendAllToDevice()
{
    const juce::ScopedLock sl (linkLock);
    sendChannelNameToDevice (stripName.getName());
    sendMuteToDevice();
    sendLevelToDevice();
}

//==============================================================================
void QuillmereAudioProcessor::handleIncomingMidiMessage (MidiPortSystem::Input* source, const juce::MidiMessage& message)
{
    const juce::ScopedLock sl (incomingMidiLock);

    if (source != nullptr && source == midiInput.get())
        incomingMidi.addEvent (message, 0);
}

void QuillmereAudioProcessor::timerCallback()
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    // Gestures left waiting while the host did not serve this thread are told once it does.
    const auto servedByHost = HostMessageThread::isServedByHost();

    if (servedByHost)
    {
        faderParameter->changeManager->reportPendingNow();
        muteParameter->changeManager->reportPendingNow();
    }

    {
        const juce::ScopedLock sl (incomingMidiLock);

        if (incomingMidi.isEmpty())
            return;

        drainedMidi.swapWith (incomingMidi);
    }

    // The device parses under the lock, so that it is not replaced meanwhile, and is shared
    // until what it parsed has been applied: a device replaced on another thread meanwhile stays
    // the gesture source of its own gestures, and ends them when this lets go of it.
    std::shared_ptr<QuillmereBaseDevice> parser;
    QuillmereBaseDevice::ParameterChanges changes;

    {
        const juce::ScopedLock sl (linkLock);
        parser = device;

        if (parser != nullptr)
            changes = parser->parseIncomingMidi (channel.load(), drainedMidi);
    }

    // Also when there is no device: the messages are dropped.
    drainedMidi.clear();

    if (parser == nullptr)
        return;

    // With no lock held: the host hears of the values and gestures now, and may take locks of
    // its own that a thread saving or restoring the state holds while it waits for ours. On a
    // message thread of the plug-in's own, calling the host at all is wrong (hosts keep state
    // per thread): the values go to the audio thread, which the host owns.
    if (servedByHost)
    {
        parser->applyParameterChanges (changes);
    }
    else
    {
        parser->handOverParameterChanges (changes, hostValues);
    }
}

void QuillmereAudioProcessor::parameterChanged (ParameterBroadcaster* broadcasterThatChanged)
{
    if (broadcasterThatChanged == faderParameter)
        sendLevelToDevice();
    else if (broadcasterThatChanged == muteParameter)
        sendMuteToDevice();
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuillmereAudioProcessor();
}
