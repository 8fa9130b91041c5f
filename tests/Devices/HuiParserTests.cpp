#include "Devices/HuiChannelProtocol.h"

#include "DeviceFixture.h"

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    struct HuiParserTest : public DeviceFixture
        , public ::testing::WithParamInterface<const char*>
    {
        HuiParserTest() { useModel (GetParam()); }

        float level() const { return processor.faderParameter->getValue(); }
        float mute() const { return processor.muteParameter->getValue(); }
    };

    const Strings touchZone2 { "B0 0F 02", "B0 2F 40" };
    const Strings releaseZone2 { "B0 0F 02", "B0 2F 00" };

    Strings concat (std::initializer_list<Strings> parts)
    {
        Strings out;
        for (const auto& p : parts)
            out.insert (out.end(), p.begin(), p.end());
        return out;
    }
}

TEST_P (HuiParserTest, FaderPositionsBecomeLevels)
{
    incoming (4, { "B0 03 40", "B0 23 00" });
    EXPECT_FLOAT_EQ (level(), (float) (0x2000 * 4) / 65535.0f);
    EXPECT_NEAR (level(), 0.500008f, 1e-6);

    // The top position gives 65532/65535, never exactly 1.0.
    incoming (4, { "B0 03 7F", "B0 23 7F" });
    EXPECT_FLOAT_EQ (level(), 65532.0f / 65535.0f);

    // A pair for another zone changes nothing.
    incoming (3, { "B0 03 10", "B0 23 00" });
    EXPECT_FLOAT_EQ (level(), 65532.0f / 65535.0f);

    EXPECT_EQ (host.describe(), (Strings { "value 0 0.50", "value 0 1.00" }));
}

TEST_P (HuiParserTest, APositionEqualToTheCurrentValueIsNotApplied)
{
    processor.faderParameter->setValue (HuiChannelProtocol::positionToLevel (0x2000));
    incoming (4, { "B0 03 40", "B0 23 00" });
    EXPECT_TRUE (host.describe().empty());
}

TEST_P (HuiParserTest, TouchMovesAndReleaseInOneBatchMakeOneGestureWithTheLastPosition)
{
    incoming (3, concat ({ touchZone2, { "B0 02 10", "B0 22 00", "B0 02 20", "B0 22 00", "B0 02 40", "B0 22 00" }, releaseZone2 }));

    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.50", "end 0" }));

    // A release followed by a touch in one batch has the same order of effects: no touch remains.
    host.clear();
    incoming (3, concat ({ releaseZone2, { "B0 02 33", "B0 22 00" }, touchZone2 }));
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.40", "end 0" }));
    EXPECT_FALSE (processor.faderParameter->changeManager->isAnyActive());
}

TEST_P (HuiParserTest, ATouchSpansBatchesAndEndsWhenTheChannelChanges)
{
    incoming (3, touchZone2);
    incoming (3, { "B0 02 20", "B0 22 00" });
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.25" }));

    // Another channel ends the touch before any of its messages is parsed, even a touch of
    // the new channel's zone.
    incoming (4, { "B0 0F 03", "B0 2F 40" });
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.25", "end 0", "begin 0" }));

    incoming (4, { "B0 0F 03", "B0 2F 00" });
    EXPECT_FALSE (host.anyGestureOpen());
}

TEST_P (HuiParserTest, CutPressesToggleInsideAMuteGesture)
{
    processor.channel = 3;
    incoming (3, { "B0 0F 02", "B0 2F 42" });
    EXPECT_EQ (mute(), 1.0f);
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 1.00" }));
    EXPECT_EQ (sent(), (Strings { "B0 0C 02 B0 2C 42" })); // answered at once

    incoming (3, { "B0 0F 02", "B0 2F 02" });
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 1.00", "end 1" }));

    // Two presses in one batch toggle twice.
    host.clear();
    incoming (3, { "B0 0F 02", "B0 2F 42", "B0 0F 02", "B0 2F 42", "B0 0F 02", "B0 2F 02" });
    EXPECT_EQ (mute(), 1.0f);
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 0.00", "value 1 1.00", "end 1" }));
}

TEST_P (HuiParserTest, PairsSurviveInterleavedTrafficAndSplitBatches)
{
    // A note, a controller on MIDI channel 2 and a SysEx between the halves do not break a pair.
    incoming (4, { "B0 03 40", "90 3C 7F", "B1 23 10", "F0 00 00 66 05 00 F7", "B0 23 00" });
    EXPECT_NEAR (level(), 0.500008f, 1e-6);

    // The halves of a pair may arrive in two timer ticks.
    incoming (4, { "B0 03 20" });
    EXPECT_NEAR (level(), 0.500008f, 1e-6);
    incoming (4, { "B0 23 00" });
    EXPECT_FLOAT_EQ (level(), HuiChannelProtocol::positionToLevel (0x1000));
}

TEST_P (HuiParserTest, ABrokenPairIsDiscardedAndNotReplaced)
{
    const std::vector<Strings> batches {
        { "B0 03 40", "B0 05 10", "B0 23 00" }, // the second discards the first, the third finds none
        { "B0 23 00" },                         // a second half alone
        { "B0 10 40", "B0 30 00" },             // controllers that start no pair
        { "B0 0F 03", "B0 2F 41" },             // another port value
        { "B0 0F 03", "B0 2F 42", "B0 0F 03" }, // pending first half left over ...
    };

    for (const auto& batch : batches)
        incoming (4, batch);

    EXPECT_EQ (level(), 0.0f);
    EXPECT_EQ (mute(), 1.0f); // only the complete press counted

    // ... which pairs with the next batch's second half: the release ends the gesture.
    incoming (4, { "B0 2F 02" });
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 1.00", "end 1" }));
}

TEST_P (HuiParserTest, ChannelZeroChangesNothing)
{
    incoming (0, concat ({ touchZone2, { "B0 02 40", "B0 22 00", "B0 0F 02", "B0 2F 42" }, releaseZone2, { "B0 00 40", "B0 20 00", "B0 0F 00", "B0 2F 42" } }));
    EXPECT_TRUE (host.describe().empty());
    EXPECT_TRUE (sent().empty());
}

INSTANTIATE_TEST_SUITE_P (AllModels, HuiParserTest, ::testing::Values ("Tarn16", "Tarn48-XL", "Mira"));

//==============================================================================
using MiraParserTest = DeviceFixture;

TEST_F (MiraParserTest, ChannelNineFollowsZoneZero)
{
    useModel ("Mira");

    incoming (9, { "B0 0F 00", "B0 2F 40", "B0 00 40", "B0 20 00" });
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.50" }));

    // From channel 9 to channel 1 on the same device still counts as a change of channel.
    incoming (1, {});
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.50", "end 0" }));
}
