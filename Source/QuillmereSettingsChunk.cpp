#include "QuillmereSettingsChunk.h"

#include <cmath>

#include <juce_audio_processors/juce_audio_processors.h>

namespace
{
    const char* const settingsTag = "QUILLMERESETTINGS";

    namespace attributes
    {
        const char* const midiInName = "midiInName";
        const char* const midiOutName = "midiOutName";
        const char* const level = "fader";
        const char* const muted = "cut";
        const char* const channel = "channel";
        const char* const channelName = "channelName";
        const char* const modelName = "deviceName";
        const char* const nameFollowsTrack = "channelNameFollowsTrack";
    }

    /** An integer read as XmlElement::getIntAttribute reads it (leading blanks, an optional
        minus, the leading digits, wrapping on overflow), but without the signed overflow of
        JUCE's reader for texts beyond the int range: a saved project may be damaged or edited
        by hand.
    */
    int readInt (const juce::String& attributeText)
    {
        auto text = attributeText.getCharPointer().findEndOfWhitespace();
        const bool negative = *text == '-';

        if (negative)
            ++text;

        juce::uint32 magnitude = 0;

        for (auto c = text.getAndAdvance(); c >= '0' && c <= '9'; c = text.getAndAdvance())
            magnitude = magnitude * 10u + (juce::uint32) (c - '0');

        return (int) (negative ? 0u - magnitude : magnitude);
    }

    /** Whether a text ends inside a hexadecimal character reference: "&#x" and hex digits
        without the closing ';'. JUCE's parser then steps over the text's closing zero and
        reads on beyond the end of the text.
    */
    bool endsInsideHexReference (const juce::String& text)
    {
        const auto start = text.lastIndexOfIgnoreCase ("&#x");
        return start >= 0 && text.substring (start + 3).containsOnly ("0123456789abcdefABCDEF");
    }

    /** Whether the block is JUCE's framing of an XML text in valid UTF-8. JUCE's XML parser
        reads past the end of a text whose last character is cut short, so a damaged chunk
        must be refused before it reaches getXmlFromBinary. copyXmlToBinary always writes
        valid UTF-8 and complete XML, so no chunk the plug-in saved is refused. For the same
        reason a text that ends inside a hexadecimal character reference is refused.
    */
    bool isReadableXmlChunk (const void* data, int sizeInBytes)
    {
        constexpr juce::uint32 xmlMagic = 0x21324356; // the tag of JUCE's XML framing
        constexpr int headerSize = 8;

        if (data == nullptr || sizeInBytes <= headerSize)
            return false;

        const auto* bytes = static_cast<const char*> (data);

        if (juce::ByteOrder::littleEndianInt (bytes) != xmlMagic)
            return false;

        const auto textLength = (int) juce::ByteOrder::littleEndianInt (bytes + 4);

        if (textLength <= 0)
            return false;

        const auto textBytes = std::min (sizeInBytes - headerSize, textLength);

        return juce::CharPointer_UTF8::isValidString (bytes + headerSize, textBytes)
               && ! endsInsideHexReference (juce::String::fromUTF8 (bytes + headerSize, textBytes));
    }

    /** The attribute's text converted by read, or nothing when the element lacks it. */
    template<typename Read>
    auto readAttribute (const juce::XmlElement& xml, const char* name, Read&& read) -> std::optional<decltype (read (juce::String()))>
    {
        if (! xml.hasAttribute (name))
            return std::nullopt;

        return read (xml.getStringAttribute (name));
    }

    juce::String asText (const juce::String& text) { return text; }

    // A level that is no number is 0, as the console is sent it.
    float numberOrZero (float level) { return std::isnan (level) ? 0.0f : level; }

    // The numbers as XmlElement::getDoubleAttribute reads them; the level parameter holds a
    // float, and the mute parameter takes any non-zero float for muted; the name's flag is
    // read the same way.
    float asLevel (const juce::String& text) { return numberOrZero ((float) text.getDoubleValue()); }
    bool asFlag (const juce::String& text) { return (float) text.getDoubleValue() != 0.0f; }
}

bool QuillmereSettingsChunk::Settings::operator== (const Settings& other) const
{
    return midiInName == other.midiInName
           && midiOutName == other.midiOutName
           && level == other.level
           && muted == other.muted
           && channel == other.channel
           && channelName == other.channelName
           && modelName == other.modelName
           && nameFollowsTrack == other.nameFollowsTrack;
}

bool QuillmereSettingsChunk::Settings::operator!= (const Settings& other) const
{
    return ! operator== (other);
}

juce::MemoryBlock QuillmereSettingsChunk::write (const Settings& settings)
{
    juce::XmlElement xml (settingsTag);

    if (settings.midiInName.has_value())
        xml.setAttribute (attributes::midiInName, *settings.midiInName);

    if (settings.midiOutName.has_value())
        xml.setAttribute (attributes::midiOutName, *settings.midiOutName);

    if (settings.level.has_value())
        xml.setAttribute (attributes::level, (double) numberOrZero (*settings.level));

    if (settings.muted.has_value())
        xml.setAttribute (attributes::muted, *settings.muted ? 1 : 0);

    if (settings.channel.has_value())
        xml.setAttribute (attributes::channel, *settings.channel);

    if (settings.channelName.has_value())
        xml.setAttribute (attributes::channelName, *settings.channelName);

    if (settings.modelName.has_value())
        xml.setAttribute (attributes::modelName, *settings.modelName);

    if (settings.nameFollowsTrack.has_value())
        xml.setAttribute (attributes::nameFollowsTrack, *settings.nameFollowsTrack ? 1 : 0);

    juce::MemoryBlock chunk;
    juce::AudioProcessor::copyXmlToBinary (xml, chunk);
    return chunk;
}

std::optional<QuillmereSettingsChunk::Settings> QuillmereSettingsChunk::read (const void* data, int sizeInBytes)
{
    if (! isReadableXmlChunk (data, sizeInBytes))
        return std::nullopt;

    const auto xml = juce::AudioProcessor::getXmlFromBinary (data, sizeInBytes);

    // The tag is compared exactly: XmlElement::hasTagName ignores letter case.
    if (xml == nullptr || xml->getTagName() != settingsTag)
        return std::nullopt;

    Settings settings;
    settings.midiInName = readAttribute (*xml, attributes::midiInName, asText);
    settings.midiOutName = readAttribute (*xml, attributes::midiOutName, asText);
    settings.level = readAttribute (*xml, attributes::level, asLevel);
    settings.muted = readAttribute (*xml, attributes::muted, asFlag);
    settings.channel = readAttribute (*xml, attributes::channel, readInt);
    settings.channelName = readAttribute (*xml, attributes::channelName, asText);
    settings.modelName = readAttribute (*xml, attributes::modelName, asText);
    settings.nameFollowsTrack = readAttribute (*xml, attributes::nameFollowsTrack, asFlag);
    return settings;
}
