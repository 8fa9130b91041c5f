// The channel name that follows the host's name of the track, and the name the user types.

#include "support/LinkedConsoleTest.h"
#include "support/TestHelpers.h"

#include <thread>

using namespace testing_helpers;

namespace
{
    /** The host tells the instance its track's name, as JUCE's wrappers pass it on. */
    void reportTrackName (QuillmereAudioProcessor& p, const juce::String& name)
    {
        juce::AudioProcessor::TrackProperties properties;
        properties.name = name;
        properties.colour = juce::Colours::orange;
        p.updateTrackProperties (properties);
    }

    juce::MemoryBlock save (QuillmereAudioProcessor& p)
    {
        juce::MemoryBlock chunk;
        p.getStateInformation (chunk);
        return chunk;
    }

    struct TrackNameTest : public LinkedConsoleTest
    {
    };
}

TEST_F (TrackNameTest, AReportedTrackNameReachesTheStripFittedAndFollowsRenames)
{
    auto& p = link ("Tarn16", 3);
    ASSERT_TRUE (waitUntilSent (p));
    const auto namesBefore = console.getStrip (2).nameMessages;

    // Each report posts the name itself: the port's sender writes it while the message loop,
    // and with it the instance's timer, does not run at all.
    reportTrackName (p, "Lead Vocal 2");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (2).text, "LeadVcl2");

    reportTrackName (p, "Kick In");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (2).text, "KickIn");

    // A rename that the strip shows the same way, and a report without a name (the host does
    // not know it), send nothing.
    reportTrackName (p, "Kick  In");
    reportTrackName (p, "");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (2).nameMessages, namesBefore + 2);
    EXPECT_EQ (p.getChannelName(), "KickIn");
    EXPECT_TRUE (p.isChannelNameFollowingTrack());

    // Saved as the name it is, and as one that follows the track.
    const auto xml = savedXml (p);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getStringAttribute ("channelName"), "KickIn");
    EXPECT_EQ (xml->getStringAttribute ("channelNameFollowsTrack"), "1");
    EXPECT_EQ (xml->getAttributeName (xml->getNumAttributes() - 1), "channelNameFollowsTrack");
}

TEST_F (TrackNameTest, ATypedNameWinsOverRenamesAndAnEmptyOneFollowsTheTrackAgain)
{
    auto& p = link ("Tarn48-XL", 2);
    reportTrackName (p, "Kick In");

    p.setChannelName ("BD");
    reportTrackName (p, "Kick Out");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (1).text, "BD");
    EXPECT_FALSE (p.isChannelNameFollowingTrack());

    // A typed name is saved as every name was before names could follow the track.
    auto xml = savedXml (p);
    ASSERT_NE (xml, nullptr);
    EXPECT_EQ (xml->getStringAttribute ("channelName"), "BD");
    EXPECT_FALSE (xml->hasAttribute ("channelNameFollowsTrack"));

    // Clearing it shows the track's present name at once, and renames follow again.
    p.setChannelName ({});
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (1).text, "KickOut");
    EXPECT_TRUE (p.isChannelNameFollowingTrack());

    reportTrackName (p, "Kick Sub");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (1).text, "KickSub");

    // Handing back the name it follows (as a closing window does) keeps it following.
    p.setChannelName ("KickSub");
    reportTrackName (p, "Kick Top");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (1).text, "KickTop");

    // A typed name that happens to equal the fitted one is still the user's.
    p.setChannelName ("Snare");
    p.setChannelName ("KickTop");
    reportTrackName (p, "Kick Low");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (1).text, "KickTop");
}

TEST_F (TrackNameTest, OnAModelWithoutStripsTheTrackNameIsKeptAsTheName)
{
    auto& p = link ("Mira", 5);
    ASSERT_TRUE (waitUntilSent (p));
    ports.clearSentBlocks();

    reportTrackName (p, "Lead Vocal 2");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (p.getChannelName(), "LeadVcl2");
    EXPECT_TRUE (ports.getSentBlocks().empty());

    // A model with strips shows it.
    p.setDevice ("Tarn16");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (4).text, "LeadVcl2");
}

TEST_F (TrackNameTest, RestoresWhetherTheNameFollowsTheTrack)
{
    const juce::String linked = R"(<QUILLMERESETTINGS midiInName="Tarn16 Automation" midiOutName="Tarn16 Automation" fader="0.5" cut="0" channel="2" )";

    const struct
    {
        const char* description;
        const char* attributes;
        const char* reportedBefore; // the track's name, told before the restore; null for none
        const char* reportedAfter;  // and after it
        const char* name;
        bool follows;
        bool savesTheSameChunk;
    } cases[] = {
        { "an old project's typed name survives renames", R"(channelName="BD" deviceName="Tarn16")", nullptr, "Kick In", "BD", false, true },
        { "an old project's typed name wins over a name told before", R"(channelName="BD" deviceName="Tarn16")", "Kick In", nullptr, "BD", false, true },
        { "an old project without a name follows the track", R"(channelName="" deviceName="Tarn16")", nullptr, "Kick In", "KickIn", true, false },
        { "a followed name waits for the host's report", R"(channelName="KickIn" deviceName="Tarn16" channelNameFollowsTrack="1")", nullptr, nullptr, "KickIn", true, true },
        { "a followed name becomes the renamed track's", R"(channelName="KickIn" deviceName="Tarn16" channelNameFollowsTrack="1")", nullptr, "Snare Top", "SnareTop", true, false },
        { "a followed name is the track's present name when the host told it first", R"(channelName="KickIn" deviceName="Tarn16" channelNameFollowsTrack="1")", "Snare Top", nullptr, "SnareTop", true, false },
        { "a flag of 0 is a typed name", R"(channelName="BD" deviceName="Tarn16" channelNameFollowsTrack="0")", nullptr, "Kick In", "BD", false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.description);
        const auto chunk = chunkFrom (linked + c.attributes + "/>");
        QuillmereAudioProcessor p;

        if (c.reportedBefore != nullptr)
            reportTrackName (p, c.reportedBefore);

        p.setStateInformation (chunk.getData(), (int) chunk.getSize());

        if (c.reportedAfter != nullptr)
            reportTrackName (p, c.reportedAfter);

        EXPECT_EQ (p.getChannelName(), c.name);
        EXPECT_EQ (p.isChannelNameFollowingTrack(), c.follows);
        ASSERT_TRUE (waitUntilSent (p));
        EXPECT_EQ (console.getStrip (1).text, c.name);

        if (c.savesTheSameChunk)
        {
            EXPECT_EQ (save (p), chunk);
        }
    }
}

TEST_F (TrackNameTest, ReportsFromAHostThreadAndNamesFromTheWindowEndInOneConsistentName)
{
    auto& p = link ("Tarn16", 1);
    std::atomic<bool> reported { false };

    std::thread host ([&]
                      {
        for (int i = 0; i < 300; ++i)
            reportTrackName (p, "Track " + juce::String (i));

        reported = true; });

    for (int i = 0; ! reported.load(); ++i)
    {
        p.setChannelName (i % 2 == 0 ? "Typed" : "");
        juce::MemoryBlock chunk;
        p.getStateInformation (chunk);
    }

    host.join();

    // Whatever the order was, following the track now shows its last name, on the console too.
    p.setChannelName ({});
    EXPECT_EQ (p.getChannelName(), "Track299");
    ASSERT_TRUE (waitUntilSent (p));
    EXPECT_EQ (console.getStrip (0).text, "Track299");
}
