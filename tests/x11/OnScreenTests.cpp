// Cases that open a label's text editor: the editor takes the keyboard focus as it opens,
// which JUCE allows only for a component on the screen, so they run in a real window.

#include "Editor/FilteredComboBox.h"
#include "Editor/QuillmereAudioProcessorEditor.h"

#include "../support/ConsoleSimulator.h"
#include "../support/TestHelpers.h"

#include <gtest/gtest.h>

using namespace testing_helpers;

namespace
{
    /** Puts a component on the screen as a top-level window and waits until it shows. */
    void showOnScreen (juce::Component& component)
    {
        component.setTopLeftPosition (100, 100);
        component.addToDesktop (0);
        component.setVisible (true);
        ASSERT_TRUE (runMessageLoopUntil ([&]
                                          { return component.isShowing() && component.getPeer() != nullptr; }));
    }

    juce::Label* textLabelOf (juce::ComboBox& box)
    {
        for (auto* child : box.getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child))
                return label;

        return nullptr;
    }

    /** Where the dark pixels of an image lie. */
    juce::Rectangle<int> inkBounds (const juce::Image& image, float maxBrightness)
    {
        juce::Rectangle<int> ink;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (image.getPixelAt (x, y).getBrightness() < maxBrightness)
                    ink = ink.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1) : ink.getUnion ({ x, y, 1, 1 });

        return ink;
    }
}

TEST (FilteredComboBox, TheBoxRestrictsTheEditorItsLabelOpens)
{
    FilteredComboBox box;
    box.setSize (70, 60);
    box.setEditableText (true);
    box.maxValue = 8;
    showOnScreen (box);

    auto* label = textLabelOf (box);
    ASSERT_NE (label, nullptr);
    label->showEditor();
    auto* editor = label->getCurrentTextEditor();
    ASSERT_NE (editor, nullptr);

    editor->insertTextAtCaret ("9x");
    EXPECT_EQ (editor->getText(), "");
    editor->insertTextAtCaret ("7");
    EXPECT_EQ (editor->getText(), "7");
    label->hideEditor (true);
}

TEST (ScribbleStrip, KeepsItsTextCentredWhileItIsEdited)
{
    VirtualMidiPortBackend ports;
    ports.install();
    QuillmereAudioProcessor processor;
    processor.setDevice ("Tarn16");
    processor.channel = 1;
    processor.setChannelName ("Kick");

    std::unique_ptr<QuillmereAudioProcessorEditor> e (dynamic_cast<QuillmereAudioProcessorEditor*> (processor.createEditor()));
    ASSERT_NE (e, nullptr);
    showOnScreen (*e);

    const auto render = [&]
    { return e->createComponentSnapshot (e->getLocalBounds(), true, 1.0f); };
    const auto strip = e->scribbleStrip->getBounds();

    const auto shown = inkBounds (render().getClippedImage (strip), 0.3f);
    e->scribbleStrip->showEditor();
    ASSERT_NE (e->scribbleStrip->getCurrentTextEditor(), nullptr);
    e->scribbleStrip->getCurrentTextEditor()->setHighlightedRegion ({}); // no selection drawn behind the text
    const auto edited = inkBounds (render().getClippedImage (strip), 0.3f);
    e->scribbleStrip->hideEditor (true);

    ASSERT_FALSE (shown.isEmpty());
    EXPECT_LE (std::abs (edited.getCentreX() - shown.getCentreX()), 2) << edited.toString() << " against " << shown.toString();
    EXPECT_LE (std::abs (edited.getCentreY() - shown.getCentreY()), 2) << edited.toString() << " against " << shown.toString();
    EXPECT_LE (std::abs (edited.getWidth() - shown.getWidth()), 2);
}

TEST (EditorWindow, ClosingItWithAListOpenClosesTheList)
{
    VirtualMidiPortBackend ports;
    ports.install();
    ConsoleSimulator console { ports, "Tarn16 Automation" };
    QuillmereAudioProcessor processor;
    processor.channel = 1;

    const auto showingWindows = []
    {
        int showing = 0;

        for (int i = 0; i < juce::Desktop::getInstance().getNumComponents(); ++i)
            showing += juce::Desktop::getInstance().getComponent (i)->isShowing() ? 1 : 0;

        return showing;
    };

    for (const auto* which : { "model", "channel" })
    {
        SCOPED_TRACE (which);
        processor.setDevice ("Tarn16");
        std::unique_ptr<QuillmereAudioProcessorEditor> e (dynamic_cast<QuillmereAudioProcessorEditor*> (processor.createEditor()));
        ASSERT_NE (e, nullptr);
        showOnScreen (*e);

        // Opened as a press from a screen reader opens it, which a click does too.
        e->modelBox.setSelectedId (2, juce::sendNotificationSync); // fills the channel list
        juce::ComboBox& box = juce::String (which) == "model" ? e->modelBox : *e->channelBox;
        ASSERT_TRUE (box.isEnabled());
        ASSERT_NE (box.getAccessibilityHandler(), nullptr);
        box.getAccessibilityHandler()->getActions().invoke (juce::AccessibilityActionType::press);
        ASSERT_TRUE (runMessageLoopUntil ([&]
                                          { return showingWindows() == 2; }));

        // Any JUCE assertion here (a look-and-feel still in use as it goes) fails the test.
        e.reset();
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return juce::Desktop::getInstance().getNumComponents() == 0; }));
    }
}
