#include "HostHelpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>

namespace
{
    std::unique_ptr<juce::AudioPluginFormatManager> formatManager;

    /** Creates the format manager after JUCE is initialised and destroys it, with the LV2
        world it holds, before JUCE shuts down.
    */
    class HostEnvironment final : public testing::Environment
    {
    public:
        void SetUp() override
        {
            formatManager = std::make_unique<juce::AudioPluginFormatManager>();
            formatManager->addFormat (new juce::VST3PluginFormat());
            formatManager->addFormat (new juce::VSTPluginFormat());
            formatManager->addFormat (new juce::LV2PluginFormat());

            for (auto* format : formatManager->getFormats())
                if (format->getName() == "LV2")
                    format->searchPathsForPlugins (juce::FileSearchPath (host_helpers::getLv2Bundle().getParentDirectory().getFullPathName()), false, false);
        }

        void TearDown() override { formatManager.reset(); }
    };
}

juce::AudioPluginFormatManager& host_helpers::getFormatManager()
{
    jassert (formatManager != nullptr);
    return *formatManager;
}

int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);

    // JUCE's LV2 host always searches ~/.lv2 too, where an installed copy of the plug-in has
    // the same URI and could stand in for this tree's bundle: the program gets an empty home.
    const auto home = juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("QuillmereHostTests", {}, false);
    home.createDirectory();
    setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);

    // A DAW keeps the ALSA and X11 libraries loaded for its whole life, for its own audio, MIDI
    // and windows. Here only the plug-ins and JUCE's window code load them, and when they unload,
    // the caches those libraries keep in their globals turn unreachable and LeakSanitizer reports
    // them as leaked: the program holds both libraries for its whole life, as a DAW does.
    for (const auto* library : { "libasound.so.2", "libX11.so.6" })
        dlopen (library, RTLD_NOW);

    int result = 0;

    {
        juce::ScopedJuceInitialiser_GUI juce;
        testing::AddGlobalTestEnvironment (new HostEnvironment());
        result = RUN_ALL_TESTS();
    }

    home.deleteRecursively();
    return result;
}
