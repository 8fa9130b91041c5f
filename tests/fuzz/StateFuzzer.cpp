// Fuzzes the restore of a saved state: the chunk comes from a host's project, which may be
// damaged or edited by hand. Reading any block must never crash, and the settings read must
// write and read back unchanged. A chunk that is read must leave an instance that restores it
// working and holding what the chunk says, and whatever that instance saves must restore to
// the same settings; a track name the host then reports (made of the chunk's text) replaces a
// name that follows the track, fitted to the strip, and leaves a typed one. A refused chunk
// never reaches an instance's settings, so it needs no instance here.

#include "QuillmereAudioProcessor.h"
#include "QuillmereSettingsChunk.h"
#include "ScribbleStripName.h"

#include "FuzzEnvironment.h"

namespace
{
    using Settings = QuillmereSettingsChunk::Settings;

    VirtualMidiPortBackend* ports = nullptr;

    void check (bool condition)
    {
        if (! condition)
            __builtin_trap();
    }

    std::optional<Settings> read (const juce::MemoryBlock& chunk)
    {
        return QuillmereSettingsChunk::read (chunk.getData(), (int) chunk.getSize());
    }

    std::optional<Settings> saved (QuillmereAudioProcessor& p)
    {
        juce::MemoryBlock chunk;
        p.getStateInformation (chunk);
        return read (chunk);
    }

    /** The translation alone: what was read writes a chunk that reads back the same, and
        writing that again gives the same bytes.
    */
    void checkRoundTrip (const Settings& settings)
    {
        // No chunk gives a level that is no number.
        check (! (settings.level.has_value() && std::isnan (*settings.level)));

        const auto chunk = QuillmereSettingsChunk::write (settings);
        const auto again = read (chunk);
        check (again.has_value() && *again == settings);
        check (QuillmereSettingsChunk::write (*again) == chunk);
    }

    /** An instance saves every member, and says that the name follows the track only of a
        name that does and is not empty.
    */
    void checkComplete (const Settings& s)
    {
        check (s.midiInName.has_value() && s.midiOutName.has_value() && s.level.has_value() && s.muted.has_value()
               && s.channel.has_value() && s.channelName.has_value() && s.modelName.has_value());
        check (! s.nameFollowsTrack.has_value() || (*s.nameFollowsTrack && s.channelName->isNotEmpty()));
    }

    /** The host tells the instance its track's name: a name that follows the track becomes
        it, fitted to the strip; a typed one stays as it was.
    */
    void checkTrackNameReport (QuillmereAudioProcessor& p, const juce::String& trackName)
    {
        const auto before = saved (p);
        juce::AudioProcessor::TrackProperties properties;
        properties.name = trackName;
        p.updateTrackProperties (properties);
        const auto after = saved (p);
        check (before.has_value() && after.has_value());

        const auto fitted = ScribbleStripName::fitTrackName (trackName);
        check (fitted.length() <= ScribbleStripName::maxLength && fitted.containsOnly (ScribbleStripName::allowedCharacters));

        if (trackName.isEmpty() || ! p.isChannelNameFollowingTrack())
            check (after->channelName == before->channelName);
        else
            check (after->channelName == fitted);
    }

    /** What a fresh instance saves after restoring the chunk's settings: what the chunk says,
        its own values where the chunk says nothing, no device for a model outside the catalogue.
        A port name only when the chunk names one: otherwise the model's default is wanted.
        The saved settings are complete.
    */
    void checkHolds (const Settings& savedSettings, const Settings& chunk)
    {
        check (savedSettings.channel == chunk.channel.value_or (0));
        check (*savedSettings.level == chunk.level.value_or (0.0f));
        check (savedSettings.muted == chunk.muted.value_or (false));
        check (savedSettings.channelName == chunk.channelName.value_or (juce::String()));

        // No chunk written before the flag existed says that its name follows the track.
        const auto follows = chunk.channelName.value_or (juce::String()).isNotEmpty() && chunk.nameFollowsTrack.value_or (false);
        check (savedSettings.nameFollowsTrack == (follows ? std::optional<bool> (true) : std::nullopt));

        const auto model = chunk.modelName.value_or (QuillmereAudioProcessor::getModelNameForIndex (0));
        const bool inCatalogue = model == QuillmereAudioProcessor::getModelNameForIndex (0)
                                 || model == QuillmereAudioProcessor::getModelNameForIndex (1)
                                 || model == QuillmereAudioProcessor::getModelNameForIndex (2);
        check (savedSettings.modelName == (inCatalogue ? model : juce::String()));

        if (chunk.midiInName.value_or (juce::String()).isNotEmpty())
            check (savedSettings.midiInName == chunk.midiInName);

        if (chunk.midiOutName.value_or (juce::String()).isNotEmpty())
            check (savedSettings.midiOutName == chunk.midiOutName);
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size);

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    ports = &startFuzzEnvironment();

    for (const char* name : { "Tarn16 Automation", "Tarn48-XL Automation", "Studio In", "Studio Out", "Twin", "Twin" })
    {
        ports->addInputPort (name);
        ports->addOutputPort (name);
    }

    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const juce::uint8* data, size_t size)
{
    const auto numBytes = (int) std::min (size, (size_t) std::numeric_limits<int>::max());
    const auto settings = QuillmereSettingsChunk::read (data, numBytes);

    if (! settings.has_value())
        return 0;

    checkRoundTrip (*settings);

    {
        QuillmereAudioProcessor processor;
        processor.setStateInformation (data, numBytes);

        // Restoring the same chunk again into the running instance.
        processor.setStateInformation (data, numBytes);

        const auto first = saved (processor);
        check (first.has_value());
        checkComplete (*first);
        checkHolds (*first, *settings);

        // A second instance restored from what the first saved holds the same settings. Only
        // an empty port name may come back different: it asks for the model's default port.
        juce::MemoryBlock chunk;
        processor.getStateInformation (chunk);
        QuillmereAudioProcessor second;
        second.setStateInformation (chunk.getData(), (int) chunk.getSize());

        const auto again = saved (second);
        check (again.has_value());
        checkComplete (*again);

        auto expected = *first;

        if (expected.midiInName->isEmpty())
            expected.midiInName = again->midiInName;

        if (expected.midiOutName->isEmpty())
            expected.midiOutName = again->midiOutName;

        check (*again == expected);

        // A track name from the host, made of the chunk's own text.
        checkTrackNameReport (processor, settings->channelName.value_or (settings->modelName.value_or (juce::String())));

        // Both still work: parameter changes and the drain run without fault.
        processor.faderParameter->setValue (0.5f);
        processor.muteParameter->setValue (1.0f);
        processor.timerCallback();
    }

    ports->clearSentBlocks();
    return 0;
}
