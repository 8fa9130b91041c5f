#include "HostHelpers.h"

#include "../support/ExpectedIdentity.h"
#include "../support/Vst2EffectFixture.h"

#include <gtest/gtest.h>

#include <pluginterfaces/vst2.x/aeffectx.h>

using namespace host_helpers;

// The VST2 module as a host sees it through the interface itself: the effect record and the
// dispatcher's answers, which JUCE's hosting classes read but do not all pass on.

namespace
{
    constexpr VstIntPtr hostVstVersion = 2400;

    /** A host that answers its VST version and nothing else. */
    VstIntPtr hostCallback (AEffect*, int opcode, int, VstIntPtr, void*, float)
    {
        return opcode == audioMasterVersion ? hostVstVersion : 0;
    }

    /** A host that answers 0 to every question, its VST version included. */
    VstIntPtr silentHostCallback (AEffect*, int, int, VstIntPtr, void*, float) { return 0; }

    VstIntPtr fourCharCode (const char* code) { return (VstIntPtr) juce::ByteOrder::bigEndianInt (code); }
}

class Vst2InterfaceTest : public Vst2EffectFixture
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (module.open (getVst2Module().getFullPathName())) << getVst2Module().getFullPathName();
        openEffect (reinterpret_cast<PluginMain> (module.getFunction ("VSTPluginMain")), hostCallback);
    }

    juce::DynamicLibrary module;
};

TEST_F (Vst2InterfaceTest, BothEntryPointsCreateAnEffectOnlyForAHostThatAnswersItsVersion)
{
    for (auto* name : { "VSTPluginMain", "main" })
    {
        SCOPED_TRACE (name);
        auto entry = reinterpret_cast<PluginMain> (module.getFunction (name));
        ASSERT_NE (entry, nullptr);

        EXPECT_EQ (entry (silentHostCallback), nullptr);

        auto* other = entry (hostCallback);
        ASSERT_NE (other, nullptr);
        EXPECT_EQ (other->magic, kEffectMagic);
        other->dispatcher (other, effClose, 0, 0, nullptr, 0.0f);
    }
}

TEST_F (Vst2InterfaceTest, EffectRecordCarriesTheIdentityAndCapabilities)
{
    EXPECT_EQ (effect->magic, 0x56737450 /* 'VstP' */);
    EXPECT_EQ (effect->uniqueID, expected_identity::pluginCode);
    EXPECT_EQ (effect->version, expected_identity::vst2::version);
    EXPECT_EQ (effect->numPrograms, expected_identity::vst2::numPrograms);
    EXPECT_EQ (effect->numParams, expected_identity::vst2::numParameters);
    EXPECT_EQ (effect->numInputs, expected_identity::vst2::numInputs);
    EXPECT_EQ (effect->numOutputs, expected_identity::vst2::numOutputs);
    EXPECT_EQ (effect->initialDelay, 0);

    // An editor, single-precision replacing and chunks, and nothing else: no synthesiser, no
    // double precision, and no "no sound in stop", which would let hosts skip the plug-in.
    EXPECT_EQ (effect->flags, effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks);
    EXPECT_EQ (effect->flags, expected_identity::vst2::flags);
    EXPECT_NE (effect->processReplacing, nullptr);
}

TEST_F (Vst2InterfaceTest, DispatcherAnswersNamesVendorCategoryAndVstVersion)
{
    const struct
    {
        int opcode, index;
        const char* text;
    } texts[] {
        { effGetEffectName, 0, expected_identity::pluginName },
        { effGetProductString, 0, expected_identity::pluginName },
        { effGetVendorString, 0, expected_identity::manufacturerName },
        { effGetProgramNameIndexed, 0, expected_identity::programName },
        { effGetParamName, 0, "Level" },
        { effGetParamName, 1, "Cut" },
    };

    for (const auto& query : texts)
        EXPECT_EQ (dispatchForText (query.opcode, query.index), query.text) << "opcode " << query.opcode << ", index " << query.index;

    EXPECT_EQ (dispatch (effGetPlugCategory), expected_identity::vst2::category);
    EXPECT_EQ (dispatch (effGetVstVersion), expected_identity::vst2::vstVersion);
    EXPECT_EQ (dispatch (effGetVendorVersion), expected_identity::vst2::version);
}

TEST_F (Vst2InterfaceTest, RefusesMidiFromTheHostAndOffersBypass)
{
    const struct
    {
        const char* query;
        VstIntPtr answer;
    } canDos[] {
        { "receiveVstEvents", -1 },
        { "receiveVstMidiEvent", -1 },
        { "receiveVstMidiEvents", -1 },
        { "sendVstEvents", -1 },
        { "sendVstMidiEvent", -1 },
        { "sendVstMidiEvents", -1 },
        { "bypass", 1 },
    };

    for (const auto& canDo : canDos)
        EXPECT_EQ (dispatch (effCanDo, 0, 0, const_cast<char*> (canDo.query)), canDo.answer) << canDo.query;

    // A note the host hands over anyway is not taken.
    VstMidiEvent noteOn {};
    noteOn.type = kVstMidiType;
    noteOn.byteSize = (int) sizeof (noteOn);
    noteOn.midiData[0] = (unsigned char) 0x90;
    noteOn.midiData[1] = 60;
    noteOn.midiData[2] = 100;

    juce::HeapBlock<char> storage (sizeof (VstEvents) + sizeof (VstEvent*), true);
    auto* events = reinterpret_cast<VstEvents*> (storage.get());
    events->numEvents = 1;
    events->events[0] = reinterpret_cast<VstEvent*> (&noteOn);

    EXPECT_EQ (dispatch (effProcessEvents, 0, 0, events), 0);
}

TEST_F (Vst2InterfaceTest, VendorSpecificQueryAnswersTheVst3ComponentClassIdentifier)
{
    const auto vst3ComponentClassId = findVst3ClassId ("Audio Module Class");
    ASSERT_EQ (vst3ComponentClassId, getExpectedComponentClassId());

    for (const auto& index : { "stCA", "stCa" })
    {
        SCOPED_TRACE (index);
        std::array<juce::uint8, 16> answer {};
        EXPECT_EQ (dispatch (effVendorSpecific, (int) fourCharCode (index), fourCharCode ("FUID"), answer.data()), 1);
        EXPECT_EQ (answer, vst3ComponentClassId);
    }

    // Another value is not this query: nothing is written.
    std::array<juce::uint8, 16> answer {};
    EXPECT_EQ (dispatch (effVendorSpecific, (int) fourCharCode ("stCA"), fourCharCode ("fuid"), answer.data()), 0);
    EXPECT_EQ (answer, (std::array<juce::uint8, 16> {}));
}

TEST_F (Vst2InterfaceTest, AcceptsOnlyMonoToMonoAndStereoToStereoSpeakerArrangements)
{
    const struct
    {
        int inputs, outputs;
        VstIntPtr accepted;
    } arrangements[] {
        { 1, 1, 1 },
        { 2, 2, 1 },
        { 1, 2, 0 },
        { 2, 1, 0 },
    };

    const auto makeArrangement = [] (int channels)
    {
        VstSpeakerArrangement arrangement {};
        arrangement.type = channels == 1 ? kSpeakerArrMono : kSpeakerArrStereo;
        arrangement.numChannels = channels;

        for (int i = 0; i < channels; ++i)
            arrangement.speakers[i].type = channels == 1 ? kSpeakerM : (i == 0 ? kSpeakerL : kSpeakerR);

        return arrangement;
    };

    for (const auto& arrangement : arrangements)
    {
        auto in = makeArrangement (arrangement.inputs);
        auto out = makeArrangement (arrangement.outputs);
        EXPECT_EQ (dispatch (effSetSpeakerArrangement, 0, (VstIntPtr) &in, &out), arrangement.accepted)
            << arrangement.inputs << " in, " << arrangement.outputs << " out";
    }
}
