#include "Vst3Host.h"

#include "../support/ExpectedIdentity.h"

#include <gtest/gtest.h>

#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

using namespace Steinberg;
using namespace windows_host;

// The module as a VST3 host on Windows sees it: loaded from the VST3 bundle, through
// InitDll, GetPluginFactory and ExitDll.

class Vst3ModuleTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (module.open()) << "cannot load the VST3 bundle's binary";
        factory = module.getFactory();
        ASSERT_NE (factory, nullptr);
    }

    void TearDown() override
    {
        if (factory != nullptr)
            factory->release();

        module.close();
    }

    Vst3Module module { getVst3BundleBinaryPath() };
    IPluginFactory* factory = nullptr;
};

TEST_F (Vst3ModuleTest, FactoryNamesTheMakerWithUnicodeStrings)
{
    PFactoryInfo info;
    ASSERT_EQ (factory->getFactoryInfo (&info), kResultOk);

    EXPECT_STREQ (info.vendor, expected_identity::manufacturerName);
    EXPECT_STREQ (info.url, expected_identity::manufacturerWebsite);
    EXPECT_STREQ (info.email, expected_identity::manufacturerEmail);
    EXPECT_EQ (info.flags, PFactoryInfo::kUnicode);
}

TEST_F (Vst3ModuleTest, GetPluginFactoryReturnsTheSameFactoryWithOneMoreReference)
{
    const auto before = countReferences (*factory);
    auto* again = module.getFactory();

    ASSERT_EQ (again, factory);
    EXPECT_EQ (countReferences (*factory), before + 1);
    again->release();
}

TEST_F (Vst3ModuleTest, FactoryOffersTheComponentAndTheControllerUnderTheirClassIdentifiers)
{
    struct ExpectedClass
    {
        const char* category;
        const char* classId;
    };

    const ExpectedClass expected[] = {
        { "Audio Module Class", expected_identity::vst3::componentClassId },
        { "Component Controller Class", expected_identity::vst3::controllerClassId },
    };

    ASSERT_EQ (factory->countClasses(), 2);

    FUnknownPtr<IPluginFactory2> factory2 (factory);
    ASSERT_TRUE (factory2);

    for (int i = 0; i < 2; ++i)
    {
        SCOPED_TRACE (expected[i].category);

        PClassInfo info;
        ASSERT_EQ (factory->getClassInfo (i, &info), kResultOk);
        EXPECT_STREQ (info.category, expected[i].category);
        EXPECT_STREQ (info.name, expected_identity::pluginName);
        EXPECT_EQ (info.cardinality, PClassInfo::kManyInstances);
        EXPECT_EQ (classIdFromBytes (info.cid), classIdFromString (expected[i].classId));

        PClassInfo2 info2;
        ASSERT_EQ (factory2->getClassInfo2 (i, &info2), kResultOk);
        EXPECT_EQ (classIdFromBytes (info2.cid), classIdFromBytes (info.cid));
        EXPECT_EQ (info2.classFlags, expected_identity::vst3::classFlags);
        EXPECT_STREQ (info2.subCategories, expected_identity::vst3::subCategories);
        EXPECT_STREQ (info2.vendor, expected_identity::manufacturerName);
        EXPECT_STREQ (info2.version, expected_identity::versionText);
        EXPECT_STREQ (info2.sdkVersion, expected_identity::vst3::sdkVersion);
    }
}

// One instance as a host makes it: component and controller created, initialised and
// connected, the audio buses active.
class Vst3PluginTest : public Vst3ModuleTest
{
protected:
    void SetUp() override
    {
        Vst3ModuleTest::SetUp();
        ASSERT_FALSE (HasFatalFailure());
        plugin = std::make_unique<Vst3Plugin> (*factory, host);
        ASSERT_TRUE (plugin->isReady());
    }

    void TearDown() override
    {
        plugin.reset();
        Vst3ModuleTest::TearDown();
    }

    Vst::SpeakerArrangement getArrangement (Vst::BusDirection direction)
    {
        Vst::SpeakerArrangement arrangement = 0;
        EXPECT_EQ (plugin->processor->getBusArrangement (direction, 0, arrangement), kResultOk);
        return arrangement;
    }

    TestHostApplication host;
    std::unique_ptr<Vst3Plugin> plugin;
};

TEST_F (Vst3PluginTest, ComponentNamesTheControllerClass)
{
    TUID controller {};
    ASSERT_EQ (plugin->component->getControllerClassId (controller), kResultOk);
    EXPECT_EQ (classIdFromBytes (controller), classIdFromString (expected_identity::vst3::controllerClassId));
}

TEST_F (Vst3PluginTest, ParametersCarryTheIdentifiersHostsStore)
{
    struct ExpectedParameter
    {
        Vst::ParamID id;
        const char* title;
        bool isBypass;
    };

    const ExpectedParameter expected[] = {
        { expected_identity::vst3::levelParameterId, "Level", false },
        { expected_identity::vst3::cutParameterId, "Cut", false },
        { expected_identity::vst3::bypassParameterId, "Bypass", true },
    };

    const auto count = plugin->controller->getParameterCount();
    ASSERT_GE (count, 3);

    for (int i = 0; i < count; ++i)
    {
        Vst::ParameterInfo info {};
        ASSERT_EQ (plugin->controller->getParameterInfo (i, info), kResultOk);
        SCOPED_TRACE ("parameter " + std::to_string (i) + ", " + toAscii (info.title));

        EXPECT_EQ (info.flags & Vst::ParameterInfo::kIsProgramChange, 0) << "one program needs no program change";

        if (i < 3)
        {
            EXPECT_EQ (info.id, expected[i].id);
            EXPECT_EQ (toAscii (info.title), expected[i].title);
            EXPECT_EQ ((info.flags & Vst::ParameterInfo::kIsBypass) != 0, expected[i].isBypass);
        }
        else
        {
            EXPECT_EQ (info.flags & Vst::ParameterInfo::kIsBypass, 0) << "one bypass parameter only";
        }
    }
}

TEST_F (Vst3PluginTest, OffersOneAudioBusEachWayAndNoEventBuses)
{
    EXPECT_EQ (plugin->component->getBusCount (Vst::kAudio, Vst::kInput), 1);
    EXPECT_EQ (plugin->component->getBusCount (Vst::kAudio, Vst::kOutput), 1);
    EXPECT_EQ (plugin->component->getBusCount (Vst::kEvent, Vst::kInput), 0);
    EXPECT_EQ (plugin->component->getBusCount (Vst::kEvent, Vst::kOutput), 0);
}

TEST_F (Vst3PluginTest, AcceptsOnlyThePreferredBusArrangementsAndKeepsTheLastAcceptedOne)
{
    using namespace Vst::SpeakerArr;

    // Starts with the first preferred configuration, mono in to mono out.
    EXPECT_EQ (getArrangement (Vst::kInput), kMono);
    EXPECT_EQ (getArrangement (Vst::kOutput), kMono);

    struct Offer
    {
        Vst::SpeakerArrangement input, output;
        bool accepted;
    };

    // Each refusal follows a different accepted arrangement, so that keeping it is seen.
    const Offer offers[] = {
        { kStereo, kStereo, true },
        { kMono, kStereo, false },
        { kStereo, kMono, false },
        { kMono, kMono, true },
        { kStereo, kMono, false },
        { kMono, kStereo, false },
    };

    Vst::SpeakerArrangement current[] = { kMono, kMono };

    for (const auto& offer : offers)
    {
        SCOPED_TRACE (std::to_string (getChannelCount (offer.input)) + " in, "
                      + std::to_string (getChannelCount (offer.output)) + " out");

        auto input = offer.input;
        auto output = offer.output;
        EXPECT_EQ (plugin->processor->setBusArrangements (&input, 1, &output, 1), offer.accepted ? kResultTrue : kResultFalse);

        if (offer.accepted)
        {
            current[0] = offer.input;
            current[1] = offer.output;
        }

        EXPECT_EQ (getArrangement (Vst::kInput), current[0]);
        EXPECT_EQ (getArrangement (Vst::kOutput), current[1]);
    }
}

TEST_F (Vst3PluginTest, ComponentStateRestoresTheParametersAndReadsBackTheSame)
{
    const auto getState = [this]
    {
        MemoryStream stream;
        EXPECT_EQ (plugin->component->getState (&stream), kResultOk);
        return stream.getBytes();
    };

    auto& controller = *plugin->controller;
    const auto level = expected_identity::vst3::levelParameterId;
    const auto cut = expected_identity::vst3::cutParameterId;
    ASSERT_EQ (controller.setParamNormalized (level, 0.25), kResultOk);
    ASSERT_EQ (controller.setParamNormalized (cut, 1.0), kResultOk);
    const auto saved = getState();
    ASSERT_FALSE (saved.empty());

    ASSERT_EQ (controller.setParamNormalized (level, 0.75), kResultOk);
    ASSERT_EQ (controller.setParamNormalized (cut, 0.0), kResultOk);
    ASSERT_NE (getState(), saved) << "the state does not record the parameters";

    // As a host restores a project: the component's state, then the same to the controller,
    // which takes the values from the processor (and answers with the SDK's default,
    // "not implemented", which hosts do not read).
    MemoryStream forComponent (saved), forController (saved);
    ASSERT_EQ (plugin->component->setState (&forComponent), kResultOk);
    controller.setComponentState (&forController);

    EXPECT_FLOAT_EQ ((float) controller.getParamNormalized (level), 0.25f);
    EXPECT_EQ (controller.getParamNormalized (cut), 1.0);
    EXPECT_EQ (getState(), saved);
}

TEST_F (Vst3PluginTest, EditorViewOpensInsideTheHostsWindowAndDrawsItself)
{
    auto* view = plugin->controller->createView (Vst::ViewType::kEditor);
    ASSERT_NE (view, nullptr);
    EXPECT_EQ (view->isPlatformTypeSupported (kPlatformTypeHWND), kResultTrue);

    ViewRect size;
    ASSERT_EQ (view->getSize (&size), kResultOk);
    ASSERT_GT (size.getWidth(), 0);
    ASSERT_GT (size.getHeight(), 0);

    // Beside the VST2 editor's window, for a run that opens both at once.
    HostWindow window (640, size.getWidth(), size.getHeight());
    ASSERT_NE (window.getHandle(), nullptr);

    ASSERT_EQ (view->attached (window.getHandle(), kPlatformTypeHWND), kResultOk);
    checkEditorAndKeepScreenshot (window.getHandle(), size.getWidth(), size.getHeight(), nullptr, nullptr, "vst3-editor-screenshot.png");
    EXPECT_EQ (view->removed(), kResultOk);
    view->release();
}

class Vst3PassThroughTest : public Vst3PluginTest
    , public testing::WithParamInterface<int>
{
};

TEST_P (Vst3PassThroughTest, PassesAudioThroughBitExactly)
{
    const int numChannels = GetParam();
    constexpr int blockSize = 512;
    auto arrangement = numChannels == 1 ? Vst::SpeakerArr::kMono : Vst::SpeakerArr::kStereo;

    auto& component = *plugin->component;
    auto& processor = *plugin->processor;

    ASSERT_EQ (processor.setBusArrangements (&arrangement, 1, &arrangement, 1), kResultTrue);
    ASSERT_EQ (component.activateBus (Vst::kAudio, Vst::kInput, 0, true), kResultOk);
    ASSERT_EQ (component.activateBus (Vst::kAudio, Vst::kOutput, 0, true), kResultOk);

    Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, blockSize, 48000.0 };
    ASSERT_EQ (processor.setupProcessing (setup), kResultOk);
    ASSERT_EQ (component.setActive (true), kResultOk);
    processor.setProcessing (true);

    for (std::uint32_t block = 0; block < 8; ++block)
    {
        SCOPED_TRACE ("block " + std::to_string (block));

        const auto input = makeNoise (numChannels, blockSize, 1000 + block);
        auto output = makeNoise (numChannels, blockSize, 2000 + block);

        std::vector<float*> inputPointers, outputPointers;

        for (int c = 0; c < numChannels; ++c)
        {
            inputPointers.push_back (const_cast<float*> (input[(size_t) c].data()));
            outputPointers.push_back (output[(size_t) c].data());
        }

        Vst::AudioBusBuffers inputBus, outputBus;
        inputBus.numChannels = numChannels;
        inputBus.channelBuffers32 = inputPointers.data();
        outputBus.numChannels = numChannels;
        outputBus.channelBuffers32 = outputPointers.data();

        Vst::ProcessData data;
        data.processMode = Vst::kRealtime;
        data.symbolicSampleSize = Vst::kSample32;
        data.numSamples = blockSize;
        data.numInputs = 1;
        data.numOutputs = 1;
        data.inputs = &inputBus;
        data.outputs = &outputBus;

        ASSERT_EQ (processor.process (data), kResultOk);
        EXPECT_TRUE (haveSameBits (output, input));
    }

    processor.setProcessing (false);
    EXPECT_EQ (component.setActive (false), kResultOk);
}

INSTANTIATE_TEST_SUITE_P (MonoAndStereo, Vst3PassThroughTest, testing::Values (1, 2), [] (const auto& instance)
                          { return instance.param == 1 ? std::string ("Mono") : std::string ("Stereo"); });
