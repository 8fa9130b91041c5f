#include "DeviceSlot.h"
#include "../Ports/ConsoleOutbox.h"

#include <cstring>

DeviceSlot::DeviceSlot (ConsoleOutbox& outboxOfDevices)
    : outbox (outboxOfDevices)
{
}

DeviceSlot::~DeviceSlot() = default;

DeviceSlot::ReadScope::ReadScope (const DeviceSlot& slotToRead) noexcept
    : slot (slotToRead)
    , guardScope (slotToRead.readerGuard)
{
}

std::shared_ptr<QuillmereBaseDevice> DeviceSlot::replace (std::shared_ptr<QuillmereBaseDevice> newDevice)
{
    // Host threads may be sending through the old device: take it out of their reach and wait
    // until the sends in progress are done before it goes.
    deviceForReaders.store (nullptr);
    readerGuard.synchronise();
    auto oldDevice = std::exchange (device, std::move (newDevice));

    if (device != nullptr)
    {
        // A new device tells the console its level whatever was sent before.
        outbox.forgetLevelCache();
        deviceForReaders.store (device.get());
    }

    return oldDevice;
}

namespace
{
    /** The value's bits, so that a NaN compares equal to itself. */
    juce::uint32 bitsOf (float value) noexcept
    {
        juce::uint32 bits;
        std::memcpy (&bits, &value, sizeof (bits));
        return bits;
    }

    /** Posts what send() reads until what it read still holds after the post, so that of two
        threads sending at once the last post always carries the latest value and channel,
        without a lock. So that a real-time thread never spins for long, it stops after a few
        rounds and returns false: its last post may then be older than one another thread has
        made meanwhile, and the caller has the current value sent again later.
    */
    template<typename Read, typename Send>
    bool sendLatest (const DeviceSlot::ReadScope& scope, Read&& read, Send&& send) noexcept
    {
        constexpr int maxRounds = 16;

        for (int round = 0; round < maxRounds; ++round)
        {
            auto* device = scope.getDevice();

            if (device == nullptr)
                return true;

            const auto before = read();
            send (*device, before);

            if (read() == before && scope.getDevice() == device)
                return true;
        }

        return false;
    }
}

void DeviceSlot::sendLevel (const std::atomic<int>& channel, const juce::AudioProcessorParameter& level) noexcept
{
    const ReadScope scope (*this);

    const auto settled = sendLatest (
        scope,
        [&]
        { return std::make_pair (channel.load(), bitsOf (level.getValue())); },
        [] (QuillmereBaseDevice& d, std::pair<int, juce::uint32> read)
        {
            float value;
            std::memcpy (&value, &read.second, sizeof (value));
            d.sendLevel (read.first, value);
        });

    if (! settled)
        levelResendWanted.store (true);
}

void DeviceSlot::sendMute (const std::atomic<int>& channel, const juce::AudioProcessorParameter& mute) noexcept
{
    const ReadScope scope (*this);

    const auto settled = sendLatest (
        scope,
        [&]
        { return std::make_pair (channel.load(), mute.getValue() != 0.0f); },
        [] (QuillmereBaseDevice& d, std::pair<int, bool> read)
        { d.sendMute (read.first, read.second); });

    if (! settled)
        muteResendWanted.store (true);
}

void DeviceSlot::sendChannelName (const std::atomic<int>& channel, const juce::String& name)
{
    const ReadScope scope (*this);

    if (auto* d = scope.getDevice())
        d->sendChannelName (channel.load(), name);
}

void DeviceSlot::resendWhatGaveUp (const std::atomic<int>& channel, const StripParameters& parameters) noexcept
{
    if (levelResendWanted.exchange (false))
        sendLevel (channel, parameters.level);

    if (muteResendWanted.exchange (false))
        sendMute (channel, parameters.mute);
}
