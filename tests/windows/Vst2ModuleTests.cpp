#include "Vst3Host.h"

#include "../support/ExpectedIdentity.h"
#include "../support/Vst2EffectFixture.h"

#include <gtest/gtest.h>

#include <pluginterfaces/fst/fst.h>

#include <cstring>

using namespace windows_host;

// The module as a VST2 host on Windows sees it: Quillmere.dll loaded by path, its effect
// created through VSTPluginMain, and everything else through the effect's dispatcher.

namespace
{
    // What this host answers to the version query; 0 tells a plug-in the host is no VST host.
    t_fstPtrInt hostVersion = kVstVersion;

    t_fstPtrInt hostCallback (AEffect*, int opcode, int, t_fstPtrInt, void*, float)
    {
        switch (opcode)
        {
            case audioMasterVersion:
                return hostVersion;
            case audioMasterGetSampleRate:
                return 48000;
            case audioMasterGetBlockSize:
                return 512;
            case audioMasterSizeWindow:
                return 1;
            default:
                return 0;
        }
    }

    constexpr int fourCharacters (const char* code)
    {
        return (int) (((unsigned) (unsigned char) code[0] << 24) | ((unsigned) (unsigned char) code[1] << 16)
                      | ((unsigned) (unsigned char) code[2] << 8) | (unsigned) (unsigned char) code[3]);
    }
}

class Vst2ModuleTest : public Vst2EffectFixture
{
protected:
    void SetUp() override
    {
        hostVersion = kVstVersion;
        ASSERT_TRUE (module.isLoaded()) << "cannot load Quillmere.dll";
        pluginMain = module.getFunction<PluginMain> ("VSTPluginMain");
        ASSERT_NE (pluginMain, nullptr);
    }

    LoadedModule module { getModulePath() };
    PluginMain pluginMain = nullptr;
};

TEST_F (Vst2ModuleTest, ExportsOneEntryFunctionUnderBothNames)
{
    EXPECT_EQ (module.getFunction<PluginMain> ("main"), pluginMain);
}

TEST_F (Vst2ModuleTest, HostThatAnswersNoVersionGetsNoEffect)
{
    hostVersion = 0;
    EXPECT_EQ (pluginMain (hostCallback), nullptr);
}

// One effect, opened as a host opens it.
class Vst2EffectTest : public Vst2ModuleTest
{
protected:
    void SetUp() override
    {
        Vst2ModuleTest::SetUp();
        ASSERT_FALSE (HasFatalFailure());

        openEffect (pluginMain, hostCallback);
    }

    std::vector<char> getChunk()
    {
        void* data = nullptr;
        const auto size = dispatch (effGetChunk, 0, 0, &data);

        if (data == nullptr || size <= 0)
            return {};

        const auto* bytes = static_cast<const char*> (data);
        return { bytes, bytes + size };
    }
};

TEST_F (Vst2EffectTest, EffectRecordDescribesThePlugin)
{
    EXPECT_EQ (effect->magic, kEffectMagic);
    EXPECT_EQ (effect->numPrograms, expected_identity::vst2::numPrograms);
    EXPECT_EQ (effect->numParams, expected_identity::vst2::numParameters);
    EXPECT_EQ (effect->numInputs, expected_identity::vst2::numInputs);
    EXPECT_EQ (effect->numOutputs, expected_identity::vst2::numOutputs);
    EXPECT_EQ (effect->initialDelay, 0);
    EXPECT_EQ (effect->uniqueID, fourCharacters (expected_identity::pluginCodeText));
    EXPECT_EQ (effect->uniqueID, expected_identity::pluginCode);
    EXPECT_EQ (effect->version, expected_identity::vst2::version);

    // Editor, replacing processing and chunks, and nothing else: neither synthesiser nor
    // double precision nor "no sound in stop".
    EXPECT_EQ (effect->flags, effFlagsHasEditor | effFlagsCanReplacing | effFlagsProgramChunks);
    EXPECT_EQ (effect->flags, expected_identity::vst2::flags);
    EXPECT_EQ (dispatch (effGetVendorVersion), expected_identity::vst2::version);
}

TEST_F (Vst2EffectTest, DispatcherNamesThePluginAndItsMaker)
{
    struct StringQuery
    {
        const char* name;
        int opcode;
        const char* expected;
    };

    const StringQuery strings[] = {
        { "effect name", effGetEffectName, expected_identity::pluginName },
        { "vendor", effGetVendorString, expected_identity::manufacturerName },
        { "product", effGetProductString, expected_identity::pluginName },
    };

    for (const auto& query : strings)
    {
        SCOPED_TRACE (query.name);
        EXPECT_EQ (dispatchForText (query.opcode), query.expected);
    }

    struct ValueQuery
    {
        const char* name;
        int opcode;
        t_fstPtrInt expected;
    };

    const ValueQuery values[] = {
        { "plug-in category", effGetPlugCategory, expected_identity::vst2::category },
        { "VST version", effGetVstVersion, expected_identity::vst2::vstVersion },
    };

    for (const auto& query : values)
    {
        SCOPED_TRACE (query.name);
        EXPECT_EQ (dispatch (query.opcode), query.expected);
    }
}

TEST_F (Vst2EffectTest, AnswersNoToEveryMidiCanDo)
{
    for (const char* canDo : { "receiveVstEvents", "receiveVstMidiEvent", "sendVstEvents", "sendVstMidiEvent" })
    {
        SCOPED_TRACE (canDo);
        EXPECT_LE (dispatch (effCanDo, 0, 0, const_cast<char*> (canDo)), 0);
    }
}

TEST_F (Vst2EffectTest, VendorSpecificFuidQueryAnswersTheVst3ComponentClassIdentifier)
{
    // The VST3 class identifier as this very module's VST3 factory reports it.
    Vst3Module vst3 { getModulePath() };
    ASSERT_TRUE (vst3.open());
    auto* factory = vst3.getFactory();
    ASSERT_NE (factory, nullptr);

    Steinberg::PClassInfo info;
    ASSERT_EQ (factory->getClassInfo (0, &info), Steinberg::kResultOk);
    ASSERT_STREQ (info.category, "Audio Module Class");
    factory->release();

    const auto vst3ClassId = classIdFromBytes (info.cid);
    EXPECT_EQ (vst3ClassId, classIdFromString (expected_identity::vst3::componentClassId));

    for (const auto* index : { "stCA", "stCa" })
    {
        SCOPED_TRACE (index);

        ClassId answer {};
        EXPECT_EQ (dispatch (effVendorSpecific, fourCharacters (index), fourCharacters ("FUID"), answer.data()), 1);
        EXPECT_EQ (answer, vst3ClassId);
    }

    EXPECT_TRUE (vst3.close());
}

TEST_F (Vst2EffectTest, StateChunkRestoresTheParametersAndReadsBackTheSame)
{
    effect->setParameter (effect, 0, 0.25f);
    effect->setParameter (effect, 1, 1.0f);
    const auto saved = getChunk();
    ASSERT_FALSE (saved.empty());

    effect->setParameter (effect, 0, 0.75f);
    effect->setParameter (effect, 1, 0.0f);
    ASSERT_NE (getChunk(), saved) << "the chunk does not record the parameters";

    auto copy = saved;
    dispatch (effSetChunk, 0, (t_fstPtrInt) copy.size(), copy.data());

    EXPECT_FLOAT_EQ (effect->getParameter (effect, 0), 0.25f);
    EXPECT_EQ (effect->getParameter (effect, 1), 1.0f);
    EXPECT_EQ (getChunk(), saved);
}

TEST_F (Vst2EffectTest, PassesAudioThroughBitExactly)
{
    constexpr int blockSize = 512;

    dispatch (effSetSampleRate, 0, 0, nullptr, 48000.0f);
    dispatch (effSetBlockSize, 0, blockSize);
    dispatch (effMainsChanged, 0, 1);

    // The fader and the CUT key move the console, never the audio: the later blocks run with
    // the fader at the bottom and CUT on.
    for (std::uint32_t block = 0; block < 8; ++block)
    {
        SCOPED_TRACE ("block " + std::to_string (block));

        if (block == 4)
        {
            effect->setParameter (effect, 0, 0.0f);
            effect->setParameter (effect, 1, 1.0f);
        }

        auto input = makeNoise (2, blockSize, 3000 + block);
        const auto original = input;
        auto output = makeNoise (2, blockSize, 4000 + block);

        float* inputs[] = { input[0].data(), input[1].data() };
        float* outputs[] = { output[0].data(), output[1].data() };
        effect->processReplacing (effect, inputs, outputs, blockSize);

        EXPECT_TRUE (haveSameBits (output, original));
    }

    dispatch (effMainsChanged, 0, 0);
}

TEST_F (Vst2EffectTest, EditorOpensInsideTheHostsWindowAndDrawsItself)
{
    ERect* rect = nullptr;
    dispatch (effEditGetRect, 0, 0, &rect);
    ASSERT_NE (rect, nullptr);

    const int width = rect->right - rect->left;
    const int height = rect->bottom - rect->top;
    ASSERT_GT (width, 0);
    ASSERT_GT (height, 0);

    HostWindow window (0, width, height);
    ASSERT_NE (window.getHandle(), nullptr);

    dispatch (effEditOpen, 0, 0, window.getHandle());
    // VST2 hosts send the editor idle calls.
    const auto idle = [] (void* context)
    {
        auto* plugin = static_cast<AEffect*> (context);
        plugin->dispatcher (plugin, effEditIdle, 0, 0, nullptr, 0.0f);
    };

    checkEditorAndKeepScreenshot (window.getHandle(), width, height, idle, effect, "vst2-editor-screenshot.png");
    dispatch (effEditClose);
}
