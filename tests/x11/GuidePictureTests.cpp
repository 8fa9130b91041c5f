// The pictures of the studio guide (docs/guide.md): the window in the states the guide
// describes, taken from the screen of a real X server once the screen shows the window (and
// an open list) exactly as they draw themselves. They are left in the build folder as
// guide-*.png; docs/guide/update-pictures copies them into docs/guide/.

#include "Editor/QuillmereAudioProcessorEditor.h"
#include "Ports/PortWatcher.h"

#include "../support/ConsoleSimulator.h"
#include "../support/TestHelpers.h"

#include <gtest/gtest.h>

using namespace testing_helpers;

namespace
{
    /** Runs a program to its end; false if it could not be run or failed. */
    bool run (const juce::StringArray& command)
    {
        juce::ChildProcess process;
        return process.start (command) && process.waitForProcessToFinish (10000) && process.getExitCode() == 0;
    }

    /** The whole screen, as the X server shows it. */
    juce::Image grabScreen (const juce::File& file)
    {
        file.deleteFile();

        if (! run ({ "/usr/bin/python3", "-c", "import sys; from PIL import ImageGrab; ImageGrab.grab(xdisplay=None).save(sys.argv[1])", file.getFullPathName() }))
            return {};

        const auto screen = juce::ImageFileFormat::loadFrom (file);
        file.deleteFile();
        return screen;
    }

    /** Whether the screen shows a top-level component as it draws itself now: in the whole of
        it, and in each of its controls on its own (so that a control's small change counts),
        all but a few pixels match JUCE's own rendering within a few levels. Pixels in the
        covered area (screen coordinates), where another window lies over it, are passed over.
    */
    bool shows (const juce::Image& screen, juce::Component& component, juce::Rectangle<int> covered = {})
    {
        const auto drawn = component.createComponentSnapshot (component.getLocalBounds());
        const auto origin = component.getScreenPosition();

        const auto matches = [&] (juce::Rectangle<int> area)
        {
            auto differing = 0;

            for (int y = area.getY(); y < area.getBottom(); ++y)
            {
                for (int x = area.getX(); x < area.getRight(); ++x)
                {
                    if (covered.contains (origin.x + x, origin.y + y))
                        continue;

                    const auto a = drawn.getPixelAt (x, y), b = screen.getPixelAt (origin.x + x, origin.y + y);
                    const auto difference = std::max ({ std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()), std::abs (a.getBlue() - b.getBlue()) });
                    differing += difference > 8 ? 1 : 0;
                }
            }

            return differing <= area.getWidth() * area.getHeight() / 100;
        };

        if (! matches (component.getLocalBounds()))
            return false;

        for (auto* control : component.getChildren())
            if (control->isVisible() && ! matches (control->getBounds().getIntersection (component.getLocalBounds())))
                return false;

        return true;
    }

    /** The open list's window, if a list is open. */
    juce::Component* openListWindow (juce::Component& window)
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* c = desktop.getComponent (i); c != &window && c->isVisible())
                return c;

        return nullptr;
    }

    struct GuidePicture : public ::testing::Test
    {
        GuidePicture()
        {
            ports.install();
            ports.addInputPort ("Studio In");
            ports.addOutputPort ("Studio Out");

            // The pointer rests off the window, so that nothing is drawn hovered. (Waiting for
            // the move with --sync would wait for good when the pointer is there already.)
            run ({ "xdotool", "mousemove", "1270", "1390" });
        }

        ~GuidePicture() override
        {
            juce::PopupMenu::dismissAllActiveMenus();
            editor.reset();
        }

        /** Opens the editor as a top-level window, as a host shows it, and waits until the
            program is the active one, which a list opened from the window needs to stay open.
            The wait asks JUCE only: asking the X server while waiting would make Xlib take the
            events that arrived into its own queue, where JUCE would leave them.
        */
        QuillmereAudioProcessorEditor& openWindow()
        {
            editor.reset (dynamic_cast<QuillmereAudioProcessorEditor*> (processor.createEditor()));
            editor->setTopLeftPosition (100, 100);
            editor->addToDesktop (0);
            editor->setVisible (true);
            editor->toFront (true);
            EXPECT_TRUE (runMessageLoopUntil ([this]
                                              { return editor->getPeer() != nullptr && juce::Process::isForegroundProcess(); },
                                              10000));
            return *editor;
        }

        /** Waits until the screen shows the window, and the open list when one is expected, as
            they draw themselves, and keeps the part of the screen that holds them as the picture
            of that name; false if the screen never showed them.
        */
        bool keepPicture (const char* name, bool withOpenList = false)
        {
            const auto folder = juce::File::getCurrentWorkingDirectory();
            juce::Image screen;
            juce::Rectangle<int> area;

            const auto shown = runMessageLoopUntil ([&]
                                                    {
                screen = grabScreen (folder.getChildFile ("guide-screen.png"));
                auto* list = openListWindow (*editor);
                const auto listArea = list != nullptr ? list->getScreenBounds() : juce::Rectangle<int>();
                area = editor->getScreenBounds().getUnion (listArea);

                return screen.isValid() && (list != nullptr) == withOpenList && shows (screen, *editor, listArea) && (list == nullptr || shows (screen, *list)); },
                                                    20000);

            if (! shown)
                return false;

            const auto file = folder.getChildFile (juce::String (name) + ".png");
            file.deleteFile();
            juce::FileOutputStream out (file);
            return out.openedOk() && juce::PNGImageFormat().writeImageToStream (screen.getClippedImage (area), out);
        }

        VirtualMidiPortBackend ports;
        ConsoleSimulator console { ports, "Tarn16 Automation" };
        QuillmereAudioProcessor processor;
        std::unique_ptr<QuillmereAudioProcessorEditor> editor;
    };
}

TEST_F (GuidePicture, TheWindowLinkedToAStrip)
{
    // A new instance named "Kick", linked in its window as a user links it: the model, the
    // console's ports and the third strip chosen from the selectors.
    processor.setChannelName ("Kick");
    processor.faderParameter->setValue (0.72f);

    auto& window = openWindow();
    window.modelBox.setSelectedId (1, juce::sendNotificationSync);
    ASSERT_EQ (processor.getDeviceModelName(), "Tarn16");

    const std::pair<juce::ComboBox*, juce::StringArray> selectors[] = { { &window.midiInputBox, MidiPortSystem::getInputNames() },
                                                                        { &window.midiOutputBox, MidiPortSystem::getOutputNames() } };

    for (const auto& [box, names] : selectors)
    {
        ASSERT_TRUE (box->isEnabled());
        box->setSelectedId (1 + names.indexOf ("Tarn16 Automation"), juce::sendNotificationSync);
        ASSERT_EQ (box->getText(), "Tarn16 Automation");
    }

    window.channelBox->setSelectedId (3, juce::sendNotificationSync);
    ASSERT_EQ (processor.channel.load(), 3);
    ASSERT_TRUE (processor.getPortState().inputOpen && processor.getPortState().outputOpen);
    EXPECT_TRUE (keepPicture ("guide-window"));
}

TEST_F (GuidePicture, TheInputListOffersTheSystemsPorts)
{
    processor.setChannelName ("Vox");
    auto& window = openWindow();
    window.modelBox.setSelectedId (1, juce::sendNotificationSync);
    window.channelBox->setSelectedId (5, juce::sendNotificationSync);
    window.midiInputBox.setSelectedId (1 + MidiPortSystem::getInputNames().indexOf ("Tarn16 Automation"), juce::sendNotificationSync);
    ASSERT_TRUE (processor.getPortState().inputOpen);

    // Opened with a click, as a user opens it, and closed with Escape.
    const auto box = window.midiInputBox.getScreenBounds().getCentre();
    ASSERT_TRUE (run ({ "xdotool", "mousemove", "--sync", juce::String (box.x), juce::String (box.y), "click", "1" }));
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return openListWindow (window) != nullptr; }));
    EXPECT_TRUE (keepPicture ("guide-input-list", true));

    run ({ "xdotool", "key", "Escape" });
    EXPECT_TRUE (runMessageLoopUntil ([]
                                      { return juce::Desktop::getInstance().getNumComponents() == 1; }));
}

TEST_F (GuidePicture, APortUnpluggedAndPluggedInAgain)
{
    // A strip linked through an interface named "Desk", cut; then the interface is unplugged,
    // and plugged in again, while the window is open.
    ports.addInputPort ("Desk");
    ports.addOutputPort ("Desk");
    processor.setChannelName ("Snare");
    processor.faderParameter->setValue (0.45f);
    processor.muteParameter->setValue (1.0f);

    auto& window = openWindow();
    window.modelBox.setSelectedId (1, juce::sendNotificationSync);
    window.midiInputBox.setSelectedId (1 + MidiPortSystem::getInputNames().indexOf ("Desk"), juce::sendNotificationSync);
    window.midiOutputBox.setSelectedId (1 + MidiPortSystem::getOutputNames().indexOf ("Desk"), juce::sendNotificationSync);
    window.channelBox->setSelectedId (2, juce::sendNotificationSync);
    ASSERT_TRUE (processor.getPortState().inputOpen && processor.getPortState().outputOpen);

    // The interface has been there for a while: the instance's watch over the system's ports
    // has seen it.
    ASSERT_TRUE (runMessageLoopUntil ([]
                                      { return PortWatcher::getLastInputNames().contains ("Desk") && PortWatcher::getLastOutputNames().contains ("Desk"); },
                                      10000));

    const auto waiting = [&] (juce::ComboBox& box)
    { return box.getSelectedId() == QuillmereAudioProcessorEditor::waitingPortItemId && box.getText() == "Desk"; };

    ports.removeInputPort ("Desk");
    ports.removeOutputPort ("Desk");
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return waiting (window.midiInputBox) && waiting (window.midiOutputBox); },
                                      10000));
    EXPECT_FALSE (processor.getPortState().inputOpen);
    EXPECT_TRUE (keepPicture ("guide-port-absent"));

    ports.addInputPort ("Desk");
    ports.addOutputPort ("Desk");
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return processor.getPortState().inputOpen && processor.getPortState().outputOpen
                                               && ! waiting (window.midiInputBox) && ! waiting (window.midiOutputBox); },
                                      10000));
    EXPECT_EQ (window.midiInputBox.getText(), "Desk");
    EXPECT_TRUE (keepPicture ("guide-port-back"));
}

TEST_F (GuidePicture, AMiraStripWithoutAScribbleStrip)
{
    processor.setChannelName ("Kick");
    auto& window = openWindow();
    window.modelBox.setSelectedId (3, juce::sendNotificationSync);
    window.channelBox->setSelectedId (12, juce::sendNotificationSync);
    ASSERT_EQ (window.scribbleStrip->getText(), "Channel 12");
    EXPECT_TRUE (keepPicture ("guide-mira"));
}

TEST_F (GuidePicture, StripsThatOtherTracksHold)
{
    // Another track's instance holds strip 3 of the same console.
    QuillmereAudioProcessor snare;
    snare.setDevice ("Tarn16");
    snare.setChannel (3);
    snare.setChannelName ("Snare");
    snare.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Tarn16 Automation"));

    processor.setChannelName ("Kick");
    auto& window = openWindow();
    window.modelBox.setSelectedId (1, juce::sendNotificationSync);
    window.midiInputBox.setSelectedId (1 + MidiPortSystem::getInputNames().indexOf ("Tarn16 Automation"), juce::sendNotificationSync);
    window.midiOutputBox.setSelectedId (1 + MidiPortSystem::getOutputNames().indexOf ("Tarn16 Automation"), juce::sendNotificationSync);
    window.channelBox->setSelectedId (2, juce::sendNotificationSync);
    ASSERT_TRUE (processor.getPortState().outputOpen);

    // The channel list names the other track's strip.
    const auto box = window.channelBox->getScreenBounds().getCentre();
    ASSERT_TRUE (run ({ "xdotool", "mousemove", "--sync", juce::String (box.x), juce::String (box.y), "click", "1" }));
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return openListWindow (window) != nullptr; }));
    EXPECT_TRUE (keepPicture ("guide-channel-list-held", true));

    run ({ "xdotool", "key", "Escape" });
    ASSERT_TRUE (runMessageLoopUntil ([]
                                      { return juce::Desktop::getInstance().getNumComponents() == 1; }));

    // Both tracks on strip 3: the number shows the clash.
    run ({ "xdotool", "mousemove", "1270", "1390" });
    window.channelBox->setSelectedId (3, juce::sendNotificationSync);
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return window.channelBox->isColourSpecified (juce::ComboBox::textColourId); }));
    EXPECT_TRUE (keepPicture ("guide-shared-strip"));
}
