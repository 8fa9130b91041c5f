#pragma once

#include "ConsoleStripRegistry.h"
#include "Devices/DeviceSlot.h"
#include "Parameters/BooleanParameter.h"
#include "Parameters/FaderParameter.h"
#include "Parameters/HostValueHandoff.h"
#include "Parameters/StripParameters.h"
#include "Ports/ConsoleOutbox.h"
#include "Ports/PortWatcher.h"
#include "StripName.h"

#include <juce_audio_processors/juce_audio_processors.h>

/** One plug-in instance: links a host track to one channel strip of a console.

    Owns the level and mute parameters (through its JUCE base), the MIDI input and output
    ports that lead to the console, the outbox of messages waiting for the output and the
    console device of the chosen model, and keeps the linked channel and its name. Parameter
    changes go to the device on the thread that made them, which posts the message to the
    outbox without a lock; the output port's sender thread writes it. Messages from the console
    are queued on the driver thread and handed to the device every 20 ms on the message thread.
    Audio passes through untouched.

    Locks, always taken in this order when more than one is held:
    settingsLock, then linkLock or incomingMidiLock. Nothing holds incomingMidiLock while
    taking another lock. A host thread that changes a parameter takes none of them. None of
    them is held while the host is told of a value or a gesture: a host may hold a lock of its
    own while it saves or restores the state, and take the same lock when it is told.
*/
class QuillmereAudioProcessor final : public juce::AudioProcessor
    , public juce::Timer
    , public MidiPortSystem::Input::Callback
    , public ParameterBroadcaster::Listener
    , public PortWatcher::Listener
{
public:
    QuillmereAudioProcessor();
    ~QuillmereAudioProcessor() override;

    //==============================================================================
    const juce::String getName() const override;
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;

    /** Audio thread: leaves audio and MIDI untouched, and sets the console's values that wait
        in hostValues, so that the host hears of them from this thread. Takes no lock of the
        plug-in's, allocates nothing and never waits on a port.
    */
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    void processBlock (juce::AudioBuffer<double>& buffer, juce::MidiBuffer& midiMessages) override;

    /** Audio thread, while the host bypasses the plug-in: the console's values still reach it. */
    void processBlockBypassed (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    void processBlockBypassed (juce::AudioBuffer<double>& buffer, juce::MidiBuffer& midiMessages) override;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool hasEditor() const override;
    juce::AudioProcessorEditor* createEditor() override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    /** Saves the channel, model, wanted ports by name, channel name, level and mute in the
        host's project, as the chunk QuillmereSettingsChunk writes. Called by the host on a
        thread of its choosing.
    */
    void getStateInformation (juce::MemoryBlock& destData) override;

    /** Restores what getStateInformation saved: the model, then the ports looked up by name
        (or the model's default names), then level, mute and channel name, each sent to the
        console. A chunk QuillmereSettingsChunk refuses changes nothing; a channel, level or
        mute the chunk leaves out keeps its current value. Any thread the host uses.
    */
    void setStateInformation (const void* data, int sizeInBytes) override;

    /** The host's report of the track the instance sits on. A name, once reported, is kept as
        the track's name; while the channel name follows the track it becomes the channel name,
        fitted to the strip (StripName), and goes to the console at once. A report without a
        name (the host does not know it) changes nothing. JUCE calls it on the message thread;
        any other thread but a real-time one will do. Takes linkLock.
    */
    void updateTrackProperties (const TrackProperties& properties) override;

    JUCE_BEGIN_IGNORE_WARNINGS_GCC_LIKE ("-Wdeprecated-declarations")
    const juce::String getInputChannelName (int channelIndex) const override;
    const juce::String getOutputChannelName (int channelIndex) const override;
    bool isInputChannelStereoPair (int index) const override;
    bool isOutputChannelStereoPair (int index) const override;
    JUCE_END_IGNORE_WARNINGS_GCC_LIKE

    /** The AAX plug-in type of a main bus layout, which Pro Tools stores in its sessions:
        'jcaa' (or 'jyaa' for AudioSuite) plus the number of the layout's preferred channel
        configuration, so 0 for mono and 1 for stereo, numbered as the AAX wrapper finds them.
    */
    juce::int32 getAAXPluginIDForMainBusConfig (const juce::AudioChannelSet& mainInputLayout,
                                                const juce::AudioChannelSet& mainOutputLayout,
                                                bool idForAudioSuite) const override;

    //==============================================================================
    /** Replaces the current input with the port of that name, which becomes the wanted input,
        even if it refuses to open now; an empty name closes the input. The new port is opened
        and started before the old one closes, and is checked to carry the name (see
        MidiPortSystem::openInputNamed). A successful open starts the 20 ms timer.
        Message thread or the host's state thread.
    */
    void setMidiInputByName (const juce::String& name);

    /** setMidiInputByName with the name at that index of the system's input list now. */
    void setMidiInput (int index);

    /** Closes the current output and opens the port of that name, checked to carry the name,
        which becomes the wanted output; the outbox is attached to the new port if it opens,
        and a console newly reached is told the channel name, the mute and the level.
        Message thread or the host's state thread.
    */
    void setMidiOutputByName (const juce::String& name);

    /** setMidiOutputByName with the name at that index of the system's output list now. */
    void setMidiOutput (int index);

    /** A consistent copy of the ports' state, for the window. Any thread but a real-time one. */
    struct PortState
    {
        bool inputOpen = false, outputOpen = false;
        juce::String inName, outName;             // the open ports' names
        juce::String wantedInName, wantedOutName; // what the instance waits for or holds
        bool outputWrittenByOthers = false;       // another program writes to the open output's port
        bool inputHeldByAnotherProgram = false;   // the wanted port failed to open: another program holds it
        bool outputHeldByAnotherProgram = false;
    };

    PortState getPortState();

    /** Counts the changes of the ports' state, so that a window can notice them. Any thread. */
    std::atomic<int> portStateChanges { 0 };

    juce::String getDefaultMidiInputName (int channelToAsk);
    juce::String getDefaultMidiOutputName (int channelToAsk);
    juce::String getDeviceModelName();

    /** The catalogue's model name at an index (DeviceCatalogue), "Tarn16", "Tarn48-XL" or
        "Mira"; empty for any index outside 0 to 2.
    */
    static juce::String getModelNameForIndex (int index);

    /** The device's number of channel strips; 0 without a device. */
    int getNumChannels();

    /** Whether the device shows channel names on the console, or there is no device: the
        window then shows the channel name for editing. Any thread but a real-time one.
    */
    bool deviceShowsChannelNames();

    /** Chooses the console model by its exact catalogue name. The same model keeps its
        device and sends nothing; another creates the new device, which at once receives the
        channel name, the mute and the level; any other name leaves no device. The old device
        ends its gestures once the processor's locks are released.
        Message thread or the host's state thread.
    */
    void setDevice (const juce::String& modelName);

    /** The name the user gives the strip, which is stored and sent to the console's scribble
        strip. A name wins over the track's: later renames of the track leave it. An empty name
        goes back to following the track: the channel name becomes the track's name fitted to
        the strip, or stays empty while the host has reported none. Giving the name that is
        followed now keeps following it. Not a real-time thread.
    */
    void setChannelName (const juce::String& name);
    juce::String getChannelName();

    /** Whether the channel name follows the track's name rather than being one the user gave. */
    bool isChannelNameFollowingTrack();

    /** Counts the changes of the channel name and of whether it follows the track, so that a
        window can notice them. Any thread.
    */
    std::atomic<int> channelNameChanges { 0 };

    /** Links the instance to a channel strip, from 1 (0 for none), and tells the instances on
        the same console. Sends nothing: the editor sends everything on the new channel next.
    */
    void setChannel (int newChannel);

    /** Sends the fader value to the device, if there is one. Any thread, a host's audio
        thread included: takes no lock, allocates nothing and never waits on the port.
    */
    void sendLevelToDevice();

    /** Sends the mute state to the device, if there is one. Any thread, as the level. */
    void sendMuteToDevice();

    /** Sends a name to the device, if there is one. Any thread but a real-time one. */
    void sendChannelNameToDevice (const juce::String& name);

    /** Sends the channel name, the mute and the level, in this order. Not a real-time thread. */
    void sendAllToDevice();

    //==============================================================================
    /** MIDI driver thread: queues a message from the open input; others are ignored. */
    void handleIncomingMidiMessage (MidiPortSystem::Input* source, const juce::MidiMessage& message) override;

    /** Message thread, every 20 ms while an input is open: hands the queue to the device to
        parse, with linkLock held, then applies what it asks of the parameters with no lock
        held. Where the host does not serve the message thread (HostMessageThread), the values
        go to the audio thread through hostValues instead, and no gesture is told.
    */
    void timerCallback() override;

    /** The thread that set the parameter: forwards level and mute changes to the device. */
    void parameterChanged (ParameterBroadcaster* broadcasterThatChanged) override;

    /** The port watcher's thread, about once a second while a port is wanted or open: closes
        an open port that the system no longer lists (its handle is dead), opens a wanted port
        that is not open as soon as the system lists it, and then tells the console the channel
        name, the mute and the level, so that its strip matches the track again. Also sends the
        level or mute again where a send gave up under contention.
    */
    void portsListed (const juce::StringArray& inputNames, const juce::StringArray& outputNames) override;

    //==============================================================================
    std::unique_ptr<MidiPortSystem::Input> midiInput;

    /** The open output, owned by the processor; its port's sender shares it while writing to
        it, so that a write stuck in a driver never leaves the sender with a closed port.
    */
    std::shared_ptr<MidiPortSystem::Output> midiOutput;
    bool outputWrittenByOthers = false;                                         // guarded by linkLock: asked of the output each watcher round
    bool inputHeldByAnotherProgram = false, outputHeldByAnotherProgram = false; // guarded by settingsLock: the last open by name
    juce::String midiInName;
    juce::String midiOutName;
    // The channel name, with the track's name and whether it follows it, is stripName's (below).

    /** The ports this instance wants: chosen in the window, restored from the project, or the
        model's default used on restore; empty while it has never wanted one. The project keeps
        them whether or not the ports are open, and an absent or refusing port is opened as soon
        as it can be. Written with settingsLock held.
    */
    juce::String wantedMidiInName;
    juce::String wantedMidiOutName;
    FaderParameter* faderParameter = nullptr;
    BooleanParameter* muteParameter = nullptr;

    /** The level and mute as the device and the window are handed them when they are made.
        Any thread once the processor is made.
    */
    StripParameters getStripParameters() const noexcept { return { *faderParameter, *muteParameter }; }

    /** The console's values that wait for the audio thread to tell the host of them. */
    HostValueHandoff hostValues;

    /** Messages from the console not yet handed to the device. */
    juce::MidiBuffer incomingMidi;

    /** Guards incomingMidi and the identity of midiInput, which the driver thread checks. */
    juce::CriticalSection incomingMidiLock;

    // The console device moved into deviceSlot (below); device reads it there.

    /** The linked channel strip, from 1; 0 while none is chosen. Written by the editor and
        the state restore, read by sends on host threads.
    */
    std::atomic<int> channel { 0 };

    /** What waits to be written to the output port: the newest level, mute and channel name
        not yet written, and the level cache. Attached to midiOutput while that is open.
    */
    ConsoleOutbox outbox;

    /** The console device, and the way sends on every thread reach it without a lock. Its
        replacement is guarded by linkLock. The timer shares the device while it applies what
        the device parsed, so that a device replaced meanwhile on another thread stays a valid
        gesture source until then; the last holder deletes it, with no lock held.
    */
    DeviceSlot deviceSlot { outbox };

    /** The console device that deviceSlot owns. Read it with linkLock held, or where nothing
        replaces it meanwhile.
    */
    const std::shared_ptr<QuillmereBaseDevice>& device { deviceSlot.getDevice() };

    /** Guards what links the instance to its console's strip: the replacement of the device in
        deviceSlot, midiOutput, midiOutName, outputWrittenByOthers and stripName; and keeps the
        device in place while it parses. Host threads that change a parameter never take it:
        their sends reach the device through deviceSlot.
        Taken again by a thread that holds it (juce::CriticalSection is recursive): a switch to
        another model sends everything to the new device with it held, through sendAllToDevice,
        which takes it too. (It was called deviceLock while it guarded the device alone.)
    */
    juce::CriticalSection linkLock;

    /** Serialises the operations that replace ports or the device and the state's save and
        restore, which the message thread and a host's state thread may run at the same time.
    */
    juce::CriticalSection settingsLock;

    /** The channel name, the host's name of the track and whether the one follows the other,
        with the rules by which they change; the processor sends and announces what it decides.
        Guarded by linkLock.
    */
    StripName stripName;

    /** This instance's strip among the instances on the same console, for their windows:
        the wanted output port, the channel and the channel name. Its lock comes after every
        lock of the processor, and nothing is called while it is held.
    */
    ConsoleStripRegistry::Registration stripRegistration;

private:
    // Replacing the device is deviceSlot's (DeviceSlot::replace).

    /** With settingsLock held: setDevice's work, returning the device replaced, if any. */
    [[nodiscard]] std::shared_ptr<QuillmereBaseDevice> setDeviceLocked (const juce::String& modelName);

    void closeMidiOutput (bool writeWhatWaits = true);
    void closeMidiInput();
    void replaceMidiInput (std::unique_ptr<MidiPortSystem::Input> newInput, bool emptyQueue);
    void openMidiInputNamed (const juce::String& name, bool emptyQueue);
    void replaceMidiOutput (std::shared_ptr<MidiPortSystem::Output> newOutput, const juce::String& newName);
    void restoreMidiInput (const juce::String& storedName);
    void restoreMidiOutput (const juce::String& storedName);
    bool openMidiInputsNamed (const juce::String& name);
    bool openMidiOutputsNamed (const juce::String& name);
    void updateWatching();
    void channelNameChanged();
    void setWaitingValues() noexcept;

    // The device as host threads reach it, with its guard, is deviceSlot's.

    // The queue is swapped into this buffer by the timer, so the driver thread never waits
    // while the device parses or the host is told about changes.
    juce::MidiBuffer drainedMidi;

    // The flags of a level or mute send that gave up under contention are deviceSlot's; the
    // port watcher's next round has it send the current values.

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillmereAudioProcessor)
};
