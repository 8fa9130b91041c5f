// The track's name as a VST3 host tells it: JUCE's hosting classes pass a name on through the
// plug-in's channel-context interface (IInfoListener::setChannelContextInfos), as Ardour does.
// The plug-in's wrapper hands it on to the instance on its own message thread, so what the
// instance saves is waited for.

#include "HostHelpers.h"

#include <gtest/gtest.h>

using namespace host_helpers;

namespace
{
    std::unique_ptr<juce::AudioPluginInstance> loadVst3()
    {
        juce::String error;
        auto instance = loadPlugin ("VST3", error);
        EXPECT_NE (instance, nullptr) << error;
        return instance;
    }

    /** The host tells the plug-in its track's name, and the track's colour with it. */
    void nameTrack (juce::AudioPluginInstance& instance, const juce::String& name)
    {
        juce::AudioProcessor::TrackProperties properties;
        properties.name = name;
        properties.colour = juce::Colours::teal;
        instance.updateTrackProperties (properties);
    }

    /** The channel name the instance saves, and whether it says that the name follows the track. */
    std::pair<juce::String, juce::String> savedName (juce::AudioPluginInstance& instance)
    {
        const auto xml = readSettingsChunk (readPluginChunk (instance));

        if (xml == nullptr)
            return { "(no chunk)", {} };

        return { xml->getStringAttribute ("channelName"), xml->getStringAttribute ("channelNameFollowsTrack", "(absent)") };
    }

    using Named = std::pair<juce::String, juce::String>;

    /** What savedName answers once it answers the expected name, or after 5 seconds. */
    Named waitForSavedName (juce::AudioPluginInstance& instance, const Named& expected)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + 5000;
        auto saved = savedName (instance);

        while (saved != expected && juce::Time::getMillisecondCounter() < deadline)
        {
            juce::Thread::sleep (5);
            saved = savedName (instance);
        }

        return saved;
    }

    /** The processor's own chunk in what the VST3 component saves: JUCE's framing of the XML
        text, without the data the wrapper appends after it.
    */
    juce::MemoryBlock processorChunkOf (const juce::MemoryBlock& saved)
    {
        constexpr size_t headerSize = 8;

        if (saved.getSize() < headerSize)
            return {};

        const auto size = headerSize + juce::ByteOrder::littleEndianInt (static_cast<const char*> (saved.getData()) + 4) + 1;
        return size <= saved.getSize() ? juce::MemoryBlock (saved.getData(), size) : juce::MemoryBlock();
    }

    // Ports the test machine lacks, named so that the restore does not go looking for defaults.
    const juce::String linkedToStrip3 = R"(<QUILLMERESETTINGS midiInName="Desk" midiOutName="Desk" fader="0.5" cut="0" channel="3" )";
}

TEST (Vst3TrackName, TheChannelContextsNameIsSavedFittedAndFollowsRenames)
{
    const auto instance = loadVst3();
    ASSERT_NE (instance, nullptr);
    ASSERT_TRUE (writePluginChunk (*instance, makeSettingsChunk (linkedToStrip3 + R"(channelName="" deviceName="Tarn16"/>)")));

    nameTrack (*instance, "Lead Vocal 2");
    EXPECT_EQ (waitForSavedName (*instance, { "LeadVcl2", "1" }), (Named { "LeadVcl2", "1" }));

    nameTrack (*instance, "Kick In");
    EXPECT_EQ (waitForSavedName (*instance, { "KickIn", "1" }), (Named { "KickIn", "1" }));

    // A second instance restored from the first saves the same chunk, and follows its own track.
    const auto restored = loadVst3();
    ASSERT_NE (restored, nullptr);
    const auto chunk = readPluginChunk (*instance);
    ASSERT_TRUE (writePluginChunk (*restored, chunk));
    EXPECT_EQ (processorChunkOf (readPluginChunk (*restored)), processorChunkOf (chunk));

    nameTrack (*restored, "Gtr L/R");
    EXPECT_EQ (waitForSavedName (*restored, { "GtrL/R", "1" }), (Named { "GtrL/R", "1" }));
}

TEST (Vst3TrackName, ATypedNameOfAnOldProjectSurvivesRenamesByteForByte)
{
    const auto instance = loadVst3();
    const auto witness = loadVst3();
    ASSERT_NE (instance, nullptr);
    ASSERT_NE (witness, nullptr);

    // As the plug-in saved it before names could follow the track.
    const auto oldProject = makeSettingsChunk (linkedToStrip3 + R"(channelName="BD" deviceName="Tarn48-XL"/>)");
    ASSERT_TRUE (writePluginChunk (*instance, oldProject));
    EXPECT_EQ (processorChunkOf (readPluginChunk (*instance)), oldProject);

    // The wrapper hands reports on in order, on one message thread for every instance of the
    // module: once a later report to another instance has arrived, the renames have too.
    nameTrack (*instance, "Kick In");
    nameTrack (*instance, "Kick Out");
    nameTrack (*witness, "Snare");
    ASSERT_EQ (waitForSavedName (*witness, { "Snare", "1" }), (Named { "Snare", "1" }));

    EXPECT_EQ (processorChunkOf (readPluginChunk (*instance)), oldProject);

    // The same project without a name follows the track, whose last name the instance kept.
    ASSERT_TRUE (writePluginChunk (*instance, makeSettingsChunk (linkedToStrip3 + R"(channelName="" deviceName="Tarn48-XL"/>)")));
    EXPECT_EQ (savedName (*instance), (Named { "KickOut", "1" }));
}
