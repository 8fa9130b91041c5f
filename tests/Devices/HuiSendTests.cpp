#include "DeviceFixture.h"

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    struct HuiSendTest : public DeviceFixture
        , public ::testing::WithParamInterface<const char*>
    {
    };

    const char* const allModels[] = { "Tarn16", "Tarn48-XL", "Mira" };
}

TEST_P (HuiSendTest, LevelMessagesCarryTheEightBitLevel)
{
    const struct
    {
        float level;
        const char* bytes;
    } cases[] = {
        { 1.0f, "B0 02 7F B0 22 40" },
        { 0.75f, "B0 02 5F B0 22 40" },
        { 0.5f, "B0 02 3F B0 22 40" },
        { 0.25f, "B0 02 1F B0 22 40" },
        { 0.0039f, "B0 02 00 B0 22 00" },
        { 256.0f / 65535.0f, "B0 02 00 B0 22 40" },
        { 0.0f, "B0 02 00 B0 22 00" },
        // Out of range and NaN are clamped, so no data byte of 0x80 or more reaches the console.
        { 1.5f, "B0 02 7F B0 22 40" },
        { std::numeric_limits<float>::infinity(), "B0 02 7F B0 22 40" },
        { -0.5f, "B0 02 00 B0 22 00" },
        { std::numeric_limits<float>::quiet_NaN(), "B0 02 00 B0 22 00" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.level);
        auto& device = useModel (GetParam()); // a fresh device has an empty level cache
        device.sendLevel (3, c.level);
        settle();
        EXPECT_EQ (sent(), (Strings { c.bytes }));
    }
}

TEST_P (HuiSendTest, TheLevelCacheSuppressesRepeatsOfTheEightBitLevelOnOneChannel)
{
    auto& device = useModel (GetParam());

    device.sendLevel (1, 1.0f); // the first send goes out, even at the initial 8-bit value
    settle();
    device.sendLevel (1, 1.0f); // repeat
    settle();
    device.sendLevel (1, 0.498f); // 127
    settle();
    device.sendLevel (1, 0.5f); // 127 again
    settle();
    device.sendLevel (1, 0.5001f);
    settle();
    device.sendLevel (2, 0.5001f); // the same level on another channel
    settle();
    device.sendLevel (0, 0.9f); // no channel chosen: nothing, and the cache is untouched
    settle();
    device.sendLevel (2, 0.5001f);
    settle();

    EXPECT_EQ (sent(), (Strings { "B0 00 7F B0 20 40", "B0 00 3F B0 20 40", "B0 00 40 B0 20 00", "B0 01 40 B0 21 00" }));
}

TEST_P (HuiSendTest, MuteMessagesAreSentOnEveryCall)
{
    auto& device = useModel (GetParam());

    device.sendMute (3, true);
    settle();
    device.sendMute (3, true);
    settle();
    device.sendMute (8, false);
    settle();
    device.sendMute (0, true);
    settle();
    device.sendMute (-7, true);
    settle();

    EXPECT_EQ (sent(), (Strings { "B0 0C 02 B0 2C 42", "B0 0C 02 B0 2C 42", "B0 0C 07 B0 2C 02" }));
}

TEST_P (HuiSendTest, ChannelsBelowOneSendNothing)
{
    auto& device = useModel (GetParam());

    for (int channel : { 0, -1, -7, -8, std::numeric_limits<int>::min() })
    {
        device.sendLevel (channel, 0.7f);
        settle();
        device.sendMute (channel, true);
        settle();
        device.sendChannelName (channel, "Kick");
        settle();
    }

    EXPECT_TRUE (sent().empty());
}

TEST_P (HuiSendTest, WithoutAnOutputNothingIsSentAndNothingIsRemembered)
{
    auto& device = useModel (GetParam());
    processor.setMidiOutput (-1);
    ASSERT_EQ (processor.midiOutput, nullptr);
    ASSERT_FALSE (processor.outbox.isAttached());

    device.sendLevel (1, 0.5f);
    settle();
    device.sendMute (1, true);
    settle();
    device.sendChannelName (1, "Kick");
    settle();

    // The console behind a port opened later has heard nothing, so the same level goes out.
    processor.setMidiOutput (0);
    device.sendLevel (1, 0.5f);
    settle();
    device.sendLevel (1, 0.5f);
    settle();
    device.sendLevel (1, 0.6f);
    settle();

    EXPECT_EQ (sent(), (Strings { "B0 00 3F B0 20 40", "B0 00 4C B0 20 40" }));
}

INSTANTIATE_TEST_SUITE_P (AllModels, HuiSendTest, ::testing::ValuesIn (allModels));

//==============================================================================
using TarnNameTest = DeviceFixture;

TEST_F (TarnNameTest, NamesFillTheScribbleStripMessage)
{
    const struct
    {
        std::string name;
        std::string text;
    } cases[] = {
        { "Kick", "Kick" },
        { "", "" },
        { "ABCDEFGHIJKLMNOPQR", "ABCDEFGHIJKLMNOPQR" },   // 18: one zero follows
        { "ABCDEFGHIJKLMNOPQRST", "ABCDEFGHIJKLMNOPQR" }, // 20: cut to 18
        { "Vox (lead) 1/2", "Vox (lead) 1/2" },
        { "Tab\there", "Tab?here" }, // control characters
        { "Del\x7f", "Del?" },
        { "Caf\xc3\xa9", "Caf?" },                              // one character outside ASCII, one '?'
        { "ABCDEFGHIJKLMNOPQ\xc3\xa9Z", "ABCDEFGHIJKLMNOPQ?" }, // a two-byte character at the end of the field
        { "\xe2\x99\xab Bass", "? Bass" },                      // a three-byte character
    };

    for (const char* model : { "Tarn16", "Tarn48-XL" })
    {
        auto& device = useModel (model);

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.name);
            ports.clearSentBlocks();
            device.sendChannelName (3, juce::String::fromUTF8 (c.name.c_str()));
            settle();
            EXPECT_EQ (sent(), (Strings { nameMessage (2, c.text) }));
        }
    }

    // Every call sends; channel 9 of a Tarn addresses zone 0.
    ports.clearSentBlocks();
    processor.device->sendChannelName (9, "A");
    settle();
    processor.device->sendChannelName (9, "A");
    settle();
    EXPECT_EQ (sent(), (Strings { nameMessage (0, "A"), nameMessage (0, "A") }));
}

TEST_F (TarnNameTest, MiraHasNoScribbleStrip)
{
    auto& device = useModel ("Mira");
    device.sendChannelName (1, "Kick");
    settle();
    device.sendChannelName (9, "");
    settle();
    EXPECT_TRUE (sent().empty());
}

TEST_F (TarnNameTest, MiraChannelsNineToSixteenShareTheZonesOfOneToEight)
{
    auto& device = useModel ("Mira");

    device.sendLevel (9, 1.0f);
    settle();
    device.sendMute (9, true);
    settle();
    device.sendLevel (16, 0.5f);
    settle();
    device.sendLevel (1, 0.5f); // zone 0 again, but another channel: sent although h repeats
    settle();

    EXPECT_EQ (sent(), (Strings { "B0 00 7F B0 20 40", "B0 0C 00 B0 2C 42", "B0 07 3F B0 27 40", "B0 00 3F B0 20 40" }));
}
