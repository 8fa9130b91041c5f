#include "Devices/DeviceSlot.h"
#include "Ports/ConsoleOutbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace
{
    /** A device that sends and parses nothing: the slot only holds it. */
    class SilentDevice final : public QuillmereBaseDevice
    {
    public:
        explicit SilentDevice (const StripParameters& parametersToChange)
            : QuillmereBaseDevice (parametersToChange)
        {
        }

        void sendLevel (int, float) override {}
        void sendMute (int, bool) override {}
        void sendChannelName (int, const juce::String&) override {}
        ParameterChanges parseIncomingMidi (int, const juce::MidiBuffer&) override { return {}; }
        juce::String getModelName() const override { return "Silent"; }
        int getNumChannels() const override { return 1; }
        bool supportsChannelNames() const override { return false; }
        juce::String getDefaultMidiInputName (int) const override { return {}; }
        juce::String getDefaultMidiOutputName (int) const override { return {}; }
    };

    /** Whether a reader entering now finds no device, asked until it does or the time is up. */
    bool readersFindNoDevice (const DeviceSlot& slot)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (5);

        while (DeviceSlot::ReadScope (slot).getDevice() != nullptr)
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;

            std::this_thread::yield();
        }

        return true;
    }
}

// A reader inside its scope keeps the device it found alive: the replacement takes the device out
// of new readers' reach at once, but puts the next one in place and hands the old one back only
// once that reader has left.
TEST (DeviceSlot, AReplaceTakesTheDeviceFromReadersAndWaitsForThoseStillUsingIt)
{
    FaderParameter level;
    BooleanParameter mute;
    const StripParameters parameters { level, mute };
    ConsoleOutbox outbox;
    DeviceSlot slot (outbox);

    const auto first = std::make_shared<SilentDevice> (parameters);
    const auto second = std::make_shared<SilentDevice> (parameters);
    EXPECT_EQ (slot.replace (first), nullptr);

    std::promise<void> entered, mayLeave;

    std::thread reader ([&]
                        {
        const DeviceSlot::ReadScope scope (slot);
        EXPECT_EQ (scope.getDevice(), first.get());
        entered.set_value();
        mayLeave.get_future().wait(); });

    entered.get_future().wait();

    auto replacement = std::async (std::launch::async, [&]
                                   { return slot.replace (second); });

    EXPECT_TRUE (readersFindNoDevice (slot));
    EXPECT_EQ (replacement.wait_for (std::chrono::milliseconds (200)), std::future_status::timeout)
        << "the replacement went on while a reader still used the old device";

    mayLeave.set_value();
    reader.join();

    EXPECT_EQ (replacement.get(), first);
    EXPECT_EQ (slot.getDevice(), second);
    EXPECT_EQ (DeviceSlot::ReadScope (slot).getDevice(), second.get());

    // The devices go before the parameters they registered with.
    EXPECT_EQ (slot.replace (nullptr), second);
}
