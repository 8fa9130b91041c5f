#include "QuillmereSettingsChunk.h"

#include "support/SettingsPrinter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using Settings = QuillmereSettingsChunk::Settings;

namespace
{
    /** JUCE's framing of an XML text, written here from its layout rather than by JUCE: the
        tag "VC2!", the text's length in bytes as a little-endian 32-bit number, the text and a
        closing zero byte.
    */
    juce::MemoryBlock framed (const std::string& text, juce::uint32 lengthField)
    {
        juce::MemoryBlock block;
        block.append ("VC2!", 4);
        const juce::uint8 length[] = { (juce::uint8) lengthField, (juce::uint8) (lengthField >> 8), (juce::uint8) (lengthField >> 16), (juce::uint8) (lengthField >> 24) };
        block.append (length, sizeof (length));
        block.append (text.data(), text.size());
        block.append ("", 1);
        return block;
    }

    juce::MemoryBlock framed (const std::string& text)
    {
        return framed (text, (juce::uint32) text.size());
    }

    /** The header JUCE writes before the element, on the element's line. */
    std::string withXmlHeader (const std::string& element)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?> " + element;
    }

    std::optional<Settings> readBlock (const juce::MemoryBlock& block)
    {
        return QuillmereSettingsChunk::read (block.getData(), (int) block.getSize());
    }

    std::string printable (const juce::MemoryBlock& block)
    {
        return juce::String::toHexString (block.getData(), (int) block.getSize()).toStdString();
    }

    const auto intMin = std::numeric_limits<int>::min();
    const auto intMax = std::numeric_limits<int>::max();
    const auto infinity = std::numeric_limits<float>::infinity();
}

TEST (QuillmereSettingsChunk, WritesTheSettingsAsTheElementInJucesFramingByteForByte)
{
    const struct
    {
        Settings settings;
        std::string element;
    } cases[] = {
        { { "Tarn16 Automation", "Studio Out", 0.6f, true, 6, juce::String::fromUTF8 ("Lead \"Vox\" & <Bass> \xc3\xa9"), "Tarn48-XL" },
          R"(<QUILLMERESETTINGS midiInName="Tarn16 Automation" midiOutName="Studio Out" fader="0.6000000238418579" cut="1" channel="6" channelName="Lead &quot;Vox&quot; &amp; &lt;Bass&gt; &#233;" deviceName="Tarn48-XL"/>)" },
        { { "", "", 0.0f, false, 0, "", "" },
          R"(<QUILLMERESETTINGS midiInName="" midiOutName="" fader="0.0" cut="0" channel="0" channelName="" deviceName=""/>)" },
        { { std::nullopt, "Desk", std::nullopt, false, -3, std::nullopt, std::nullopt },
          R"(<QUILLMERESETTINGS midiOutName="Desk" cut="0" channel="-3"/>)" },
        { {}, "<QUILLMERESETTINGS/>" },

        // The flag of a name that follows the track comes last, after every attribute that
        // projects saved before it hold.
        { { "Tarn16 Automation", "Tarn16 Automation", 0.5f, false, 3, "LeadVcl2", "Tarn16", true },
          R"(<QUILLMERESETTINGS midiInName="Tarn16 Automation" midiOutName="Tarn16 Automation" fader="0.5" cut="0" channel="3" channelName="LeadVcl2" deviceName="Tarn16" channelNameFollowsTrack="1"/>)" },
        { { std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "BD", std::nullopt, false },
          R"(<QUILLMERESETTINGS channelName="BD" channelNameFollowsTrack="0"/>)" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.element);
        const auto expected = framed (withXmlHeader (c.element));
        const auto written = QuillmereSettingsChunk::write (c.settings);
        EXPECT_EQ (written, expected) << printable (written) << "\n"
                                      << printable (expected);
    }
}

TEST (QuillmereSettingsChunk, WhatIsWrittenReadsBackAsTheSameSettings)
{
    const auto anyCharacters = juce::String::fromUTF8 ("A\"<&>' \xc3\xa9\xe2\x99\xab\xf0\x9f\x8e\xb8\t\r\n\x01]]>z");

    const Settings cases[] = {
        { "Tarn16 Automation", "Tarn16 Automation", 0.6f, true, 6, "Lead Vox", "Tarn48-XL" },
        { "", "", 0.0f, false, 0, "", "" },
        {},
        { anyCharacters, anyCharacters, 1.5f, false, intMin, anyCharacters, anyCharacters },
        { " In ", "Out ", -0.25f, true, intMax, "  ", "tarn16" },
        { std::nullopt, "Desk", 1.0e-45f, std::nullopt, -3, std::nullopt, "Mira" },
        { "Desk", std::nullopt, std::numeric_limits<float>::max(), true, std::nullopt, "Bass", std::nullopt },
        { std::nullopt, std::nullopt, infinity, std::nullopt, std::nullopt, std::nullopt, std::nullopt },
        { std::nullopt, std::nullopt, -infinity, std::nullopt, std::nullopt, std::nullopt, std::nullopt },
        { std::nullopt, std::nullopt, 0.1f, std::nullopt, std::nullopt, std::nullopt, std::nullopt },
        { std::nullopt, std::nullopt, 123456.789f, std::nullopt, std::nullopt, std::nullopt, std::nullopt },
        { "Desk", "Desk", 0.5f, false, 3, "KickIn", "Tarn16", true },
        { std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "BD", std::nullopt, false },
        { std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, true },
    };

    for (const auto& settings : cases)
    {
        SCOPED_TRACE (testing::PrintToString (settings));
        const auto chunk = QuillmereSettingsChunk::write (settings);
        EXPECT_EQ (readBlock (chunk), settings);
    }

    // A level that is no number is saved as 0, what the console was sent for it: a NaN in the
    // project would reach the host as the parameter's value on the next restore.
    for (const auto nan : { std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN() })
    {
        const auto chunk = QuillmereSettingsChunk::write ({ std::nullopt, std::nullopt, nan });
        EXPECT_EQ (chunk, QuillmereSettingsChunk::write ({ std::nullopt, std::nullopt, 0.0f }));
        EXPECT_EQ (readBlock (chunk), (QuillmereSettingsChunk::Settings { std::nullopt, std::nullopt, 0.0f }));
    }
}

TEST (QuillmereSettingsChunk, ReadsEachAttributeAsJucesGettersReadItAndTellsWhichAreAbsent)
{
    const auto none = std::nullopt;

    const struct
    {
        const char* element;
        Settings expected;
    } cases[] = {
        { "<QUILLMERESETTINGS/>", {} },
        { R"(<QUILLMERESETTINGS midiInName="" midiOutName="" channelName="" deviceName=""/>)", { "", "", none, none, none, "", "" } },

        // A level that is no number is 0, as the console is sent it.
        { R"(<QUILLMERESETTINGS fader="nan"/>)", { none, none, 0.0f } },

        // The mute is any number that is not zero as a float.
        { R"(<QUILLMERESETTINGS cut="1"/>)", { none, none, none, true } },
        { R"(<QUILLMERESETTINGS cut="1.0"/>)", { none, none, none, true } },
        { R"(<QUILLMERESETTINGS cut="0.5"/>)", { none, none, none, true } },
        { R"(<QUILLMERESETTINGS cut="-1"/>)", { none, none, none, true } },
        { R"(<QUILLMERESETTINGS cut="nan"/>)", { none, none, none, true } },
        { R"(<QUILLMERESETTINGS cut="0"/>)", { none, none, none, false } },
        { R"(<QUILLMERESETTINGS cut="1e-50"/>)", { none, none, none, false } },
        { R"(<QUILLMERESETTINGS cut="loud"/>)", { none, none, none, false } },
        { R"(<QUILLMERESETTINGS cut=""/>)", { none, none, none, false } },

        // The level is a double made a float, kept as written even outside 0 to 1.
        { R"(<QUILLMERESETTINGS fader="0.5"/>)", { none, none, 0.5f } },
        { R"(<QUILLMERESETTINGS fader=" 0.25 "/>)", { none, none, 0.25f } },
        { R"(<QUILLMERESETTINGS fader="1.5"/>)", { none, none, 1.5f } },
        { R"(<QUILLMERESETTINGS fader="-0.25"/>)", { none, none, -0.25f } },
        { R"(<QUILLMERESETTINGS fader="1e39"/>)", { none, none, infinity } },
        { R"(<QUILLMERESETTINGS fader="high"/>)", { none, none, 0.0f } },
        { R"(<QUILLMERESETTINGS fader=""/>)", { none, none, 0.0f } },

        // The channel: leading blanks, a minus and the leading digits, wrapping on overflow.
        { R"(<QUILLMERESETTINGS channel="4"/>)", { none, none, none, none, 4 } },
        { R"(<QUILLMERESETTINGS channel="04"/>)", { none, none, none, none, 4 } },
        { R"(<QUILLMERESETTINGS channel="  7th"/>)", { none, none, none, none, 7 } },
        { R"(<QUILLMERESETTINGS channel="-3"/>)", { none, none, none, none, -3 } },
        { R"(<QUILLMERESETTINGS channel="+5"/>)", { none, none, none, none, 0 } },
        { R"(<QUILLMERESETTINGS channel="first"/>)", { none, none, none, none, 0 } },
        { R"(<QUILLMERESETTINGS channel=""/>)", { none, none, none, none, 0 } },
        { R"(<QUILLMERESETTINGS channel="2147483647"/>)", { none, none, none, none, intMax } },
        { R"(<QUILLMERESETTINGS channel="2147483648"/>)", { none, none, none, none, intMin } },
        { R"(<QUILLMERESETTINGS channel="-2147483648"/>)", { none, none, none, none, intMin } },
        { R"(<QUILLMERESETTINGS channel="4294967297"/>)", { none, none, none, none, 1 } },
        { R"(<QUILLMERESETTINGS channel="99999999999999999999"/>)", { none, none, none, none, (int) (juce::uint32) 1661992959u } },

        // Names are the attributes' text, entities resolved.
        { R"(<QUILLMERESETTINGS channelName="A&amp;B &#233;&#x266B;" deviceName="Mira"/>)", { none, none, none, none, none, juce::String::fromUTF8 ("A&B \xc3\xa9\xe2\x99\xab"), "Mira" } },

        // Whether the name follows the track reads as the mute does; without the attribute
        // the settings say nothing, and the name is a typed one.
        { R"(<QUILLMERESETTINGS channelName="KickIn" channelNameFollowsTrack="1"/>)", { none, none, none, none, none, "KickIn", none, true } },
        { R"(<QUILLMERESETTINGS channelNameFollowsTrack="1.0"/>)", { none, none, none, none, none, none, none, true } },
        { R"(<QUILLMERESETTINGS channelNameFollowsTrack="0"/>)", { none, none, none, none, none, none, none, false } },
        { R"(<QUILLMERESETTINGS channelNameFollowsTrack="yes"/>)", { none, none, none, none, none, none, none, false } },
        { R"(<QUILLMERESETTINGS channelNameFollowsTrack=""/>)", { none, none, none, none, none, none, none, false } },
        { R"(<QUILLMERESETTINGS channelName="BD"/>)", { none, none, none, none, none, "BD" } },

        // Attribute names are compared with letter case; other attributes and children are
        // ignored.
        { R"(<QUILLMERESETTINGS Channel="4" DEVICENAME="Mira" channelnamefollowstrack="1" colour="red"/>)", {} },
        { R"(<QUILLMERESETTINGS channel="2"><QUILLMERESETTINGS channel="9"/></QUILLMERESETTINGS>)", { none, none, none, none, 2 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.element);
        EXPECT_EQ (readBlock (framed (c.element)), c.expected);
        EXPECT_EQ (readBlock (framed (withXmlHeader (c.element))), c.expected);
    }
}

TEST (QuillmereSettingsChunk, ReadsTheTextTheLengthFieldFramesWithinTheBlock)
{
    const std::string element = R"(<QUILLMERESETTINGS channel="2"/>)";
    const Settings channelTwo { std::nullopt, std::nullopt, std::nullopt, std::nullopt, 2 };

    auto withoutClosingZero = framed (element);
    withoutClosingZero.setSize (withoutClosingZero.getSize() - 1);

    const struct
    {
        const char* description;
        juce::MemoryBlock block;
    } cases[] = {
        { "a length beyond the block: the block's text", framed (element, 1000) },
        { "no closing zero byte", withoutClosingZero },
        { "a length that leaves out what follows the element", framed (element + "<junk", (juce::uint32) element.size()) },
        { "an element left open after its last attribute, which JUCE's parser takes", framed (R"(<QUILLMERESETTINGS channel="2")") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.description);
        EXPECT_EQ (readBlock (c.block), channelTwo);
    }
}

TEST (QuillmereSettingsChunk, RefusesBlocksThatAreNotASettingsChunk)
{
    const std::string element = R"(<QUILLMERESETTINGS channel="2"/>)";

    auto saved = QuillmereSettingsChunk::write ({ "Tarn16 Automation", "Tarn16 Automation", 0.5f, false, 1, "Kick", "Tarn16" });
    auto truncated = saved;
    truncated.setSize (truncated.getSize() - 12);

    juce::MemoryBlock random (300);
    juce::Random (7).fillBitsRandomly (random.getData(), random.getSize());

    auto wrongMagic = framed (element);
    static_cast<char*> (wrongMagic.getData())[3] = '?';

    // The text as the length field frames it ends inside a two-byte character, though the
    // block holds the rest: JUCE's parser would read beyond the text.
    const auto cutCharacter = framed (element + "\xc3\xa9", (juce::uint32) element.size() + 1);

    const struct
    {
        const char* description;
        juce::MemoryBlock block;
    } cases[] = {
        { "empty", {} },
        { "the framing's header alone", juce::MemoryBlock ("VC2!\x04\0\0\0", 8) },
        { "a zero length", framed (element, 0) },
        { "a negative length", framed (element, 0xffffffffu) },
        { "another tag in the framing's header", wrongMagic },
        { "XML without the framing", juce::MemoryBlock (element.data(), element.size()) },
        { "random bytes", random },
        { "a saved chunk cut short", truncated },
        { "text that is not XML", framed ("channel=2") },
        { "a length that ends the text inside the element", framed (element, 20) },
        { "another tag", framed (R"(<OTHERSETTINGS channel="2"/>)") },
        { "the tag in other letter case", framed (R"(<quillmeresettings channel="2"/>)") },
        { "a text ending inside a character", framed (element + "\xe2\x99") },
        { "a length ending the text inside a character", cutCharacter },
        { "a byte that is no UTF-8", framed ("<QUILLMERESETTINGS channelName=\"\xff\"/>") },

        // JUCE's parser steps over the end of a text that ends inside a hexadecimal character
        // reference, in an attribute or in the element's text, and reads on beyond it.
        { "a text ending inside a hexadecimal reference in an attribute", framed ("<QUILLMERESETTINGS channelName=\"Kick &#x30") },
        { "a text ending inside a hexadecimal reference in the element's text", framed ("<QUILLMERESETTINGS>&#X30AD") },
        { "a text ending right after a reference's x", framed ("<QUILLMERESETTINGS channelName=\"&#x") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.description);
        EXPECT_EQ (readBlock (c.block), std::nullopt);
    }

    EXPECT_EQ (QuillmereSettingsChunk::read (nullptr, 100), std::nullopt);
    EXPECT_EQ (QuillmereSettingsChunk::read (saved.getData(), 0), std::nullopt);
    EXPECT_EQ (QuillmereSettingsChunk::read (saved.getData(), -5), std::nullopt);
    EXPECT_NE (readBlock (saved), std::nullopt);
}
