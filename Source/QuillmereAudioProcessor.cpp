#include "QuillmereAudioProcessor.h"

#include "Devices/MiraDevice.h"
#include "Devices/Tarn16Device.h"
#include "Devices/Tarn48XLDevice.h"
#include "Editor/QuillmereAudioProcessorEditor.h"

namespace
{
    const juce::StringArray& getModelCatalogue()
    {
        static const juce::StringArray catalogue { "Tarn16", "Tarn48-XL", "Mira" };
        return catalogue;
    }

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
}

QuillmereAudioProcessor::~QuillmereAudioProcessor()
{
    // Blank the linked strip while the device still exists.
    setChannelName ({});

    {
        const juce::ScopedLock sl (deviceLock);
        device.reset();
    }

    // No input callback may arrive once the queue and its lock are gone.
    closeMidiInput();
    stopTimer();

    const juce::ScopedLock sl (deviceLock);
    midiOutput.reset();
}

//==============================================================================
const juce::String QuillmereAudioProcessor::getName() const { return "Quillmere"; }

void QuillmereAudioProcessor::prepareToPlay (double, int) {}

void QuillmereAudioProcessor::releaseResources() {}

void QuillmereAudioProcessor::processBlock (juce::AudioBuffer<float>&, juce::MidiBuffer&) {}

void QuillmereAudioProcessor::processBlock (juce::AudioBuffer<double>&, juce::MidiBuffer&) {}

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
namespace
{
    const char* const settingsTag = "QUILLMERESETTINGS";

    /** An integer attribute read as XmlElement::getIntAttribute reads it (leading blanks, an
        optional minus, the leading digits, wrapping on overflow), but without the signed
        overflow of JUCE's reader for texts beyond the int range: a saved project may be
        damaged or edited by hand.
    */
    int readIntAttribute (const juce::XmlElement& xml, const char* name, int valueWhenAbsent)
    {
        if (! xml.hasAttribute (name))
            return valueWhenAbsent;

        auto text = xml.getStringAttribute (name).getCharPointer().findEndOfWhitespace();
        const bool negative = *text == '-';

        if (negative)
            ++text;

        juce::uint32 magnitude = 0;

        for (auto c = text.getAndAdvance(); c >= '0' && c <= '9'; c = text.getAndAdvance())
            magnitude = magnitude * 10u + (juce::uint32) (c - '0');

        return (int) (negative ? 0u - magnitude : magnitude);
    }

    /** Whether the block is JUCE's framing of an XML text in valid UTF-8. JUCE's XML parser
        reads past the end of a text whose last character is cut short, so a damaged chunk
        must be refused before it reaches getXmlFromBinary. copyXmlToBinary always writes
        valid UTF-8, so no chunk the plug-in saved is refused.
    */
    bool isReadableXmlChunk (const void* data, int sizeInBytes)
    {
        constexpr juce::uint32 xmlMagic = 0x21324356; // the tag of JUCE's XML framing
        constexpr int headerSize = 8;

        if (data == nullptr || sizeInBytes <= headerSize)
            return false;

        const auto* bytes = static_cast<const char*> (data);

        if (juce::ByteOrder::littleEndianInt (bytes) != xmlMagic)
            return false;

        const auto textLength = (int) juce::ByteOrder::littleEndianInt (bytes + 4);

        if (textLength <= 0)
            return false;

        return juce::CharPointer_UTF8::isValidString (bytes + headerSize, std::min (sizeInBytes - headerSize, textLength));
    }
}

void QuillmereAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    const juce::ScopedLock sl (settingsLock);

    juce::XmlElement xml (settingsTag);
    xml.setAttribute ("midiInName", midiInput != nullptr ? midiInName : juce::String());
    xml.setAttribute ("midiOutName", midiOutput != nullptr ? midiOutName : juce::String());
    xml.setAttribute ("fader", (double) faderParameter->getValue());
    xml.setAttribute ("cut", muteParameter->getValue() != 0.0f ? 1 : 0);
    xml.setAttribute ("channel", channel.load());
    xml.setAttribute ("channelName", getChannelName());
    xml.setAttribute ("deviceName", getDeviceModelName());

    copyXmlToBinary (xml, destData);
}

void QuillmereAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    if (! isReadableXmlChunk (data, sizeInBytes))
        return;

    const auto xml = getXmlFromBinary (data, sizeInBytes);

    // The tag is compared exactly: XmlElement::hasTagName ignores letter case.
    if (xml == nullptr || xml->getTagName() != settingsTag)
        return;

    const juce::ScopedLock sl (settingsLock);

    channel = readIntAttribute (*xml, "channel", channel.load());

    // An empty "deviceName" is present and asks for no device; only an absent one means the
    // first model of the catalogue.
    setDevice (xml->getStringAttribute ("deviceName", getModelNameForIndex (0)));

    restoreMidiInput (xml->getStringAttribute ("midiInName"));
    restoreMidiOutput (xml->getStringAttribute ("midiOutName"));

    // Restored without telling the host: it is the host that asked for these values.
    faderParameter->setValue ((float) xml->getDoubleAttribute ("fader", (double) faderParameter->getValue()));
    sendLevelToDevice();

    muteParameter->setValue ((float) xml->getDoubleAttribute ("cut", (double) muteParameter->getValue()));
    sendMuteToDevice();

    setChannelName (xml->getStringAttribute ("channelName"));
}

void QuillmereAudioProcessor::restoreMidiInput (const juce::String& storedName)
{
    const auto wanted = storedName.isNotEmpty() ? storedName : getDefaultMidiInputName (channel.load());

    if (wanted.isEmpty())
        return;

    // Every port of that name is opened in turn, so with two of them the last one stays open.
    // A restored port starts with an empty queue.
    const auto names = MidiPortSystem::getInputNames();

    for (int i = 0; i < names.size(); ++i)
    {
        if (names[i] == wanted)
        {
            closeMidiInput();
            openMidiInput (i, true);
            midiInName = wanted;
        }
    }
}

void QuillmereAudioProcessor::restoreMidiOutput (const juce::String& storedName)
{
    const auto wanted = storedName.isNotEmpty() ? storedName : getDefaultMidiOutputName (channel.load());

    if (wanted.isEmpty())
        return;

    const auto names = MidiPortSystem::getOutputNames();

    for (int i = 0; i < names.size(); ++i)
        if (names[i] == wanted)
            replaceMidiOutput (MidiPortSystem::openOutput (i), wanted);
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
    std::unique_ptr<MidiPortSystem::Input> oldInput;

    {
        // From here on the driver thread's source test fails for the old port.
        const juce::ScopedLock sl (incomingMidiLock);
        oldInput = std::move (midiInput);
    }

    if (oldInput != nullptr)
    {
        oldInput->stop();
        stopTimer();

        // Waits for a callback in progress, so this must not hold incomingMidiLock.
        oldInput.reset();
        midiInName = {};
    }
}

void QuillmereAudioProcessor::openMidiInput (int index, bool emptyQueue)
{
    auto newInput = MidiPortSystem::openInput (index, this);

    if (newInput == nullptr)
        return;

    auto* input = newInput.get();

    {
        const juce::ScopedLock sl (incomingMidiLock);

        if (emptyQueue)
            incomingMidi.clear();

        midiInput = std::move (newInput);
    }

    midiInName = input->getName();
    input->start();
    startTimer (drainIntervalMs);
}

void QuillmereAudioProcessor::setMidiInput (int index)
{
    const juce::ScopedLock sl (settingsLock);

    // Messages still queued from the previous port are handed on at the next tick.
    closeMidiInput();
    openMidiInput (index, false);
}

void QuillmereAudioProcessor::replaceMidiOutput (std::unique_ptr<MidiPortSystem::Output> newOutput, const juce::String& newName)
{
    std::unique_ptr<MidiPortSystem::Output> oldOutput;

    {
        const juce::ScopedLock sl (deviceLock);
        oldOutput = std::move (midiOutput);
        midiOutput = std::move (newOutput);

        if (device != nullptr)
            device->midiOutput = midiOutput.get();

        midiOutName = newName;
    }

    // Nothing can be sending on the old port any more: every send holds deviceLock.
    oldOutput.reset();
}

void QuillmereAudioProcessor::setMidiOutput (int index)
{
    const juce::ScopedLock sl (settingsLock);

    {
        // Close the current port before opening the next: a driver may refuse a second open.
        const juce::ScopedLock dl (deviceLock);
        midiOutput.reset();
        midiOutName = {};

        if (device != nullptr)
            device->midiOutput = nullptr;
    }

    auto newOutput = MidiPortSystem::openOutput (index);
    const auto names = MidiPortSystem::getOutputNames();
    replaceMidiOutput (std::move (newOutput), names[index]);
}

juce::String QuillmereAudioProcessor::getDefaultMidiInputName (int channelToAsk)
{
    const juce::ScopedLock sl (deviceLock);
    return device != nullptr ? device->getDefaultMidiInputName (channelToAsk) : juce::String();
}

juce::String QuillmereAudioProcessor::getDefaultMidiOutputName (int channelToAsk)
{
    const juce::ScopedLock sl (deviceLock);
    return device != nullptr ? device->getDefaultMidiOutputName (channelToAsk) : juce::String();
}

juce::String QuillmereAudioProcessor::getDeviceModelName()
{
    const juce::ScopedLock sl (deviceLock);
    return device != nullptr ? device->getModelName() : juce::String();
}

juce::String QuillmereAudioProcessor::getModelNameForIndex (int index)
{
    return getModelCatalogue()[index];
}

int QuillmereAudioProcessor::getNumChannels()
{
    const juce::ScopedLock sl (deviceLock);
    return device != nullptr ? device->getNumChannels() : 0;
}

void QuillmereAudioProcessor::setDevice (const juce::String& modelName)
{
    const juce::ScopedLock sl (settingsLock);
    const juce::ScopedLock dl (deviceLock);

    if (device != nullptr && device->getModelName() == modelName)
        return;

    // The old device unregisters from both parameters before the new one registers.
    device.reset();

    const auto& catalogue = getModelCatalogue();

    if (modelName == catalogue[0])
        device = std::make_unique<Tarn16Device> (*this);
    else if (modelName == catalogue[2])
        device = std::make_unique<MiraDevice> (*this);
    else if (modelName == catalogue[1])
        device = std::make_unique<Tarn48XLDevice> (*this);

    if (device != nullptr)
    {
        device->midiOutput = midiOutput.get();
        sendAllToDevice();
    }
}

void QuillmereAudioProcessor::setChannelName (const juce::String& name)
{
    const juce::ScopedLock sl (deviceLock);
    channelName = name;
    sendChannelNameToDevice (channelName);
}

juce::String QuillmereAudioProcessor::getChannelName()
{
    const juce::ScopedLock sl (deviceLock);
    return channelName;
}

void QuillmereAudioProcessor::sendLevelToDevice()
{
    // The value is read under the lock, so that of two threads sending at once the later
    // send always carries the later value.
    const juce::ScopedLock sl (deviceLock);

    if (device != nullptr)
        device->sendLevel (channel.load(), faderParameter->getValue());
}

void QuillmereAudioProcessor::sendMuteToDevice()
{
    const juce::ScopedLock sl (deviceLock);

    if (device != nullptr)
        device->sendMute (channel.load(), muteParameter->getValue() != 0.0f);
}

void QuillmereAudioProcessor::sendChannelNameToDevice (const juce::String& name)
{
    const juce::ScopedLock sl (deviceLock);

    if (device != nullptr)
        device->sendChannelName (channel.load(), name);
}

void QuillmereAudioProcessor::sendAllToDevice()
{
    const juce::ScopedLock sl (deviceLock);
    sendChannelNameToDevice (channelName);
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
    {
        const juce::ScopedLock sl (incomingMidiLock);

        if (incomingMidi.isEmpty())
            return;

        drainedMidi.swapWith (incomingMidi);
    }

    {
        const juce::ScopedLock sl (deviceLock);

        if (device != nullptr)
            device->handleIncomingMidi (channel.load(), drainedMidi);
    }

    // Also when there is no device: the messages are dropped.
    drainedMidi.clear();
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
