#include "Editor/ChannelMuteButton.h"
#include "Editor/ComboBoxWithMenuOptions.h"
#include "Editor/QuillmereFaderCap.h"
#include "Editor/RestrictableLabel.h"

#include "../support/TestHelpers.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

namespace
{
    /** Types each piece into the editor as a user would, through its input filter, letting
        the editor tell its listeners of each change before the next piece, as key presses do:
        the editor posts that news to the message loop.
    */
    juce::String typeInto (juce::TextEditor& editor, const std::vector<juce::String>& pieces)
    {
        for (const auto& piece : pieces)
        {
            editor.insertTextAtCaret (piece);
            EXPECT_TRUE (testing_helpers::deliverPostedMessages());
        }

        return editor.getText();
    }

    bool samePixels (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return false;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                    return false;

        return true;
    }

    /** What drawing an image the way the widgets do looks like, for comparison. */
    juce::Image expectedDrawing (const juce::Image& source, int width, int height, juce::Rectangle<int> target)
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        g.setColour (juce::Colours::black);
        g.drawImage (source, target.getX(), target.getY(), target.getWidth(), target.getHeight(), 0, 0, source.getWidth(), source.getHeight());
        return image;
    }
}

TEST (RestrictableLabel, TheEditorAdmitsOnlyTheAllowedCharactersUpToTheLength)
{
    RestrictableLabel label;
    label.setSize (160, 30);
    label.setEditable (false, true, false);
    label.maxTextLength = 8;
    label.allowedCharacters = "1234567890-=_+qwertyuiopQWERTYUIOPasdfghjklASDFGHJKL;:zxcvbnmZXCVBNM,./?!&*()";

    const std::pair<std::vector<juce::String>, juce::String> cases[] = {
        { { "Kick Drum" }, "KickDrum" },              // a space is refused
        { { "Snare", "Top12" }, "SnareTop" },         // a ninth character is refused
        { { "V", "o", "x", "#", "~", "1" }, "Vox1" }, // characters outside the set are dropped
        { { "(L)&R!" }, "(L)&R!" },
        { { juce::String::fromUTF8 ("Caf\xc3\xa9") }, "Caf" },
    };

    for (const auto& [typed, expected] : cases)
    {
        SCOPED_TRACE (expected);
        std::unique_ptr<juce::TextEditor> editor (label.createEditorComponent());
        EXPECT_EQ (typeInto (*editor, typed), expected);
    }
}

TEST (FilteredComboBox, DigitsAreAdmittedOnlyWhileTheNumberStaysInRange)
{
    const struct
    {
        int maxValue;
        std::vector<juce::String> typed;
        juce::String expected;
    } cases[] = {
        { 16, { "9" }, "9" },
        { 16, { "1", "7" }, "1" },
        { 16, { "1", "6" }, "16" },
        { 16, { "1", "6", "3" }, "16" }, // a third digit is refused
        { 16, { "2", "0" }, "2" },       // after a 2 nothing more
        { 16, { "0", "9" }, "09" },      // after a 0 all digits again
        { 16, { "a", "1", "x" }, "1" },  // no letters
        { 8, { "9" }, "" },
        { 8, { "8" }, "8" },
        { 8, { "1", "0" }, "1" },
        { 8, { "0", "8" }, "08" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.expected + " / " + juce::String (c.maxValue));
        FilteredComboBox box;
        box.maxValue = c.maxValue;

        // The text editor the box's label opens for typing.
        juce::TextEditor editor;
        box.editorShown (nullptr, editor);
        EXPECT_EQ (typeInto (editor, c.typed), c.expected);
        editor.removeListener (&box);
    }
}

TEST (FilteredComboBox, ASelectedTextIsJudgedAsIfItWereGone)
{
    // Editing starts with the box's whole text selected, as the label opens its editor.
    FilteredComboBox box;
    box.maxValue = 16;

    juce::TextEditor editor;
    editor.setText ("16", false);
    editor.setHighlightedRegion ({ 0, 2 });
    ASSERT_EQ (editor.getHighlightedText(), "16");
    box.editorShown (nullptr, editor);

    typeInto (editor, { "9" }); // allowed as a first digit, replacing "16"
    EXPECT_EQ (editor.getText(), "9");
    editor.removeListener (&box);
}

TEST (ComboBoxWithMenuOptions, OpensItsMenuWithItsOptionsAndSelectsTheChoiceAsynchronously)
{
    struct Listener final : public juce::ComboBox::Listener
    {
        void comboBoxChanged (juce::ComboBox*) override { ++changes; }
        int changes = 0;
    } listener;

    ComboBoxWithMenuOptions box;
    box.setSize (70, 60);
    box.menuItemHeight = 26.5f;
    box.addListener (&listener);

    for (int j = 1; j <= 16; ++j)
        box.addItem (juce::String (j), j);

    box.setSelectedId (12, juce::dontSendNotification);

    const auto options = box.getMenuOptions();
    EXPECT_EQ (options.getTargetComponent(), &box);
    EXPECT_EQ (options.getItemThatMustBeVisible(), 12);
    EXPECT_EQ (options.getMinimumWidth(), 70);
    EXPECT_EQ (options.getMaximumNumColumns(), 1);
    EXPECT_EQ (options.getStandardItemHeight(), 26);
    EXPECT_EQ (options.getInitiallySelectedItemId(), 12);

    // The menu opens with the selected item ticked, like the framework's own lists; the
    // owner's menu stays unticked.
    for (int j = 1; j <= 16; ++j)
        box.menu.addItem (j, juce::String (j));

    juce::Array<int> ticked;
    const auto shown = box.getMenuToShow();

    for (juce::PopupMenu::MenuItemIterator it (shown); it.next();)
        if (it.getItem().isTicked)
            ticked.add (it.getItem().itemID);

    EXPECT_EQ (ticked, juce::Array<int> { 12 });

    for (juce::PopupMenu::MenuItemIterator it (box.menu); it.next();)
        EXPECT_FALSE (it.getItem().isTicked);

    // Dismissed: nothing changes.
    box.menuClosed (0);
    testing_helpers::runMessageLoopFor (20);
    EXPECT_EQ (box.getSelectedId(), 12);
    EXPECT_EQ (listener.changes, 0);

    // Entry 5 chosen: selected at once, listeners told later on the message thread.
    box.menuClosed (5);
    EXPECT_EQ (box.getSelectedId(), 5);
    EXPECT_EQ (listener.changes, 0);
    EXPECT_TRUE (testing_helpers::runMessageLoopUntil ([&]
                                                       { return listener.changes == 1; }));

    box.removeListener (&listener);
}

TEST (ChannelMuteButton, DrawsTheImageOfItsState)
{
    ChannelMuteButton button;
    EXPECT_EQ (button.getName(), "Channel Mute Button");
    EXPECT_EQ (button.getBounds(), juce::Rectangle<int> (0, 0, 90, 90));

    const struct
    {
        bool lit, over, down;
        const juce::Image& expected;
    } cases[] = {
        { false, false, false, button.offImage },
        { false, true, false, button.offHighlightedImage },
        { false, false, true, button.offHighlightedImage },
        { true, false, false, button.onImage },
        { true, true, false, button.onHighlightedImage },
        { true, true, true, button.onHighlightedImage },
    };

    // The four images differ, so drawing the right one is observable.
    EXPECT_FALSE (samePixels (button.offImage, button.onImage));
    EXPECT_FALSE (samePixels (button.offImage, button.offHighlightedImage));
    EXPECT_FALSE (samePixels (button.onImage, button.onHighlightedImage));

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.lit ? "lit" : "dark") + (c.over ? " over" : "") + (c.down ? " down" : ""));
        button.setToggleState (c.lit, juce::dontSendNotification);

        juce::Image image (juce::Image::ARGB, 90, 90, true);
        juce::Graphics g (image);
        button.paintButton (g, c.over, c.down);

        EXPECT_TRUE (samePixels (image, expectedDrawing (c.expected, 90, 90, { 0, 0, 90, 90 })));
    }
}

TEST (QuillmereFaderCap, PaintsTheImageOfItsStateAtItsOwnPosition)
{
    QuillmereFaderCap cap;
    EXPECT_EQ (cap.getWidth(), 120);
    EXPECT_EQ (cap.getHeight(), 130);

    cap.setBounds (10, 243, 120, 130);

    for (bool highlighted : { false, true })
    {
        cap.highlighted = highlighted;
        juce::Image image (juce::Image::ARGB, 140, 455, true);
        juce::Graphics g (image);
        cap.paint (g);

        const auto& expected = highlighted ? cap.highlightedCapImage : cap.capImage;
        EXPECT_TRUE (samePixels (image, expectedDrawing (expected, 140, 455, { 10, 243, 120, 130 })));
    }
}

TEST (EmbeddedResources, ImagesDecodeToTheirSizesAndFontsLoad)
{
    const struct
    {
        const char* data;
        int size;
        int width, height;
        int pngColourType; // 6: RGBA, 3: indexed
    } images[] = {
        { BinaryData::cut_off_highlighted_png, BinaryData::cut_off_highlighted_pngSize, 180, 180, 6 },
        { BinaryData::cut_on_png, BinaryData::cut_on_pngSize, 180, 180, 6 },
        { BinaryData::cut_on_highlighted_png, BinaryData::cut_on_highlighted_pngSize, 180, 180, 6 },
        { BinaryData::cut_off_png, BinaryData::cut_off_pngSize, 180, 180, 6 },
        { BinaryData::fader_cap_png, BinaryData::fader_cap_pngSize, 240, 260, 6 },
        { BinaryData::fader_cap_highlighted_png, BinaryData::fader_cap_highlighted_pngSize, 240, 260, 6 },
        { BinaryData::background_png, BinaryData::background_pngSize, 800, 1340, 3 },
        { BinaryData::frame_wide_png, BinaryData::frame_wide_pngSize, 360, 60, 6 },
        { BinaryData::frame_small_png, BinaryData::frame_small_pngSize, 140, 120, 6 },
    };

    for (const auto& i : images)
    {
        const auto image = juce::ImageCache::getFromMemory (i.data, i.size);
        ASSERT_TRUE (image.isValid());
        EXPECT_EQ (image.getWidth(), i.width);
        EXPECT_EQ (image.getHeight(), i.height);

        // The PNG header: 8-bit samples of the stated colour type.
        const auto* bytes = reinterpret_cast<const juce::uint8*> (i.data);
        EXPECT_EQ (bytes[24], 8);
        EXPECT_EQ (bytes[25], i.pngColourType);
    }

    // The background's palette holds 128 colours (three bytes each).
    const juce::MemoryBlock backgroundData (BinaryData::background_png, (size_t) BinaryData::background_pngSize);
    static constexpr char paletteTag[] = "PLTE";
    const auto* plte = std::search (static_cast<const char*> (backgroundData.getData()), static_cast<const char*> (backgroundData.getData()) + backgroundData.getSize(), paletteTag, paletteTag + 4);
    ASSERT_NE (plte, static_cast<const char*> (backgroundData.getData()) + backgroundData.getSize());
    EXPECT_EQ (juce::ByteOrder::bigEndianInt (plte - 4), 128u * 3u);

    const std::pair<const char*, int> fonts[] = {
        { BinaryData::marker_font_ttf, BinaryData::marker_font_ttfSize },
        { BinaryData::channel_font_otf, BinaryData::channel_font_otfSize },
        { BinaryData::interface_font_ttf, BinaryData::interface_font_ttfSize },
    };

    // A sheet of all images at their stored size, left in the build tree for a person to
    // look at.
    juce::Image sheet (juce::Image::ARGB, 1600, 1400, true);
    {
        juce::Graphics g (sheet);
        g.fillAll (juce::Colours::grey);
        int x = 0, y = 0, rowHeight = 0;

        for (const auto& i : images)
        {
            const auto image = juce::ImageCache::getFromMemory (i.data, i.size);

            if (x + image.getWidth() > sheet.getWidth())
            {
                x = 0;
                y += rowHeight;
                rowHeight = 0;
            }

            g.drawImageAt (image, x, y);
            x += image.getWidth();
            rowHeight = std::max (rowHeight, image.getHeight());
        }
    }

    const auto sheetFile = juce::File::getCurrentWorkingDirectory().getChildFile ("artwork-sheet.png");
    sheetFile.deleteFile();
    juce::FileOutputStream sheetStream (sheetFile);
    EXPECT_TRUE (juce::PNGImageFormat().writeImageToStream (sheet, sheetStream));

    for (const auto& [data, size] : fonts)
    {
        const auto typeface = juce::Typeface::createSystemTypefaceFor (data, (size_t) size);
        ASSERT_NE (typeface, nullptr);
        EXPECT_TRUE (typeface->getName().isNotEmpty());
        EXPECT_GT (juce::Font (typeface).getStringWidthFloat ("CUT 16"), 0.0f);
    }
}
