#include "QuillmereAudioProcessor.h"

#include "support/ExpectedIdentity.h"

#include <gtest/gtest.h>

namespace
{
    /** The channel sets of JUCE's AAX stem-format table, in the order its wrapper walks them. */
    const juce::Array<juce::AudioChannelSet>& getAaxStemFormats()
    {
        using Set = juce::AudioChannelSet;

        static const juce::Array<Set> formats {
            Set::mono(), Set::stereo(), Set::createLCR(), Set::createLCRS(), Set::quadraphonic(),
            Set::create5point0(), Set::create5point1(), Set::create6point0(), Set::create6point1(),
            Set::create7point0SDDS(), Set::create7point1SDDS(), Set::create7point0(), Set::create7point1(),
            Set::create7point0point2(), Set::create7point1point2(),
            Set::ambisonic (1), Set::ambisonic (2), Set::ambisonic (3)
        };

        return formats;
    }

    struct AaxPluginType
    {
        juce::AudioChannelSet input, output;
        juce::int32 nativeId = 0, audioSuiteId = 0;
    };

    /** The plug-in types an AAX host is offered, found as JUCE's AAX description finds them:
        every input format against every output format, input in the outer loop, keeping a
        pair when the processor's main buses accept it, starting from their default layouts,
        and it matches a preferred channel configuration. Every format of the table is tried,
        as for a host that supports them all.
    */
    std::vector<AaxPluginType> describeAaxPluginTypes (juce::AudioProcessor& processor)
    {
        const short configurations[][2] = { JucePlugin_PreferredChannelConfigurations };
        std::vector<AaxPluginType> types;

        for (const auto& input : getAaxStemFormats())
        {
            for (const auto& output : getAaxStemFormats())
            {
                juce::AudioProcessor::BusesLayout layout;

                for (int i = 0; i < processor.getBusCount (true); ++i)
                    layout.inputBuses.add (processor.getBus (true, i)->getDefaultLayout());

                for (int i = 0; i < processor.getBusCount (false); ++i)
                    layout.outputBuses.add (processor.getBus (false, i)->getDefaultLayout());

                if (! processor.getBus (true, 0)->isLayoutSupported (input, &layout)
                    || ! processor.getBus (false, 0)->isLayoutSupported (output, &layout)
                    || layout.getMainInputChannelSet() != input
                    || ! juce::AudioProcessor::containsLayout (layout, configurations)
                    || ! processor.checkBusesLayoutSupported (layout))
                    continue;

                const auto in = layout.getMainInputChannelSet();
                const auto out = layout.getMainOutputChannelSet();
                types.push_back ({ in, out, processor.getAAXPluginIDForMainBusConfig (in, out, false), processor.getAAXPluginIDForMainBusConfig (in, out, true) });
            }
        }

        return types;
    }
}

TEST (PluginIdentity, AaxHostsAreOfferedExactlyTheMonoAndStereoPluginTypes)
{
    QuillmereAudioProcessor processor;
    const auto types = describeAaxPluginTypes (processor);

    using Set = juce::AudioChannelSet;

    const AaxPluginType expected[] {
        { Set::mono(), Set::mono(), expected_identity::aax::monoNativeId, expected_identity::aax::monoAudioSuiteId },
        { Set::stereo(), Set::stereo(), expected_identity::aax::stereoNativeId, expected_identity::aax::stereoAudioSuiteId }
    };

    ASSERT_EQ (types.size(), std::size (expected));

    for (size_t i = 0; i < types.size(); ++i)
    {
        SCOPED_TRACE ("plug-in type " + std::to_string (i));
        EXPECT_EQ (types[i].input, expected[i].input) << types[i].input.getDescription();
        EXPECT_EQ (types[i].output, expected[i].output) << types[i].output.getDescription();
        EXPECT_EQ (types[i].nativeId, expected[i].nativeId);
        EXPECT_EQ (types[i].audioSuiteId, expected[i].audioSuiteId);
    }
}

// AAX cannot be built here (its SDK is closed), so its settings are checked where JUCE's
// CMake API leaves them: in the definitions every wrapper of the product is compiled with.
TEST (PluginIdentity, AaxSettingsAreRecordedForAnAaxBuild)
{
    EXPECT_STREQ (JUCE_STRINGIFY (JucePlugin_AAXIdentifier), expected_identity::aax::identifier);

    const struct
    {
        const char* name;
        juce::int64 value, expected;
    } settings[] {
        { "JucePlugin_AAXManufacturerCode", JucePlugin_AAXManufacturerCode, expected_identity::manufacturerCode },
        { "JucePlugin_AAXProductId", JucePlugin_AAXProductId, expected_identity::pluginCode },
        { "JucePlugin_AAXCategory", JucePlugin_AAXCategory, expected_identity::aax::category },
        { "JucePlugin_AAXDisableBypass", JucePlugin_AAXDisableBypass, expected_identity::aax::disableBypass },
        { "JucePlugin_AAXDisableMultiMono", JucePlugin_AAXDisableMultiMono, expected_identity::aax::disableMultiMono },
        { "JucePlugin_AAXDisableAudioSuite", JucePlugin_AAXDisableAudioSuite, expected_identity::aax::disableAudioSuite },
        { "JucePlugin_VersionCode", JucePlugin_VersionCode, expected_identity::versionCode },
    };

    for (const auto& setting : settings)
        EXPECT_EQ (setting.value, setting.expected) << setting.name;
}
