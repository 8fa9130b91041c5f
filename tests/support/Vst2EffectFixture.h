#pragma once

// FST's VST2 interface, through the pluginterfaces/vst2.x folder each host program's build
// generates. At global scope, where hosts declare the effect record.
#include <pluginterfaces/vst2.x/aeffectx.h>

#include <gtest/gtest.h>

#include <string>

/** What the tests' VST2 hosts share: one effect of the module, made through its entry point
    with the host's callback and opened as a host opens it, and closed when the test ends.
    The deriving fixture loads the module, as its platform's hosts do, and opens the effect in
    its SetUp when its tests need one. Linux and Windows (MinGW, without JUCE) alike.
*/
class Vst2EffectFixture : public testing::Test
{
protected:
    using PluginMain = AEffect* (*) (audioMasterCallback);

    /** Makes the effect and opens it (effOpen); a fatal failure when there is none. */
    void openEffect (PluginMain pluginMain, audioMasterCallback hostCallback)
    {
        ASSERT_NE (pluginMain, nullptr);
        effect = pluginMain (hostCallback);
        ASSERT_NE (effect, nullptr);
        dispatch (effOpen);
    }

    void TearDown() override
    {
        if (effect != nullptr)
            dispatch (effClose);
    }

    VstIntPtr dispatch (int opcode, int index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f)
    {
        return effect->dispatcher (effect, opcode, index, value, ptr, opt);
    }

    /** The text an opcode writes into the buffer the host hands it: a name, a label. */
    std::string dispatchForText (int opcode, int index = 0)
    {
        char text[256] = {};
        dispatch (opcode, index, 0, text);
        return text;
    }

    AEffect* effect = nullptr;
};
