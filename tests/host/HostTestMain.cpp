#include "HostHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
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

    /** Fails each test in which a JUCE assertion failed, in the host or in a plug-in, and the
        program when one fails while the environment is set up or torn down. Every test runs
        inside an assertion watch.
    */
    class AssertionsFailTests final : public testing::EmptyTestEventListener
    {
    public:
        void OnTestStart (const testing::TestInfo&) override { beginWatching(); }
        void OnTestEnd (const testing::TestInfo&) override { failForAssertions(); }
        void OnEnvironmentsSetUpStart (const testing::UnitTest&) override { beginWatching(); }
        void OnEnvironmentsSetUpEnd (const testing::UnitTest&) override { failForAssertions(); }
        void OnEnvironmentsTearDownStart (const testing::UnitTest&) override { beginWatching(); }
        void OnEnvironmentsTearDownEnd (const testing::UnitTest&) override { failForAssertions(); }

    private:
        void beginWatching() { watch = std::make_unique<host_helpers::AssertionWatch>(); }

        // Listeners hear of a test's end before the result printer does, so the failure
        // counts against the test that is ending.
        void failForAssertions()
        {
            for (const auto& assertion : watch->getUnexpectedAssertions())
                ADD_FAILURE() << assertion;

            watch.reset();
        }

        std::unique_ptr<host_helpers::AssertionWatch> watch;
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

    testing::UnitTest::GetInstance()->listeners().Append (new AssertionsFailTests());
    int result = 0;

    {
        // JUCE's shutdown is watched too, in the host and in the plug-ins it still holds.
        host_helpers::AssertionWatch shutdown;

        {
            juce::ScopedJuceInitialiser_GUI juce;
            testing::AddGlobalTestEnvironment (new HostEnvironment());
            result = RUN_ALL_TESTS();
            host_helpers::AssertionWatch::expectThoseSeen(); // the tests' own are reported
        }

        if (! shutdown.getUnexpectedAssertions().isEmpty())
        {
            std::fprintf (stderr, "JUCE assertions failed as JUCE shut down:\n%s\n", shutdown.getUnexpectedAssertions().joinIntoString ("\n").toRawUTF8());
            result = 1;
        }
    }

    home.deleteRecursively();
    return result;
}
