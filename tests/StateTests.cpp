#include "QuillmereAudioProcessor.h"
#include "QuillmereSettingsChunk.h"

#include "support/ConsoleSimulator.h"
#include "support/HostRecorder.h"
#include "support/SettingsPrinter.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    juce::MemoryBlock save (QuillmereAudioProcessor& p)
    {
        juce::MemoryBlock chunk;
        p.getStateInformation (chunk);
        return chunk;
    }

    void restore (QuillmereAudioProcessor& p, const juce::MemoryBlock& chunk)
    {
        p.setStateInformation (chunk.getData(), (int) chunk.getSize());
    }

    /** The Tarn16's console on its default ports, and a second pair of ports. */
    struct StateTest : public ::testing::Test
    {
        StateTest()
        {
            ports.install();
            ports.addInputPort ("Studio In");
            ports.addOutputPort ("Studio Out");
        }

        ~StateTest() override
        {
            fresh.reset();
            EXPECT_TRUE (console.getMalformedTraffic().isEmpty()) << console.getMalformedTraffic().joinIntoString ("\n");
        }

        Strings sentToConsole() const { return hex (ports.getSentBlocks (console.getPortName())); }

        VirtualMidiPortBackend ports;
        ConsoleSimulator console { ports, "Tarn16 Automation" };
        std::unique_ptr<QuillmereAudioProcessor> fresh = std::make_unique<QuillmereAudioProcessor>();
    };
}

TEST_F (StateTest, ASavedInstanceIsRestoredIntoAFreshOneWithNothingLost)
{
    QuillmereAudioProcessor original;
    original.setMidiInput (MidiPortSystem::getInputNames().indexOf ("Tarn16 Automation"));
    original.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Tarn16 Automation"));
    original.setDevice ("Tarn48-XL");
    original.channel = 6;
    original.setChannelName ("Lead Vox");
    original.faderParameter->setValue (0.6f);
    original.muteParameter->setValue (1.0f);

    const auto xml = savedXml (original);
    ASSERT_NE (xml, nullptr);
    EXPECT_TRUE (xml->hasTagName ("QUILLMERESETTINGS"));
    EXPECT_EQ (xml->getNumChildElements(), 0);

    juce::StringArray attributes;
    for (int i = 0; i < xml->getNumAttributes(); ++i)
        attributes.add (xml->getAttributeName (i));
    EXPECT_EQ (attributes, juce::StringArray ({ "midiInName", "midiOutName", "fader", "cut", "channel", "channelName", "deviceName" }));
    EXPECT_EQ (xml->getStringAttribute ("cut"), "1");
    EXPECT_EQ (xml->getStringAttribute ("channel"), "6");
    EXPECT_EQ (xml->getStringAttribute ("deviceName"), "Tarn48-XL");

    const auto chunk = save (original);
    ports.clearSentBlocks();

    // The console's line is held busy while the state is restored, so that what the restore
    // makes in one burst coalesces the same way whatever the timing.
    ports.setSendsHeld (console.getPortName(), true);
    restore (*fresh, chunk);
    ports.setSendsHeld (console.getPortName(), false);

    auto& p = *fresh;
    EXPECT_EQ (p.getDeviceModelName(), "Tarn48-XL");
    EXPECT_EQ (p.channel.load(), 6);
    EXPECT_EQ (p.midiInName, "Tarn16 Automation");
    EXPECT_EQ (p.midiOutName, "Tarn16 Automation");
    EXPECT_NE (p.midiInput, nullptr);
    EXPECT_NE (p.midiOutput, nullptr);
    EXPECT_TRUE (p.isTimerRunning());
    EXPECT_EQ (p.faderParameter->getValue(), 0.6f);
    EXPECT_EQ (p.muteParameter->getValue(), 1.0f);
    EXPECT_EQ (p.getChannelName(), "Lead Vox");

    // Nothing went out before the output was open; then the level (its repeat is cached), the
    // mute (sent twice, the second replacing the first while the line was busy) and the name,
    // in this order.
    EXPECT_EQ (sentToConsole(), (Strings { "B0 05 4C B0 25 40", "B0 0C 05 B0 2C 42", nameMessage (5, "Lead Vox") }));

    // Saving again writes back what was restored.
    EXPECT_EQ (save (p), chunk);
}

TEST_F (StateTest, AnInstanceSavesTheSettingsItHolds)
{
    using Settings = QuillmereSettingsChunk::Settings;

    const auto inputIndex = [] (const char* name)
    { return MidiPortSystem::getInputNames().indexOf (name); };
    const auto outputIndex = [] (const char* name)
    { return MidiPortSystem::getOutputNames().indexOf (name); };

    const struct
    {
        const char* description;
        std::function<void (QuillmereAudioProcessor&)> setUp;
        Settings saved;
        bool portsOpen;
    } cases[] = {
        { "fresh", [] (QuillmereAudioProcessor&) {}, { "", "", 0.0f, false, 0, "", "" }, false },
        { "linked",
          [&] (QuillmereAudioProcessor& p)
          {
              p.setMidiInput (inputIndex ("Tarn16 Automation"));
              p.setMidiOutput (outputIndex ("Studio Out"));
              p.setDevice ("Tarn48-XL");
              p.channel = 6;
              p.setChannelName ("Lead Vox");
              p.faderParameter->setValue (0.6f);
              p.muteParameter->setValue (1.0f);
          },
          { "Tarn16 Automation", "Studio Out", 0.6f, true, 6, "Lead Vox", "Tarn48-XL" },
          true },
        { "its device removed and its ports refusing to open, so only wanted",
          [&] (QuillmereAudioProcessor& p)
          {
              p.setDevice ("Mira");
              p.setDevice ("");
              ports.setFailOpens ("Studio In", true);
              ports.setFailOpens ("Studio Out", true);
              p.setMidiInput (inputIndex ("Studio In"));
              p.setMidiOutput (outputIndex ("Studio Out"));
              p.channel = 12;
              p.faderParameter->setValue (1.5f);
          },
          { "Studio In", "Studio Out", 1.5f, false, 12, "", "" },
          false },
        { "following the track's name the host reported",
          [] (QuillmereAudioProcessor& p)
          {
              p.setDevice ("Tarn16");
              p.setChannel (4);
              juce::AudioProcessor::TrackProperties track;
              track.name = "Lead Vocal 2";
              p.updateTrackProperties (track);
          },
          { "", "", 0.0f, false, 4, "LeadVcl2", "Tarn16", true },
          false },
        { "a typed name after the host reported the track's",
          [] (QuillmereAudioProcessor& p)
          {
              juce::AudioProcessor::TrackProperties track;
              track.name = "Lead Vocal 2";
              p.updateTrackProperties (track);
              p.setChannelName ("Vox");
          },
          { "", "", 0.0f, false, 0, "Vox", "" },
          false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.description);
        QuillmereAudioProcessor p;
        c.setUp (p);

        const auto chunk = save (p);
        EXPECT_EQ (QuillmereSettingsChunk::read (chunk.getData(), (int) chunk.getSize()), c.saved);
        EXPECT_EQ (chunk, QuillmereSettingsChunk::write (c.saved));
        EXPECT_EQ (p.midiInput != nullptr, c.portsOpen);
        EXPECT_EQ (p.midiOutput != nullptr, c.portsOpen);
    }
}

TEST_F (StateTest, RestoringIntoARunningInstanceKeepsItsDeviceAndReopensThePorts)
{
    auto& p = *fresh;
    p.setDevice ("Tarn16");
    p.setMidiInput (MidiPortSystem::getInputNames().indexOf ("Studio In"));
    p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Studio Out"));
    auto* device = p.device.get();

    const auto chunk = chunkFrom (R"(<QUILLMERESETTINGS midiInName="Tarn16 Automation" midiOutName="Tarn16 Automation" fader="0.25" cut="0" channel="2" channelName="Gtr" deviceName="Tarn16"/>)");

    for (int round = 0; round < 2; ++round)
    {
        SCOPED_TRACE (round);
        restore (p, chunk);
        EXPECT_EQ (p.device.get(), device);
        EXPECT_EQ (p.midiInName, "Tarn16 Automation");
        EXPECT_EQ (p.midiOutName, "Tarn16 Automation");
        EXPECT_EQ (ports.getNumOpenInputs(), 1);
        EXPECT_EQ (ports.getNumOpenOutputs(), 1);
        EXPECT_EQ (console.getStrip (1).text, "Gtr");
        EXPECT_EQ (console.getStrip (1).faderLevel, 63);
    }

    // The reopened input works.
    HostRecorder host (p);
    console.pressCut (1);
    console.releaseCut (1);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return host.count (HostRecorder::Event::Kind::end, 1) == 1; }));
    EXPECT_EQ (p.muteParameter->getValue(), 1.0f);
}

TEST_F (StateTest, AnInstanceWithoutDeviceOrPortsRestoresToNothingAndSendsNothing)
{
    QuillmereAudioProcessor empty;
    const auto chunk = save (empty);

    restore (*fresh, chunk);

    EXPECT_EQ (fresh->device, nullptr);
    EXPECT_EQ (fresh->midiInput, nullptr);
    EXPECT_EQ (fresh->midiOutput, nullptr);
    EXPECT_FALSE (fresh->isTimerRunning());
    EXPECT_TRUE (ports.getSentBlocks().empty());
    EXPECT_EQ (save (*fresh), chunk);
}

TEST_F (StateTest, AbsentAndEmptyAttributes)
{
    auto& p = *fresh;
    p.channel = 3;
    p.faderParameter->setValue (0.4f);
    p.muteParameter->setValue (1.0f);
    p.setChannelName ("Old");

    // Absent: the device defaults to the Tarn16 with its default ports; the values keep the
    // current ones (and are sent again); the name becomes empty.
    restore (p, chunkFrom ("<QUILLMERESETTINGS/>"));
    EXPECT_EQ (p.getDeviceModelName(), "Tarn16");
    EXPECT_EQ (p.midiInName, "Tarn16 Automation");
    EXPECT_EQ (p.midiOutName, "Tarn16 Automation");
    EXPECT_EQ (p.channel.load(), 3);
    EXPECT_EQ (p.faderParameter->getValue(), 0.4f);
    EXPECT_EQ (p.muteParameter->getValue(), 1.0f);
    EXPECT_EQ (p.getChannelName(), "");
    EXPECT_TRUE (console.getStrip (2).cut);
    EXPECT_EQ (console.getStrip (2).faderLevel, ConsoleSimulator::eightBitLevelOf (0.4f));

    // Empty "deviceName": no device. Empty port names then open nothing new.
    restore (p, chunkFrom (R"(<QUILLMERESETTINGS deviceName="" midiInName="" midiOutName=""/>)"));
    EXPECT_EQ (p.device, nullptr);
    EXPECT_EQ (p.midiInName, "Tarn16 Automation"); // left as it was

    // A name outside the catalogue: no device; ports only when the chunk names them.
    restore (p, chunkFrom (R"(<QUILLMERESETTINGS deviceName="tarn16" midiInName="Studio In"/>)"));
    EXPECT_EQ (p.device, nullptr);
    EXPECT_EQ (p.midiInName, "Studio In");
    EXPECT_EQ (p.midiOutName, "Tarn16 Automation");
}

TEST_F (StateTest, CutAndNumbersAreReadAsJuceReadsThem)
{
    const struct
    {
        const char* attributes;
        float fader;
        float cut;
        int channel;
    } cases[] = {
        { R"(cut="1" fader="0.5" channel="4")", 0.5f, 1.0f, 4 },
        { R"(cut="1.0" fader="1" channel="04")", 1.0f, 1.0f, 4 },
        { R"(cut="0" fader="0" channel="0")", 0.0f, 0.0f, 0 },
        { R"(cut="0.5" fader="1.5" channel="9")", 1.5f, 1.0f, 9 }, // stored as the host sent it
        { R"(cut="loud" fader="high" channel="first")", 0.0f, 0.0f, 0 },
        { R"(cut="" fader="" channel="")", 0.0f, 0.0f, 0 },
        { R"(channel="  7th")", 0.25f, 1.0f, 7 },
        { R"(channel="-3")", 0.25f, 1.0f, -3 },
        { R"(channel="99999999999999999999")", 0.25f, 1.0f, (int) (juce::uint32) 1661992959u },
        { R"(channel="-2147483648")", 0.25f, 1.0f, std::numeric_limits<int>::min() },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.attributes);
        auto p = std::make_unique<QuillmereAudioProcessor>();
        p->faderParameter->setValue (0.25f);
        p->muteParameter->setValue (1.0f);
        p->channel = 5;

        restore (*p, chunkFrom (juce::String ("<QUILLMERESETTINGS deviceName=\"Mira\" ") + c.attributes + "/>"));
        EXPECT_EQ (p->faderParameter->getValue(), c.fader);
        EXPECT_EQ (p->muteParameter->getValue(), c.cut);
        EXPECT_EQ (p->channel.load(), c.channel);
    }
}

TEST_F (StateTest, PortsAreFoundByNameOrLeftAsTheyWere)
{
    auto& p = *fresh;
    p.setMidiInput (MidiPortSystem::getInputNames().indexOf ("Studio In"));
    p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Studio Out"));

    // Names no present port carries leave both ports as they were.
    restore (p, chunkFrom (R"(<QUILLMERESETTINGS deviceName="Mira" midiInName="Gone" midiOutName="Gone Too"/>)"));
    EXPECT_EQ (p.midiInName, "Studio In");
    EXPECT_EQ (p.midiOutName, "Studio Out");
    EXPECT_NE (p.midiInput, nullptr);

    // With two ports of one name the last one is left open.
    ports.addInputPort ("Twin");
    ports.addInputPort ("Twin");
    restore (p, chunkFrom (R"(<QUILLMERESETTINGS deviceName="Mira" midiInName="Twin"/>)"));
    EXPECT_EQ (p.midiInName, "Twin");
    EXPECT_EQ (ports.getNumOpenInputs(), 1);

    // A port that fails to open: closed and the timer stopped, but still wanted, so saved
    // with its name and opened when it stops refusing.
    ports.setFailOpens ("Studio In", true);
    ports.setFailOpens ("Studio Out", true);
    restore (p, chunkFrom (R"(<QUILLMERESETTINGS deviceName="Mira" midiInName="Studio In" midiOutName="Studio Out" channel="3"/>)"));
    EXPECT_EQ (p.midiInput, nullptr);
    EXPECT_EQ (p.midiOutput, nullptr);
    EXPECT_FALSE (p.isTimerRunning());

    const auto xml = savedXml (p);
    EXPECT_EQ (xml->getStringAttribute ("midiInName", "absent"), "Studio In");
    EXPECT_EQ (xml->getStringAttribute ("midiOutName", "absent"), "Studio Out");
    EXPECT_EQ (xml->getStringAttribute ("channel"), "3");
    EXPECT_EQ (xml->getStringAttribute ("deviceName"), "Mira");
}

TEST_F (StateTest, ChunksThatAreNotOursChangeNothing)
{
    auto& p = *fresh;
    p.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Tarn16 Automation"));
    p.setDevice ("Mira");
    p.channel = 2;
    p.faderParameter->setValue (0.3f);
    p.setChannelName ("Keep");
    const auto before = save (p);
    ports.clearSentBlocks();

    juce::MemoryBlock random (300);
    juce::Random (7).fillBitsRandomly (random.getData(), random.getSize());

    auto truncated = chunkFrom (R"(<QUILLMERESETTINGS deviceName="Tarn16" channel="1"/>)");
    truncated.setSize (truncated.getSize() - 12);

    const juce::MemoryBlock chunks[] = {
        random,
        truncated,
        chunkFrom (R"(<OTHERSETTINGS deviceName="Tarn16" channel="1"/>)"),
        chunkFrom (R"(<quillmeresettings deviceName="Tarn16" channel="1"/>)"),
        juce::MemoryBlock ("<QUILLMERESETTINGS/>", 20), // XML without JUCE's framing
        juce::MemoryBlock(),
    };

    for (const auto& chunk : chunks)
    {
        restore (p, chunk);
        EXPECT_EQ (save (p), before);
    }

    p.setStateInformation (nullptr, 100);
    p.setStateInformation (before.getData(), 0);
    p.setStateInformation (before.getData(), -5);
    EXPECT_EQ (save (p), before);
    EXPECT_TRUE (ports.getSentBlocks().empty());
}

TEST_F (StateTest, NamesWithAnyCharactersSurviveTheRoundTripAndReachTheStripAsAscii)
{
    const auto name = juce::String::fromUTF8 ("A\"<&>' \xc3\xa9\xe2\x99\xab\t\x01z");
    auto& p = *fresh;
    p.setDevice ("Tarn16");
    p.channel = 1;
    p.setChannelName (name);

    QuillmereAudioProcessor second;
    restore (second, save (p));
    EXPECT_EQ (second.getChannelName(), name);
    EXPECT_EQ (console.getStrip (0).text, "A\"<&>' ????z");
}

TEST_F (StateTest, ARestoredLevelReachesTheConsoleEvenWhenItMatchesTheDefault)
{
    // The device is created before the output opens, while the fader is still at its
    // default 0.0; a stored level of the same 8-bit value must still reach the console.
    ports.setSendsHeld (console.getPortName(), true);
    restore (*fresh, chunkFrom (R"(<QUILLMERESETTINGS fader="0.001" cut="0" channel="4" channelName="Pad" deviceName="Tarn16"/>)"));
    ports.setSendsHeld (console.getPortName(), false);

    const auto strip = console.getStrip (3);
    EXPECT_EQ (strip.levelMessages, 1);
    EXPECT_EQ (strip.faderLevel, 0);
    EXPECT_EQ (strip.muteMessages, 1); // the second of the restore's two replaced the first
    EXPECT_FALSE (strip.cut);
    EXPECT_EQ (strip.text, "Pad");
}

// Chunks the state fuzzer once found harmful: each must be ignored or restored without fault.
// Run under AddressSanitizer, the first would read past the end of the chunk's text in JUCE's
// XML parser if it were handed over: its text ends inside a multi-byte character.
TEST_F (StateTest, DamagedChunksFoundByFuzzingLeaveTheInstanceWorking)
{
    const char* const base64Chunks[] = {
        "VkMyIWwAAAA8UVVJTEw+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+Pj4+TUVSRVNFVP///1QgY2hhbm5lbD0iMFFVSVJMRUxNRVNFVFQgPVdXV1dXV1dXV1dXV1dXV1dXV+JXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1dXV1fiV1dXZW5hIg0AAAAiLz4A",
        "VkMyIYcAAAA8UVVJTExNRVJFU0VUVElOR1MgaWlkaUluTmFtZT0iU3R1ZGlvIEluIiBtaWRpT3V0TmFtZT0iU3R1ZClvIE91dCIgZmFkZXI9IzEuMjUiIGN1dD0iMCIgY2hhbm5lbD0iMTIiIGNoYW5uZWxOYW1lPSIiIGRldmljZbgvPgA=",
    };

    for (const auto* encoded : base64Chunks)
    {
        juce::MemoryOutputStream decoded;
        ASSERT_TRUE (juce::Base64::convertFromBase64 (decoded, encoded));

        QuillmereAudioProcessor p;
        p.setStateInformation (decoded.getData(), (int) decoded.getDataSize());
        p.faderParameter->setValue (0.5f);

        const auto xml = savedXml (p);
        ASSERT_NE (xml, nullptr);
        EXPECT_EQ (xml->getStringAttribute ("fader"), "0.5");
    }
}
