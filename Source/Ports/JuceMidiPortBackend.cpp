#include "JuceMidiPortBackend.h"
#include "AlsaPortDepartures.h"
#include "SerialisedMidiPortBackend.h"

#include <juce_audio_devices/juce_audio_devices.h>

#if JUCE_WINDOWS
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h> // with the MIDI functions of mmsystem.h: it is not built lean
#endif

namespace
{
    juce::StringArray namesOf (const juce::Array<juce::MidiDeviceInfo>& devices)
    {
        juce::StringArray names;

        for (const auto& info : devices)
            names.add (info.name);

        return names;
    }

    class JuceInput final : public MidiPortSystem::Input
        , private juce::MidiInputCallback
    {
    public:
        JuceInput (const juce::MidiDeviceInfo& info, Callback& callbackToUse)
            : callback (callbackToUse)
            , departures (info.identifier)
            , input (juce::MidiInput::openDevice (info.identifier, this))
        {
            if (input != nullptr)
                departures.noteOpened (false);
        }

        ~JuceInput() override
        {
            // Deleting JUCE's port stops it and waits for its driver callbacks to finish.
            input.reset();
        }

        bool isOpen() const { return input != nullptr; }

        juce::String getName() const override { return input->getName(); }
        void start() override { input->start(); }
        void stop() override { input->stop(); }
        bool isAlive() const override { return ! departures.hasGone(); }

    private:
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message) override
        {
            callback.handleIncomingMidiMessage (this, message);
        }

        Callback& callback;
        AlsaPortDepartures::Watch departures; // watching before the port is opened
        std::unique_ptr<juce::MidiInput> input;
    };

    class JuceOutput final : public MidiPortSystem::Output
    {
    public:
        explicit JuceOutput (const juce::MidiDeviceInfo& info)
            : departures (info.identifier)
            , output (juce::MidiOutput::openDevice (info.identifier))
        {
            if (output != nullptr)
                departures.noteOpened (true);
        }

        bool isOpen() const { return output != nullptr; }

        juce::String getName() const override { return output->getName(); }

        void sendBlockNow (const juce::uint8* data, int numBytes) override
        {
            JuceMidiPortBackend::forEachMessage (data, numBytes, [this] (const juce::uint8* message, int length)
                                                 { output->sendMessageNow (juce::MidiMessage (message, length)); });
        }

        bool isAlive() const override { return ! departures.hasGone(); }

        // JUCE sends a zone select and its switch as two sequencer events, so another
        // program's events can fall between them: it can only be told.
        bool isWrittenByOthers() const override { return departures.othersWrite(); }

    private:
        AlsaPortDepartures::Watch departures; // watching before the port is opened
        std::unique_ptr<juce::MidiOutput> output;
    };

    /** JUCE's ports as they are, unsafe to use from several threads at once. */
    class UnguardedJuceBackend final : public MidiPortSystem::Backend
    {
    public:
        juce::StringArray getInputNames() override
        {
            return namesOf (juce::MidiInput::getAvailableDevices());
        }

        juce::StringArray getOutputNames() override
        {
            return namesOf (juce::MidiOutput::getAvailableDevices());
        }

        std::unique_ptr<MidiPortSystem::Input> openInput (int index, MidiPortSystem::Input::Callback* callback) override
        {
            const auto devices = juce::MidiInput::getAvailableDevices();

            if (! juce::isPositiveAndBelow (index, devices.size()) || callback == nullptr)
                return nullptr;

            auto input = std::make_unique<JuceInput> (devices.getReference (index), *callback);
            return input->isOpen() ? std::move (input) : nullptr;
        }

        std::unique_ptr<MidiPortSystem::Output> openOutput (int index) override
        {
            const auto devices = juce::MidiOutput::getAvailableDevices();

            if (! juce::isPositiveAndBelow (index, devices.size()))
                return nullptr;

            auto output = std::make_unique<JuceOutput> (devices.getReference (index));
            return output->isOpen() ? std::move (output) : nullptr;
        }

#if JUCE_WINDOWS
        // JUCE's open answers only null. JUCE lists the Windows MIDI devices in the system's
        // order, so the index is the device's number: opened once more here, a port that another
        // program holds answers that it is allocated. A probe that opens is closed at once and
        // sends nothing.
        bool isHeldByAnotherProgram (bool isInput, int index) override
        {
            MMRESULT result = MMSYSERR_ERROR;

            if (isInput)
            {
                HMIDIIN handle = nullptr;
                result = midiInOpen (&handle, (UINT) index, 0, 0, CALLBACK_NULL);

                if (result == MMSYSERR_NOERROR)
                    midiInClose (handle);
            }
            else
            {
                HMIDIOUT handle = nullptr;
                result = midiOutOpen (&handle, (UINT) index, 0, 0, CALLBACK_NULL);

                if (result == MMSYSERR_NOERROR)
                    midiOutClose (handle);
            }

            return result == MMSYSERR_ALLOCATED;
        }
#endif
    };

    /** Guards JUCE's MIDI state for the whole process, whichever backend object calls it. */
    std::mutex& getJuceMidiLock()
    {
        static std::mutex juceMidiLock;
        return juceMidiLock;
    }
}

JuceMidiPortBackend::JuceMidiPortBackend()
    : serialised (std::make_unique<SerialisedMidiPortBackend> (std::make_unique<UnguardedJuceBackend>(), getJuceMidiLock(), sharing))
{
}

JuceMidiPortBackend::~JuceMidiPortBackend() = default;

juce::StringArray JuceMidiPortBackend::getInputNames() { return serialised->getInputNames(); }

juce::StringArray JuceMidiPortBackend::getOutputNames() { return serialised->getOutputNames(); }

std::unique_ptr<MidiPortSystem::Input> JuceMidiPortBackend::openInput (int index, MidiPortSystem::Input::Callback* callback)
{
    return serialised->openInput (index, callback);
}

std::unique_ptr<MidiPortSystem::Output> JuceMidiPortBackend::openOutput (int index)
{
    return serialised->openOutput (index);
}
