#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <cstdlib>

/** What the host-level tests share: where this build tree's plug-in files are, one format
    manager with the VST3, VST2 and LV2 formats, and the plug-in's identity as hosts see it.
*/
namespace host_helpers
{
    /** A plug-in file of this build tree, or the one an environment variable of the same
        name gives instead: the package tests point the program at the plug-ins of an
        unpacked package that way.
    */
    inline juce::File getPluginFile (const char* environmentVariable, const char* builtFile)
    {
        const auto* given = std::getenv (environmentVariable);
        return juce::File (given != nullptr && *given != 0 ? given : builtFile);
    }

    /** The VST3 module, inside its bundle at Contents/<architecture>-linux. */
    inline juce::File getVst3Module() { return getPluginFile ("QUILLMERE_VST3_MODULE", QUILLMERE_VST3_MODULE); }
    inline juce::File getVst3Bundle() { return getVst3Module().getParentDirectory().getParentDirectory().getParentDirectory(); }
    inline juce::File getVst2Module() { return getPluginFile ("QUILLMERE_VST2_MODULE", QUILLMERE_VST2_MODULE); }
    inline juce::File getLv2Bundle() { return getPluginFile ("QUILLMERE_LV2_BUNDLE", QUILLMERE_LV2_BUNDLE); }

    /** The LV2 URI the bundle must be found under, as the build gives it to the plug-in. */
    inline const juce::String lv2Uri { QUILLMERE_LV2_URI };

    /** The format manager of the test program: VST3, VST2 and LV2, with this tree's LV2
        bundle loaded. Created once by the test environment; message thread only.
    */
    juce::AudioPluginFormatManager& getFormatManager();

    /** A new instance of the plug-in in one format ("VST3", "VST" or "LV2"), loaded from
        this build tree through JUCE's hosting classes; null if it cannot be loaded.
    */
    std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::String& formatName, juce::String& error);

    /** The description the format gives of this build tree's plug-in file. */
    std::unique_ptr<juce::PluginDescription> describePlugin (const juce::String& formatName);

    /** The VST3 component behind a hosted instance, as JUCE's hosting classes hand it out;
        null for an instance of another format.
    */
    Steinberg::Vst::IComponent* getVst3Component (juce::AudioPluginInstance& instance);

    /** Gives a plug-in instance the processor's state chunk through its format's own state
        interface: the VST2 chunk, the VST3 component's state, or the LV2 state the host
        saved, with the chunk in place of the one it held. Message thread.
    */
    bool writePluginChunk (juce::AudioPluginInstance& instance, const juce::MemoryBlock& chunk);

    /** The processor's state chunk of a plug-in instance, read through its format's own state
        interface as writePluginChunk writes it (the VST3 wrapper appends data of its own);
        empty if there is none. Message thread.
    */
    juce::MemoryBlock readPluginChunk (juce::AudioPluginInstance& instance);

    /** The 16 bytes of the class identifiers hosts find the plug-in's VST3 classes under
        (expected_identity::vst3), read from their registry form by the VST3 SDK as it lays
        out a GUID on this platform.
    */
    std::array<juce::uint8, 16> getExpectedComponentClassId();
    std::array<juce::uint8, 16> getExpectedControllerClassId();

    /** The class identifier of the VST3 module's class of a category ("Audio Module Class"
        or "Component Controller Class"), read from the module's factory; all zero if the
        module has no such class.
    */
    std::array<juce::uint8, 16> findVst3ClassId (const char* category);

    /** The processor's state chunk: JUCE's binary framing of a QUILLMERESETTINGS element. */
    juce::MemoryBlock makeSettingsChunk (const juce::String& xmlText);

    /** The QUILLMERESETTINGS element of a state chunk, or null if there is none. */
    std::unique_ptr<juce::XmlElement> readSettingsChunk (const juce::MemoryBlock& chunk);

    /** A VST2 bank ('CcnK' ... 'FBCh') holding its state as one opaque chunk, as VST2 hosts
        store it and as JUCE's VST3 wrapper writes its state for hosts that replaced the VST2
        plug-in by the VST3 one.
    */
    struct Vst2Bank
    {
        juce::uint32 fxId = 0;
        juce::uint32 fxVersion = 0;
        juce::MemoryBlock chunk;
    };

    /** Reads a bank that starts at the given offset; false if it is not an opaque-chunk bank. */
    bool readVst2Bank (const juce::MemoryBlock& data, size_t offset, Vst2Bank& bank);

    /** Collects the assertions that fail while it exists, in the host and in the plug-ins.

        Every copy of JUCE in the process (the host's, and one in each plug-in file) reports a
        failed assertion of a debug build as a "JUCE Assertion failure in <file>:<line>" line on
        the standard error stream. While any watch exists, that stream goes to a file, which the
        first watch names on the real stream (where a crash's report stays); when the last watch
        ends, everything is passed on to the real stream, so nothing is hidden from the
        developer. Watches nest: the test program watches every test, and a test may watch a
        part of itself. Message thread only.
    */
    class AssertionWatch final
    {
    public:
        AssertionWatch();
        ~AssertionWatch();

        /** The assertion lines written since the watch began. */
        juce::StringArray getAssertions() const;

        /** Marks every assertion written so far as expected, by a test that trips one on
            purpose: getUnexpectedAssertions of every watch passes over them.
        */
        static void expectThoseSeen();

        /** The assertion lines written since the watch began, less those marked expected. */
        juce::StringArray getUnexpectedAssertions() const;

    private:
        juce::StringArray getAssertionsFrom (juce::int64 offset) const;

        juce::int64 start = 0;

        JUCE_DECLARE_NON_COPYABLE (AssertionWatch)
    };

    /** Whether an X server is at hand, which a plug-in's editor needs for its window. */
    bool hasDisplay();
}
