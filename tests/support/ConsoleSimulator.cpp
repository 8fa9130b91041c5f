#include "ConsoleSimulator.h"

#include <juce_events/juce_events.h>
#include <mutex>

namespace
{
    juce::String hexOf (const std::vector<juce::uint8>& bytes)
    {
        return juce::String::toHexString (bytes.data(), (int) bytes.size());
    }
}

// Everything the simulator knows, shared with the send observer so that a send arriving
// while the simulator is being destroyed never reaches freed memory.
struct ConsoleSimulator::State
{
    void receive (const juce::uint8* data, int numBytes)
    {
        const std::lock_guard<std::mutex> lock (mutex);

        for (int i = 0; i < numBytes; ++i)
            receiveByte (data[i]);

        // Each block must hold only whole messages: the plug-in hands over complete ones.
        if (! current.empty())
        {
            reject ("incomplete message at the end of a block: " + hexOf (current));
            current.clear();
        }
    }

    void receiveByte (juce::uint8 byte)
    {
        if (! current.empty() && current.front() == 0xf0)
        {
            current.push_back (byte);

            if (byte == 0xf7)
            {
                handleSysEx (current);
                current.clear();
            }
            else if (byte >= 0x80)
            {
                reject ("status byte inside a system-exclusive message: " + hexOf (current));
                current.clear();
            }

            return;
        }

        if (byte >= 0x80)
        {
            if (! current.empty())
                reject ("data byte of 0x80 or more, or a message cut short: " + hexOf (current) + " then " + juce::String::toHexString ((int) byte));

            current.assign (1, byte);

            if (byte != 0xb0 && byte != 0xf0)
            {
                reject ("status other than a controller on MIDI channel 1: " + juce::String::toHexString ((int) byte));
                current.clear();
            }

            return;
        }

        if (current.empty())
        {
            reject ("data byte without a status: " + juce::String::toHexString ((int) byte));
            return;
        }

        current.push_back (byte);

        if (current.size() == 3)
        {
            handleController (current[1], current[2]);
            current.clear();
        }
    }

    void handleController (int controller, int value)
    {
        ++totalMessages;

        if (controller <= 0x07)
        {
            pendingFader = controller;
            pendingFaderHigh = value;
            return;
        }

        if (controller >= 0x20 && controller <= 0x27)
        {
            const auto zone = controller - 0x20;

            if (pendingFader != zone)
            {
                reject ("low fader half without its high half, zone " + juce::String (zone));
                return;
            }

            if (value != 0x00 && value != 0x40)
                reject ("fader low half with bits the 8-bit level does not use: " + juce::String::toHexString (value));

            auto& strip = strips[zone];
            strip.faderHigh = pendingFaderHigh;
            strip.faderLevel = pendingFaderHigh * 2 + (value >= 0x40 ? 1 : 0);
            ++strip.levelMessages;
            pendingFader = -1;
            return;
        }

        pendingFader = -1;

        if (controller == 0x0c)
        {
            if (value > 7)
                reject ("zone select beyond zone 7: " + juce::String (value));

            selectedZone = value;
            return;
        }

        if (controller == 0x2c)
        {
            if (selectedZone < 0)
            {
                reject ("port switch without a selected zone");
                return;
            }

            if ((value & 0x0f) != 2 || (value & ~0x4f) != 0)
            {
                reject ("switch of an unknown port: " + juce::String::toHexString (value));
                return;
            }

            auto& strip = strips[selectedZone];
            strip.cut = (value & 0x40) != 0;
            ++strip.muteMessages;
            selectedZone = -1;
            return;
        }

        reject ("unknown controller " + juce::String::toHexString (controller));
    }

    void handleSysEx (const std::vector<juce::uint8>& bytes)
    {
        static const juce::uint8 header[] = { 0xf0, 0x00, 0x00, 0x66, 0x05, 0x00, 0x20 };

        if (bytes.size() != 28 || ! std::equal (std::begin (header), std::end (header), bytes.begin()) || bytes[7] > 7)
        {
            reject ("system-exclusive message that is not the strip message: " + hexOf (bytes));
            return;
        }

        // Printable ASCII text, then zeros only, at least one of them.
        juce::String text;
        size_t i = 8;

        for (; i < 27 && bytes[i] != 0; ++i)
        {
            if (bytes[i] < 0x20 || bytes[i] > 0x7e)
            {
                reject ("strip text byte outside printable ASCII: " + hexOf (bytes));
                return;
            }

            text += (juce::juce_wchar) bytes[i];
        }

        if (i == 27)
        {
            reject ("strip text without a closing zero: " + hexOf (bytes));
            return;
        }

        for (; i < 27; ++i)
        {
            if (bytes[i] != 0)
            {
                reject ("strip text continues after its zero: " + hexOf (bytes));
                return;
            }
        }

        ++totalMessages;
        auto& strip = strips[bytes[7]];
        strip.text = text;
        ++strip.nameMessages;
    }

    void reject (const juce::String& what) { malformed.add (what); }

    mutable std::mutex mutex;
    std::vector<juce::uint8> current;
    int pendingFader = -1, pendingFaderHigh = 0, selectedZone = -1;
    std::map<int, Strip> strips;
    juce::StringArray malformed;
    int totalMessages = 0;
};

ConsoleSimulator::ConsoleSimulator (VirtualMidiPortBackend& backendToUse, const juce::String& name)
    : backend (backendToUse)
    , portName (name)
    , state (std::make_shared<State>())
{
    backend.addInputPort (portName);
    backend.addOutputPort (portName);

    backend.addSendObserver ([weakState = std::weak_ptr<State> (state), name] (const juce::String& port, const juce::uint8* data, int numBytes)
                             {
        if (port == name)
            if (auto s = weakState.lock())
                s->receive (data, numBytes); });
}

ConsoleSimulator::Strip ConsoleSimulator::getStrip (int zone) const
{
    backend.waitUntilSent();
    const std::lock_guard<std::mutex> lock (state->mutex);
    const auto it = state->strips.find (zone);
    return it != state->strips.end() ? it->second : Strip();
}

juce::StringArray ConsoleSimulator::getMalformedTraffic() const
{
    backend.waitUntilSent();
    const std::lock_guard<std::mutex> lock (state->mutex);
    return state->malformed;
}

int ConsoleSimulator::getTotalMessages() const
{
    backend.waitUntilSent();
    const std::lock_guard<std::mutex> lock (state->mutex);
    return state->totalMessages;
}

void ConsoleSimulator::sendRaw (const std::vector<juce::MidiMessage>& messages)
{
    backend.deliver (portName, messages);
}

static juce::MidiMessage controller (int number, int value)
{
    return juce::MidiMessage::controllerEvent (1, number, value);
}

void ConsoleSimulator::touch (int zone) { sendRaw ({ controller (0x0f, zone), controller (0x2f, 0x40) }); }

void ConsoleSimulator::release (int zone) { sendRaw ({ controller (0x0f, zone), controller (0x2f, 0x00) }); }

void ConsoleSimulator::pressCut (int zone) { sendRaw ({ controller (0x0f, zone), controller (0x2f, 0x42) }); }

void ConsoleSimulator::releaseCut (int zone) { sendRaw ({ controller (0x0f, zone), controller (0x2f, 0x02) }); }

void ConsoleSimulator::moveTo (int zone, int position)
{
    sendRaw ({ controller (zone, (position >> 7) & 0x7f), controller (0x20 + zone, position & 0x7f) });
}

void ConsoleSimulator::sendPairAcrossTicks (const juce::MidiMessage& first, const juce::MidiMessage& second, int pauseMs)
{
    sendRaw ({ first });
    waitUntilDelivered();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (pauseMs);
    sendRaw ({ second });
}

void ConsoleSimulator::waitUntilDelivered()
{
    backend.waitUntilDelivered();
}

int ConsoleSimulator::eightBitLevelOf (float level)
{
    const auto clamped = std::isnan (level) ? 0.0f : juce::jlimit (0.0f, 1.0f, level);
    return ((int) (clamped * 65535.0f)) >> 8;
}
