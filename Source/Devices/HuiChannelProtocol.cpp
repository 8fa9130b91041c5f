#include "HuiChannelProtocol.h"

namespace
{
    constexpr juce::uint8 controllerStatus = 0xb0; // controller change, MIDI channel 1
    constexpr int zoneSelectController = 0x0c;
    constexpr int portController = 0x2c;
    constexpr int reportZoneController = 0x0f;
    constexpr int lowPartOffset = 0x20;

    constexpr int portTouched = 0x40;
    constexpr int portReleased = 0x00;
    constexpr int mutePressed = 0x42;
    constexpr int muteReleased = 0x02;

    constexpr int nameTextBytes = 18;
    constexpr int nameFieldBytes = nameTextBytes + 1;

    using Change = QuillmereBaseDevice::ParameterChange;

    bool isChannelOneController (const juce::MidiMessage& message)
    {
        return message.getRawDataSize() >= 3 && message.getRawData()[0] == controllerStatus;
    }
}

HuiChannelProtocol::HuiChannelProtocol (ConsoleOutbox& outboxToPostTo)
    : outbox (outboxToPostTo)
{
}

HuiChannelProtocol::~HuiChannelProtocol() = default;

int HuiChannelProtocol::zoneForChannel (int channel) noexcept
{
    return channel >= 1 ? (channel - 1) % 8 : -1;
}

int HuiChannelProtocol::levelToEightBits (float level) noexcept
{
    // NaN fails both comparisons and ends up as 0.0.
    const auto clamped = level > 0.0f ? (level < 1.0f ? level : 1.0f) : 0.0f;
    const auto v = (int) (clamped * 65535.0f);
    return v >> 8;
}

float HuiChannelProtocol::positionToLevel (int position) noexcept
{
    return (float) (position * 4) / 65535.0f;
}

juce::MidiMessage HuiChannelProtocol::makeLevelMessage (int zone, int eightBitLevel)
{
    const juce::uint8 bytes[] = { controllerStatus, (juce::uint8) zone, (juce::uint8) (eightBitLevel >> 1),
                                  controllerStatus, (juce::uint8) (lowPartOffset + zone), (juce::uint8) ((eightBitLevel & 1) != 0 ? 0x40 : 0x00) };
    return juce::MidiMessage (bytes, (int) sizeof (bytes));
}

juce::MidiMessage HuiChannelProtocol::makeMuteMessage (int zone, bool muted)
{
    const juce::uint8 bytes[] = { controllerStatus, zoneSelectController, (juce::uint8) zone,
                                  controllerStatus, portController, (juce::uint8) (muted ? mutePressed : muteReleased) };
    return juce::MidiMessage (bytes, (int) sizeof (bytes));
}

juce::MidiMessage HuiChannelProtocol::makeChannelNameMessage (int zone, const juce::String& name)
{
    juce::uint8 bytes[28] = { 0xf0, 0x00, 0x00, 0x66, 0x05, 0x00, 0x20, (juce::uint8) zone };

    auto* text = bytes + 8;
    int length = 0;

    for (auto c = name.getCharPointer(); ! c.isEmpty() && length < nameTextBytes;)
    {
        const auto character = c.getAndAdvance();
        text[length++] = (juce::uint8) ((character >= 0x20 && character <= 0x7e) ? character : '?');
    }

    static_assert (8 + nameFieldBytes + 1 == sizeof (bytes), "the text field ends right before the end byte");
    bytes[27] = 0xf7;
    return juce::MidiMessage (bytes, (int) sizeof (bytes));
}

void HuiChannelProtocol::sendLevel (int channel, float level)
{
    const auto zone = zoneForChannel (channel);

    // The outbox compares with what the console last received when it writes, and drops the
    // message while no port is open, so that nothing is remembered that the console never heard.
    if (zone >= 0)
        outbox.postLevel (channel, makeLevelMessage (zone, levelToEightBits (level)));
}

void HuiChannelProtocol::sendMute (int channel, bool muted)
{
    const auto zone = zoneForChannel (channel);

    if (zone >= 0)
        outbox.postMute (makeMuteMessage (zone, muted));
}

void HuiChannelProtocol::sendChannelName (int channel, const juce::String& name)
{
    const auto zone = zoneForChannel (channel);

    if (zone >= 0)
        outbox.postName (makeChannelNameMessage (zone, name));
}

void HuiChannelProtocol::setTouching (bool shouldBeTouching, QuillmereBaseDevice::ParameterChanges& changes)
{
    if (shouldBeTouching == touching)
        return;

    touching = shouldBeTouching;
    changes.push_back ({ touching ? Change::Kind::beginGesture : Change::Kind::endGesture, ParameterIndex::level });
}

QuillmereBaseDevice::ParameterChanges HuiChannelProtocol::parseIncomingMidi (int channel, const juce::MidiBuffer& messages)
{
    QuillmereBaseDevice::ParameterChanges changes;

    // A touch belongs to the channel it began on: another channel ends it before anything of
    // this batch is looked at.
    if (channel != lastIncomingChannel && touching)
        setTouching (false, changes);

    lastIncomingChannel = channel;

    const auto zone = zoneForChannel (channel);
    bool touchSeen = false, releaseSeen = false, levelSeen = false;
    float newLevel = 0.0f;

    for (const auto metadata : messages)
    {
        const auto message = metadata.getMessage();

        // Notes, other MIDI channels and system messages take no part and do not break a pair.
        if (! isChannelOneController (message))
            continue;

        const auto controller = (int) message.getRawData()[1];
        const auto value = (int) message.getRawData()[2];

        if (pendingMessage == nullptr)
        {
            if (controller <= 0x07 || controller == reportZoneController)
                pendingMessage = std::make_unique<juce::MidiMessage> (message);

            continue;
        }

        const auto firstController = (int) pendingMessage->getRawData()[1];
        const auto firstValue = (int) pendingMessage->getRawData()[2];
        pendingMessage.reset();

        if (controller != firstController + lowPartOffset)
            continue;

        if (firstController == zone)
        {
            newLevel = positionToLevel (firstValue * 128 + value);
            levelSeen = true;
        }
        else if (firstController == reportZoneController && firstValue == zone)
        {
            switch (value)
            {
                case portTouched:
                    touchSeen = true;
                    break;
                case portReleased:
                    releaseSeen = true;
                    break;
                case mutePressed:
                    changes.push_back ({ Change::Kind::beginGesture, ParameterIndex::mute });
                    changes.push_back ({ Change::Kind::toggle, ParameterIndex::mute });
                    break;
                case muteReleased:
                    changes.push_back ({ Change::Kind::endGesture, ParameterIndex::mute });
                    break;
                default:
                    break;
            }
        }
    }

    if (touchSeen)
        setTouching (true, changes);

    // Set only where it differs from the level when applied.
    if (levelSeen)
        changes.push_back ({ Change::Kind::setValue, ParameterIndex::level, newLevel });

    if (releaseSeen)
        setTouching (false, changes);

    return changes;
}
