#pragma once

#include "Editor/QuillmereAudioProcessorEditor.h"

#include "../support/ConsoleSimulator.h"
#include "../support/HostRecorder.h"
#include "../support/TestHelpers.h"

#include <gtest/gtest.h>

/** A processor with the Tarn16's console on its default ports and a second port pair, and
    an editor opened on it on demand, as a host opens the window.
*/
struct EditorFixture : public ::testing::Test
{
    EditorFixture()
    {
        ports.install();
        ports.addInputPort ("Studio In");
        ports.addOutputPort ("Studio Out");
    }

    ~EditorFixture() override
    {
        editor.reset();
        processor.reset();
        EXPECT_TRUE (console.getMalformedTraffic().isEmpty()) << console.getMalformedTraffic().joinIntoString ("\n");
    }

    QuillmereAudioProcessorEditor& openEditor()
    {
        editor.reset (dynamic_cast<QuillmereAudioProcessorEditor*> (processor->createEditor()));
        jassert (editor != nullptr);
        return *editor;
    }

    /** The picture of the window, rendered without a display. */
    juce::Image render()
    {
        return editor->createComponentSnapshot (editor->getLocalBounds(), true, 1.0f);
    }

    VirtualMidiPortBackend ports;
    ConsoleSimulator console { ports, "Tarn16 Automation" };
    std::unique_ptr<QuillmereAudioProcessor> processor = std::make_unique<QuillmereAudioProcessor>();
    std::unique_ptr<QuillmereAudioProcessorEditor> editor;
};
