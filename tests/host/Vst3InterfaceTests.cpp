#include "HostHelpers.h"

#include "../support/ExpectedIdentity.h"

#include <gtest/gtest.h>

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>

using namespace host_helpers;

// The VST3 module as a host sees it below JUCE's hosting classes: its entry points, its
// factory and the classes the factory offers.

class Vst3InterfaceTest : public testing::Test
{
protected:
    using ModuleEntry = bool (*) (void*);
    using ModuleExit = bool (*)();
    using GetFactory = Steinberg::IPluginFactory* (*) ();

    void SetUp() override
    {
        ASSERT_TRUE (module.open (getVst3Module().getFullPathName())) << getVst3Module().getFullPathName();

        moduleEntry = reinterpret_cast<ModuleEntry> (module.getFunction ("ModuleEntry"));
        moduleExit = reinterpret_cast<ModuleExit> (module.getFunction ("ModuleExit"));
        getFactory = reinterpret_cast<GetFactory> (module.getFunction ("GetPluginFactory"));
        ASSERT_NE (moduleEntry, nullptr);
        ASSERT_NE (moduleExit, nullptr);
        ASSERT_NE (getFactory, nullptr);

        ASSERT_TRUE (moduleEntry (module.getNativeHandle()));
        entered = true;

        factory = getFactory();
        ASSERT_NE (factory, nullptr);
    }

    void TearDown() override
    {
        if (factory != nullptr)
            factory->release();

        if (entered)
        {
            EXPECT_TRUE (moduleExit());
        }
    }

    /** The number of references to the factory. */
    Steinberg::uint32 countReferences (Steinberg::IPluginFactory* f)
    {
        const auto count = f->addRef() - 1;
        f->release();
        return count;
    }

    static std::array<juce::uint8, 16> toArray (const Steinberg::TUID tuid)
    {
        std::array<juce::uint8, 16> bytes;
        std::memcpy (bytes.data(), tuid, bytes.size());
        return bytes;
    }

    juce::DynamicLibrary module;
    ModuleEntry moduleEntry = nullptr;
    ModuleExit moduleExit = nullptr;
    GetFactory getFactory = nullptr;
    bool entered = false;
    Steinberg::IPluginFactory* factory = nullptr;
};

TEST_F (Vst3InterfaceTest, FactoryNamesTheMaker)
{
    Steinberg::PFactoryInfo info;
    ASSERT_EQ (factory->getFactoryInfo (&info), Steinberg::kResultOk);

    EXPECT_STREQ (info.vendor, expected_identity::manufacturerName);
    EXPECT_STREQ (info.url, expected_identity::manufacturerWebsite);
    EXPECT_STREQ (info.email, expected_identity::manufacturerEmail);
    EXPECT_EQ (info.flags, Steinberg::PFactoryInfo::kUnicode);
}

TEST_F (Vst3InterfaceTest, FactoryOffersTheComponentAndControllerUnderTheirClassIdentifiers)
{
    const struct
    {
        const char* category;
        const char* registryForm;
        std::array<juce::uint8, 16> classId;
    } classes[] {
        { kVstAudioEffectClass, expected_identity::vst3::componentClassId, getExpectedComponentClassId() },
        { kVstComponentControllerClass, expected_identity::vst3::controllerClassId, getExpectedControllerClassId() },
    };

    Steinberg::FUnknownPtr<Steinberg::IPluginFactory2> factory2 (factory);
    ASSERT_TRUE (factory2);
    ASSERT_EQ (factory->countClasses(), (Steinberg::int32) std::size (classes));

    for (Steinberg::int32 i = 0; i < factory->countClasses(); ++i)
    {
        SCOPED_TRACE ("class " + std::to_string (i));
        Steinberg::PClassInfo2 info;
        ASSERT_EQ (factory2->getClassInfo2 (i, &info), Steinberg::kResultOk);

        const auto& expected = classes[i];
        EXPECT_STREQ (info.category, expected.category);
        EXPECT_EQ (toArray (info.cid), expected.classId);

        char registryForm[40] = {};
        Steinberg::FUID::fromTUID (info.cid).toRegistryString (registryForm);
        EXPECT_STREQ (registryForm, expected.registryForm);

        EXPECT_EQ (info.cardinality, Steinberg::PClassInfo::kManyInstances);
        EXPECT_STREQ (info.name, expected_identity::pluginName);
        EXPECT_EQ (info.classFlags, expected_identity::vst3::classFlags);
        EXPECT_STREQ (info.subCategories, expected_identity::vst3::subCategories);
        EXPECT_STREQ (info.vendor, expected_identity::manufacturerName);
        EXPECT_STREQ (info.version, expected_identity::versionText);
        EXPECT_STREQ (info.sdkVersion, expected_identity::vst3::sdkVersion);
    }
}

TEST_F (Vst3InterfaceTest, AskingForTheFactoryAgainAddsAReferenceToTheSameFactory)
{
    const auto referencesBefore = countReferences (factory);

    auto* again = getFactory();
    ASSERT_EQ (again, factory);
    EXPECT_EQ (countReferences (factory), referencesBefore + 1);

    again->release();
    EXPECT_EQ (countReferences (factory), referencesBefore);
}

TEST_F (Vst3InterfaceTest, ComponentNamesItsControllerClass)
{
    juce::String error;
    const auto instance = loadPlugin ("VST3", error);
    ASSERT_NE (instance, nullptr) << error;

    auto* component = getVst3Component (*instance);
    ASSERT_NE (component, nullptr);

    Steinberg::TUID controllerClassId = {};
    ASSERT_EQ (component->getControllerClassId (controllerClassId), Steinberg::kResultOk);
    EXPECT_EQ (toArray (controllerClassId), getExpectedControllerClassId());
}

// What a host reads of a component fresh from the factory, before it arranges any bus: one
// main audio bus each way, active by default, in the first preferred configuration (mono),
// and no event buses.
TEST_F (Vst3InterfaceTest, FreshComponentHasOneActiveMonoMainBusEachWay)
{
    const auto classId = getExpectedComponentClassId();
    Steinberg::TUID cid;
    std::memcpy (cid, classId.data(), sizeof (cid));

    void* object = nullptr;
    ASSERT_EQ (factory->createInstance (cid, Steinberg::Vst::IComponent::iid, &object), Steinberg::kResultOk);
    auto* component = static_cast<Steinberg::Vst::IComponent*> (object);
    ASSERT_EQ (component->initialize (nullptr), Steinberg::kResultOk);

    Steinberg::FUnknownPtr<Steinberg::Vst::IAudioProcessor> processor (component);
    ASSERT_TRUE (processor);

    for (const auto direction : { Steinberg::Vst::kInput, Steinberg::Vst::kOutput })
    {
        SCOPED_TRACE (direction == Steinberg::Vst::kInput ? "input" : "output");
        EXPECT_EQ (component->getBusCount (Steinberg::Vst::kEvent, direction), 0);
        ASSERT_EQ (component->getBusCount (Steinberg::Vst::kAudio, direction), 1);

        Steinberg::Vst::BusInfo info {};
        ASSERT_EQ (component->getBusInfo (Steinberg::Vst::kAudio, direction, 0, info), Steinberg::kResultOk);
        EXPECT_EQ (info.busType, Steinberg::Vst::kMain);
        EXPECT_EQ (info.flags, (Steinberg::uint32) Steinberg::Vst::BusInfo::kDefaultActive);
        EXPECT_EQ (info.channelCount, 1);

        Steinberg::Vst::SpeakerArrangement arrangement = 0;
        ASSERT_EQ (processor->getBusArrangement (direction, 0, arrangement), Steinberg::kResultOk);
        EXPECT_EQ (arrangement, Steinberg::Vst::SpeakerArr::kMono);
    }

    component->terminate();
    component->release();
}

// A host that stored a project with the VST2 plug-in hands the VST3 one the VST2 bank it
// saved; the VST3 component restores the settings from it.
TEST_F (Vst3InterfaceTest, ComponentTakesOverTheStateAVst2HostSaved)
{
    juce::String error;
    const auto vst2Instance = loadPlugin ("VST", error);
    ASSERT_NE (vst2Instance, nullptr) << error;
    const auto vst3Instance = loadPlugin ("VST3", error);
    ASSERT_NE (vst3Instance, nullptr) << error;

    const auto settings = makeSettingsChunk (R"(<QUILLMERESETTINGS midiInName="" midiOutName="" fader="0.5" cut="0" channel="3" channelName="Bass" deviceName="Tarn48-XL"/>)");
    ASSERT_TRUE (writePluginChunk (*vst2Instance, settings));

    juce::MemoryBlock vst2Bank;
    vst2Instance->getStateInformation (vst2Bank);

    Vst2Bank bank;
    ASSERT_TRUE (readVst2Bank (vst2Bank, 0, bank));
    EXPECT_EQ (bank.fxId, (juce::uint32) expected_identity::pluginCode);
    EXPECT_EQ (bank.fxVersion, (juce::uint32) expected_identity::vst2::version);

    ASSERT_TRUE (writePluginChunk (*vst3Instance, vst2Bank));

    const auto restored = readSettingsChunk (readPluginChunk (*vst3Instance));
    ASSERT_NE (restored, nullptr);
    EXPECT_EQ (restored->getIntAttribute ("channel"), 3);
    EXPECT_EQ (restored->getStringAttribute ("channelName"), "Bass");
    EXPECT_EQ (restored->getStringAttribute ("deviceName"), "Tarn48-XL");
}
