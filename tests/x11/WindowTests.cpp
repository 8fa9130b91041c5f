// The editor in a real top-level window, driven from outside with real pointer and keyboard
// events (xdotool), as a person would use it. Runs under an X server (Xvfb in CI).

#include "Editor/QuillmereAudioProcessorEditor.h"

#include "../support/ConsoleSimulator.h"
#include "../support/HostRecorder.h"
#include "../support/PixelCount.h"
#include "../support/TestHelpers.h"

#include <functional>
#include <gtest/gtest.h>
#include <typeinfo>

using namespace testing_helpers;

namespace
{
    // Where the window's top left lies on the screen, as the window manager placed it.
    int windowX = 100, windowY = 100;

    /** Runs xdotool with the arguments, the pointer given in window coordinates by the test. */
    void xdotool (const juce::String& arguments)
    {
        juce::ChildProcess process;
        ASSERT_TRUE (process.start ("xdotool " + arguments));
        process.waitForProcessToFinish (5000);
        ASSERT_EQ (process.getExitCode(), 0u) << arguments;
    }

    /** How many presses and releases of a pointer button an xdotool command makes, for the
        commands this file gives: mousedown, mouseup, and click with its --repeat and --delay.
    */
    std::pair<int, int> buttonEventsOf (const juce::String& command)
    {
        const auto words = juce::StringArray::fromTokens (command, " ", "'");
        auto presses = 0, releases = 0;

        for (int i = 0; i < words.size(); ++i)
        {
            if (words[i] == "mousedown")
                ++presses;
            else if (words[i] == "mouseup")
                ++releases;
            else if (words[i] == "click")
            {
                auto clicks = 1;

                for (int option = i + 1; option + 1 < words.size() && words[option].startsWith ("--"); option += 2)
                    if (words[option] == "--repeat")
                        clicks = words[option + 1].getIntValue();

                presses += clicks;
                releases += clicks;
            }
        }

        return { presses, releases };
    }

    /** A screenshot of the whole screen, taken by the X server, not rendered by JUCE. */
    juce::Image screenshot (const juce::File& file)
    {
        file.deleteFile();
        juce::ChildProcess grab;
        const juce::StringArray command { "/usr/bin/python3", "-c", "import sys; from PIL import ImageGrab; ImageGrab.grab(xdisplay=None).save(sys.argv[1])", file.getFullPathName() };

        if (! grab.start (command) || ! grab.waitForProcessToFinish (10000))
            return {};

        return juce::ImageFileFormat::loadFrom (file);
    }

    /** Takes screenshots until one shows what the test waits for, or the time is up, and
        returns the last one: the screen shows what JUCE has painted some time after the change
        that made it paint.
    */
    juce::Image screenshotShowing (const juce::File& file, const std::function<bool (const juce::Image&)>& shows, int timeoutMs = 10000)
    {
        juce::Image screen;
        runMessageLoopUntil ([&]
                             {
            screen = screenshot (file);
            return screen.isValid() && shows (screen); },
                             timeoutMs);
        return screen;
    }

    juce::Colour screenPixel (const juce::Image& screen, int x, int y)
    {
        return screen.getPixelAt (windowX + x, windowY + y);
    }

    /** Whether the screen shows a window as the window draws itself now: all but a few of
        its pixels, rendered by JUCE into an image, match the screen within a few levels.
    */
    bool showsComponent (const juce::Image& screen, juce::Component& window)
    {
        const auto drawn = window.createComponentSnapshot (window.getLocalBounds());
        const auto origin = window.getScreenPosition();
        auto differing = 0;

        for (int y = 0; y < drawn.getHeight(); ++y)
        {
            for (int x = 0; x < drawn.getWidth(); ++x)
            {
                const auto a = drawn.getPixelAt (x, y), b = screen.getPixelAt (origin.x + x, origin.y + y);

                if (std::max ({ std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()), std::abs (a.getBlue() - b.getBlue()) }) > 8)
                    ++differing;
            }
        }

        return differing <= drawn.getWidth() * drawn.getHeight() / 100;
    }

    bool isLilac (juce::Colour c)
    {
        return std::abs (c.getRed() - 180) < 30 && std::abs (c.getGreen() - 129) < 30 && std::abs (c.getBlue() - 208) < 30;
    }

    /** Stands in for the host: a plug-in wrapper passes on to the host every key that no
        control of the window has used, and those keys reach a listener on the window itself.
    */
    struct KeysPassedOn final : public juce::KeyListener
    {
        bool keyPressed (const juce::KeyPress& key, juce::Component*) override
        {
            keys.add (key.getTextDescription());
            return false;
        }

        juce::StringArray keys;
    };

    // What the tests wait on must not ask the X server anything. A reply makes Xlib read
    // the events that have arrived into its own queue, where JUCE, which waits for the
    // connection to have something to read, leaves them until yet another event arrives; a
    // condition asked every few milliseconds can keep them there for good.

    /** The pop-up menu window that is open, if any. Visibility is JUCE's own state, whereas
        isShowing() would ask the X server whether the window is minimised.
    */
    juce::Component* openMenuWindow (juce::Component& editor)
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* c = desktop.getComponent (i); c != &editor && c->isVisible())
                return c;

        return nullptr;
    }

    /** Whether the closed menu has gone altogether: a menu's window is deleted after it has
        been hidden, when the framework finishes with it and gives the keyboard focus back.
    */
    bool menuIsGone (juce::Component& editor)
    {
        auto& desktop = juce::Desktop::getInstance();
        return desktop.getNumComponents() == 1 && desktop.getComponent (0) == &editor;
    }

    /** Numbers the pointer events that reach the window, on its own components: where the
        window last saw the pointer, and how many presses and releases of its button. It is
        the evidence that the window has taken what xdotool did.
    */
    struct PointerSeen final : public juce::MouseListener
    {
        void mouseEnter (const juce::MouseEvent& e) override { position = e.getScreenPosition(); }
        void mouseMove (const juce::MouseEvent& e) override { position = e.getScreenPosition(); }
        void mouseDrag (const juce::MouseEvent& e) override { position = e.getScreenPosition(); }

        void mouseDown (const juce::MouseEvent& e) override
        {
            position = e.getScreenPosition();
            ++presses;
        }

        void mouseUp (const juce::MouseEvent& e) override
        {
            position = e.getScreenPosition();
            ++releases;
        }

        juce::Point<int> position { -1, -1 };
        int presses = 0, releases = 0;
    };

    /** Paints a button as it paints itself and counts the paints while it is down, so that a
        test knows when the key has been drawn pressed (which changes what a release does).
    */
    struct PaintsWhileDown final : public juce::CachedComponentImage
    {
        explicit PaintsWhileDown (juce::Button& buttonToWatch)
            : button (buttonToWatch)
        {
        }

        void paint (juce::Graphics& g) override
        {
            if (button.isDown())
                ++count;

            button.paintEntireComponent (g, false);
        }

        bool invalidateAll() override { return true; }
        bool invalidate (const juce::Rectangle<int>&) override { return true; }
        void releaseResources() override {}

        juce::Button& button;
        int count = 0;
    };

    /** What a program run to the end printed; empty if it could not be run. */
    juce::String outputOf (const juce::StringArray& command)
    {
        juce::ChildProcess process;
        return process.start (command) ? process.readAllProcessOutput() : juce::String();
    }

    /** Whether the X server shows the top-level window, mapped, with the keyboard's focus,
        where JUCE believes it is: the window manager has placed it and JUCE has heard where.
        The server is asked by other programs, and JUCE's belief is the component's bounds.
    */
    bool isPlacedAndFocused (juce::Component& window)
    {
        auto* peer = window.getPeer();

        if (peer == nullptr || ! window.isVisible())
            return false;

        const auto id = juce::String ((juce::pointer_sized_uint) peer->getNativeHandle());

        if (outputOf ({ "xdotool", "getwindowfocus", "-f" }).trim() != id)
            return false;

        const auto lines = juce::StringArray::fromLines (outputOf ({ "xwininfo", "-id", id }));
        const auto valueOf = [&lines] (const juce::String& name)
        {
            for (const auto& line : lines)
                if (line.trim().startsWith (name))
                    return line.fromFirstOccurrenceOf (name, false, false).trim();

            return juce::String();
        };

        return valueOf ("Map State:") == "IsViewable"
               && valueOf ("Absolute upper-left X:").getIntValue() == window.getX()
               && valueOf ("Absolute upper-left Y:").getIntValue() == window.getY();
    }

    struct WindowTest : public ::testing::Test
    {
        WindowTest()
        {
            ports.install();
            processor.setDevice ("Tarn16");
            processor.channel = 1;
            processor.setChannelName ("Old");
            openWindow();
        }

        /** Opens the editor as a top-level window, as a host shows it. */
        void openWindow()
        {
            editor.reset (dynamic_cast<QuillmereAudioProcessorEditor*> (processor.createEditor()));
            editor->setTopLeftPosition (windowX, windowY);
            editor->addToDesktop (0);
            editor->setVisible (true);
            editor->toFront (true);

            EXPECT_TRUE (runMessageLoopUntil ([this]
                                              { return isPlacedAndFocused (*editor); }));
            windowX = editor->getScreenX();
            windowY = editor->getScreenY();

            // Watched from here on; the new window has not seen the pointer yet.
            pointer.position = { -1, -1 };
            editor->addMouseListener (&pointer, true);
            keyPaints = new PaintsWhileDown (editor->muteButton);
            editor->muteButton.setCachedComponentImage (keyPaints); // the key owns it
            host.clear();
        }

        ~WindowTest() override
        {
            xdotool ("mousemove --sync 5 5");
            editor.reset();
            EXPECT_TRUE (console.getMalformedTraffic().isEmpty());
        }

        /** Moves the pointer to a point of the window and waits until the window has seen it
            there. While a menu is open the window sees no movement: the menu's effects are
            what the test waits for then. A click after the move lands where the pointer is,
            as X delivers its events in order.
        */
        void movePointerTo (int x, int y)
        {
            const auto menuOpen = juce::Component::getCurrentlyModalComponent() != nullptr;
            xdotool ("mousemove --sync " + juce::String (windowX + x) + " " + juce::String (windowY + y));
            pointerTarget = { windowX + x, windowY + y };

            if (! menuOpen)
            {
                EXPECT_TRUE (runMessageLoopUntil ([this]
                                                  { return pointer.position == pointerTarget; }))
                    << "the window did not see the pointer at " << x << ", " << y;
            }
        }

        /** Moves the pointer by some pixels from where it was put last, and waits until the
            window has seen it there.
        */
        void movePointerBy (int dx, int dy)
        {
            xdotool ("mousemove_relative --sync -- " + juce::String (dx) + " " + juce::String (dy));
            pointerTarget += juce::Point<int> (dx, dy);
            EXPECT_TRUE (runMessageLoopUntil ([this]
                                              { return pointer.position == pointerTarget; }))
                << "the window did not see the pointer move by " << dx << ", " << dy;
        }

        /** Runs an xdotool command that presses or releases the pointer's button over the
            window, and waits until the window has had every press and release it makes.
        */
        void usePointerButton (const juce::String& command)
        {
            const auto [presses, releases] = buttonEventsOf (command);
            const auto expected = std::make_pair (pointer.presses + presses, pointer.releases + releases);
            xdotool (command);
            EXPECT_TRUE (runMessageLoopUntil ([&]
                                              { return std::make_pair (pointer.presses, pointer.releases) == expected; }))
                << command << ": the window had " << pointer.presses << " presses and " << pointer.releases << " releases";
        }

        /** Ends the scribble strip's editing with Return and waits until the strip has closed
            its editor and told its listeners of the text, which it posts.
        */
        void commitTheStrip()
        {
            xdotool ("key Return");
            EXPECT_TRUE (runMessageLoopUntil ([this]
                                              { return editor->scribbleStrip->getCurrentTextEditor() == nullptr; }));
            EXPECT_TRUE (deliverPostedMessages());
        }

        /** Waits until a menu has opened and then until it takes a click: a JUCE menu ignores
            releases in its first 250 ms, so that the release of the click that opened it does
            not choose an item. That is a time the framework sets, so it is waited out.
        */
        void waitForAMenuThatTakesClicks()
        {
            EXPECT_TRUE (runMessageLoopUntil ([this]
                                              { return openMenuWindow (*editor) != nullptr; }));
            runMessageLoopFor (300);
        }

        /** Puts the parameter at a value and waits for the fader to show it. */
        void setLevel (float value)
        {
            processor.faderParameter->setValue (value);
            runMessageLoopUntil ([&]
                                 { return std::abs (editor->levelSlider.getValue() - value) < 0.006; });
            host.clear();
        }

        /** The cap's centre, where a person grabs the fader, in window coordinates. */
        juce::Point<int> capCentre() const
        {
            const auto top = (int) (325.0 * (1.0 - editor->levelSlider.getValue()));
            return { 30 + 60, 140 + top + 65 };
        }

        VirtualMidiPortBackend ports;
        ConsoleSimulator console { ports, "Tarn16 Automation" };
        QuillmereAudioProcessor processor;
        HostRecorder host { processor };
        PointerSeen pointer; // outlives the window it listens to
        juce::Point<int> pointerTarget;
        std::unique_ptr<QuillmereAudioProcessorEditor> editor;
        PaintsWhileDown* keyPaints = nullptr; // owned by the window's CUT key
    };
}

TEST_F (WindowTest, HoveringASelectorShowsItsLilacFrame)
{
    // The model box's frame outline runs 2.5 pixels inside the box at (200, 330).
    const auto dir = juce::File::getCurrentWorkingDirectory();
    movePointerTo (290, 345);
    const auto hovered = screenshotShowing (dir.getChildFile ("window-hover.png"), [] (const juce::Image& screen)
                                            { return isLilac (screenPixel (screen, 203, 345)); });
    ASSERT_TRUE (hovered.isValid()) << "no screenshot";
    EXPECT_TRUE (isLilac (screenPixel (hovered, 203, 345))) << screenPixel (hovered, 203, 345).toDisplayString (false);

    // A disabled selector shows none, even under the pointer. The screen is read once the
    // model's frame has gone, which the same move repaints.
    movePointerTo (290, 420);
    const auto disabled = screenshotShowing (dir.getChildFile ("window-disabled.png"), [] (const juce::Image& screen)
                                             { return ! isLilac (screenPixel (screen, 203, 345)); });
    EXPECT_FALSE (isLilac (screenPixel (disabled, 203, 420)));
    EXPECT_FALSE (isLilac (screenPixel (disabled, 203, 345))); // the model frame went away
}

TEST_F (WindowTest, ADragOf125PixelsUpFromPointTwoEndsAtPointSevenInOneGesture)
{
    setLevel (0.2f);
    const auto start = capCentre();

    movePointerTo (start.x, start.y);
    usePointerButton ("mousedown 1");

    for (int step = 1; step <= 25; ++step)
        movePointerTo (start.x, start.y - 5 * step);

    usePointerButton ("mouseup 1");

    EXPECT_NEAR (processor.faderParameter->getValue(), 0.7f, 0.0051f);
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::begin, 0), 1);
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::end, 0), 1);
    EXPECT_GT (host.count (HostRecorder::Event::Kind::value, 0), 1);
    EXPECT_EQ (console.getStrip (0).faderLevel, ConsoleSimulator::eightBitLevelOf (processor.faderParameter->getValue()));

    // A click on the groove without moving leaves the value.
    const auto before = processor.faderParameter->getValue();
    movePointerTo (90, 560);
    usePointerButton ("click 1");
    EXPECT_EQ (processor.faderParameter->getValue(), before);
    EXPECT_FALSE (host.anyGestureOpen());
}

TEST_F (WindowTest, AltClickPutsTheFaderOnTheZeroMark)
{
    setLevel (0.3f);
    movePointerTo (90, 500);
    usePointerButton ("keydown alt click 1 keyup alt");

    EXPECT_EQ (processor.faderParameter->getValue(), 0.72f);
    EXPECT_GE (host.count (HostRecorder::Event::Kind::value, 0), 1);
    EXPECT_FALSE (host.anyGestureOpen());
}

TEST_F (WindowTest, TheCutKeyMutesOnPressAndEndsTheGestureOnRelease)
{
    movePointerTo (90, 60);
    usePointerButton ("mousedown 1");

    EXPECT_EQ (processor.muteParameter->getValue(), 1.0f); // at once, while still held
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::begin, 1), 1);
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::end, 1), 0);

    usePointerButton ("mouseup 1");
    EXPECT_EQ (host.count (HostRecorder::Event::Kind::end, 1), 1);
    EXPECT_TRUE (console.getStrip (0).cut);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return editor->muteButton.getToggleState(); }));
}

TEST_F (WindowTest, EveryClickOnTheCutKeyFlipsTheMuteOnceInOneGesture)
{
    // The message loop does not run while xdotool works, so each command's events reach the
    // window together: "mousedown 1 mouseup 1" is a tap whose release comes before the key
    // could be repainted as pressed, as on a touchpad or with a busy message thread. A command
    // that leaves the key held is followed by a repaint of the key, pressed.
    const struct
    {
        const char* what;
        juce::StringArray commands;
        int clicks;
    } cases[] = {
        { "tap", { "mousedown 1 mouseup 1" }, 1 },
        { "click", { "click 1" }, 1 },
        { "press, release at once", { "mousedown 1 sleep 0.05 mouseup 1" }, 1 },
        { "press held over a repaint", { "mousedown 1", "mouseup 1" }, 1 },
        { "two taps at once", { "mousedown 1 mouseup 1 mousedown 1 mouseup 1" }, 2 },
        { "tap again", { "mousedown 1 mouseup 1" }, 1 },
    };

    movePointerTo (90, 60);
    auto muted = false;

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto before = console.getStrip (0);
        host.clear();

        for (const auto& command : c.commands)
        {
            const auto paintsWhileDown = keyPaints->count;
            usePointerButton (command);

            if (editor->muteButton.isDown())
            {
                EXPECT_TRUE (runMessageLoopUntil ([&]
                                                  { return keyPaints->count > paintsWhileDown; }));
            }
        }

        // Each click: one gesture around one flip.
        std::vector<std::string> expected;

        for (int i = 0; i < c.clicks; ++i)
        {
            muted = ! muted;
            expected.insert (expected.end(), { "begin 1", muted ? "value 1 1.00" : "value 1 0.00", "end 1" });
        }

        EXPECT_EQ (host.describe(), expected);
        EXPECT_EQ (processor.muteParameter->getValue(), muted ? 1.0f : 0.0f);

        // The console ends in the same state, told at most once per click: clicks that come
        // faster than the line carries them coalesce to the newest state.
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return console.getStrip (0).muteMessages > before.muteMessages && console.getStrip (0).cut == muted; }));
        EXPECT_TRUE (testing_helpers::waitUntilSent (processor));
        EXPECT_LE (console.getStrip (0).muteMessages, before.muteMessages + c.clicks);
        EXPECT_EQ (console.getStrip (0).cut, muted);

        if (processor.muteParameter->getValue() != (muted ? 1.0f : 0.0f))
            return; // later cases would only repeat the failure
    }
}

TEST_F (WindowTest, DraggingOffTheHeldCutKeyAndBackFlipsTheMuteAgain)
{
    // Opening the window opened the console's ports, and the console was told the strip.
    ASSERT_TRUE (testing_helpers::waitUntilSent (processor));
    const auto before = console.getStrip (0);

    movePointerTo (90, 60);
    usePointerButton ("mousedown 1");
    movePointerTo (90, 125); // off the key, above the fader
    movePointerTo (90, 60);
    usePointerButton ("mouseup 1");

    EXPECT_EQ (host.describe(), (std::vector<std::string> { "begin 1", "value 1 1.00", "end 1", "begin 1", "value 1 0.00", "end 1" }));
    EXPECT_EQ (processor.muteParameter->getValue(), 0.0f);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return console.getStrip (0).muteMessages == before.muteMessages + 2; }));
    EXPECT_FALSE (console.getStrip (0).cut);
}

TEST_F (WindowTest, AnAltClickEndsOnTheZeroMarkHoweverThePointerWobbles)
{
    // Movements of 1 to 3 pixels between the press and the release, relative to the press.
    const std::vector<std::pair<int, int>> wobbles[] = {
        { { 0, 1 } },
        { { 0, -3 } },
        { { 1, -2 }, { -1, 3 }, { 0, 1 } },
        { { 3, 0 }, { 0, 3 } },
    };

    for (const auto& wobble : wobbles)
    {
        juce::String moves;

        for (const auto& [dx, dy] : wobble)
            moves << "(" << dx << ", " << dy << ") ";

        SCOPED_TRACE (moves);
        setLevel (0.3f);
        ASSERT_TRUE (runMessageLoopUntil ([&]
                                          { return console.getStrip (0).faderLevel == ConsoleSimulator::eightBitLevelOf (0.3f); }));
        const auto before = console.getStrip (0);
        movePointerTo (90, 500);

        usePointerButton ("keydown alt mousedown 1");

        for (const auto& [dx, dy] : wobble)
            movePointerBy (dx, dy);

        usePointerButton ("mouseup 1 keyup alt");

        EXPECT_EQ (processor.faderParameter->getValue(), 0.72f);
        EXPECT_EQ (host.describe(), (std::vector<std::string> { "begin 0", "value 0 0.72", "end 0" }));

        // The console's fader goes to the 0 mark and stays there.
        const auto zeroMark = ConsoleSimulator::eightBitLevelOf (0.72f);
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return console.getStrip (0).faderLevel == zeroMark; }));
        runMessageLoopFor (100); // nothing more is sent meanwhile
        EXPECT_EQ (console.getStrip (0).faderLevel, zeroMark);
        EXPECT_EQ (console.getStrip (0).levelMessages, before.levelMessages + 1);
    }
}

// Each port list lies in a selector of its own, which adds no control: an accessibility client
// finds the lists among the window's controls, with nothing standing for the selectors.
TEST_F (WindowTest, ThePortListsAreAmongTheWindowsAccessibleControls)
{
    editor->modelBox.setSelectedId (2, juce::sendNotificationSync);
    ASSERT_TRUE (editor->midiInputBox.isEnabled());

    auto* window = editor->getAccessibilityHandler();
    ASSERT_NE (window, nullptr);
    const auto controls = window->getChildren();
    const auto listed = [&controls] (juce::Component& c)
    { return std::find (controls.begin(), controls.end(), c.getAccessibilityHandler()) != controls.end(); };

    EXPECT_TRUE (listed (editor->modelBox));
    EXPECT_TRUE (listed (editor->midiInputBox));
    EXPECT_TRUE (listed (editor->midiOutputBox));
    EXPECT_FALSE (listed (editor->inputSelector));
    EXPECT_FALSE (listed (editor->outputSelector));
}

TEST_F (WindowTest, KeysGoToTheHostWhateverWasClickedBefore)
{
    // Another model enables the port and channel selectors.
    editor->modelBox.setSelectedId (2, juce::sendNotificationSync);
    EXPECT_TRUE (deliverPostedMessages());
    ASSERT_TRUE (editor->midiInputBox.isEnabled());

    KeysPassedOn passedOn;
    editor->addKeyListener (&passedOn);

    const auto openAndDismiss = [this] (juce::Point<int> box, const juce::String& dismissal)
    {
        movePointerTo (box.x, box.y);
        xdotool ("click 1");
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return openMenuWindow (*editor) != nullptr; }));

        if (dismissal == "click elsewhere")
        {
            movePointerTo (300, 150); // the maker's logo on the right panel
            xdotool ("click 1");
        }
        else
        {
            xdotool ("key " + dismissal);
        }

        // The pointer then rests away from the lists. Its movement also makes the X server send
        // an event: JUCE reads events that Xlib has already taken from the connection (while
        // the open list polls the pointer) only when another one arrives.
        movePointerTo (290, 160);
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return openMenuWindow (*editor) == nullptr; }));
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return menuIsGone (*editor); }));
    };

    const struct
    {
        const char* what;
        std::function<void()> action;
    } cases[] = {
        { "the window has gained the focus", [this]
          {
              // What the window's peer does when the window becomes the active one; whatever
              // follows from it happens meanwhile, and no control may take the focus.
              editor->grabKeyboardFocus();
              runMessageLoopFor (50);
          } },
        { "CUT was clicked", [this]
          {
              movePointerTo (90, 60);
              usePointerButton ("click 1");
          } },
        { "the scribble strip was edited", [this]
          {
              movePointerTo (290, 570);
              usePointerButton ("click --repeat 2 --delay 80 1");
              EXPECT_NE (editor->scribbleStrip->getCurrentTextEditor(), nullptr);
              xdotool ("type --delay 40 Tom");
              commitTheStrip();
              EXPECT_EQ (processor.getChannelName(), "Tom");
          } },
        { "the model list was dismissed with Escape", [&]
          { openAndDismiss ({ 290, 345 }, "Escape"); } },
        { "the model list was dismissed by a click elsewhere", [&]
          { openAndDismiss ({ 290, 345 }, "click elsewhere"); } },
        { "the input list was dismissed with Escape", [&]
          { openAndDismiss ({ 290, 420 }, "Escape"); } },
        { "the output list was dismissed by a click elsewhere", [&]
          { openAndDismiss ({ 290, 495 }, "click elsewhere"); } },
        { "the channel list was dismissed with Escape", [&]
          { openAndDismiss ({ 290, 270 }, "Escape"); } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        c.action();

        const auto mute = processor.muteParameter->getValue();
        const auto model = processor.getDeviceModelName();
        const auto input = processor.midiInName;
        const auto output = processor.midiOutName;
        const auto channel = processor.channel.load();
        host.clear();
        ports.clearSentBlocks();
        passedOn.keys.clear();

        // No control holds the keyboard focus.
        if (auto* focused = juce::Component::getCurrentlyFocusedComponent())
        {
            EXPECT_FALSE (editor->isParentOf (focused)) << "focus on " << typeid (*focused).name();
        }

        // Once the five keys have reached the window, what they posted is delivered too.
        xdotool ("key --delay 40 Up Down Left Right Return");
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return passedOn.keys.size() >= 5; }));
        EXPECT_TRUE (deliverPostedMessages());

        EXPECT_EQ (passedOn.keys, juce::StringArray ({ "cursor up", "cursor down", "cursor left", "cursor right", "return" }));
        EXPECT_EQ (processor.muteParameter->getValue(), mute);
        EXPECT_EQ (processor.getDeviceModelName(), model);
        EXPECT_EQ (processor.midiInName, input);
        EXPECT_EQ (processor.midiOutName, output);
        EXPECT_EQ (processor.channel.load(), channel);
        EXPECT_TRUE (host.getEvents().empty());
        EXPECT_TRUE (ports.getSentBlocks().empty());
    }

    editor->removeKeyListener (&passedOn);
}

TEST_F (WindowTest, TheChannelListLooksLikeTheOtherLists)
{
    editor->modelBox.setSelectedId (2, juce::sendNotificationSync); // Tarn48-XL, on channel 1
    EXPECT_TRUE (deliverPostedMessages());
    const auto dir = juce::File::getCurrentWorkingDirectory();

    const auto difference = [] (juce::Colour a, juce::Colour b)
    {
        return std::max ({ std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()), std::abs (a.getBlue() - b.getBlue()) });
    };

    struct Seen
    {
        juce::Colour background;
        bool tickOnTheChosenRow, tickOnAnotherRow;
        juce::String typeface;
    };

    // Opens a list, looks at its last row's background, and for a tick in the icon column of
    // the row of the chosen item and of another row.
    const auto look = [&] (juce::Point<int> box, int numRows, int chosenRow, int otherRow, const char* file)
    {
        movePointerTo (box.x, box.y);
        xdotool ("click 1");
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return openMenuWindow (*editor) != nullptr; }));

        Seen seen {};
        auto* menuWindow = openMenuWindow (*editor);

        if (menuWindow == nullptr)
            return seen;

        // Rows of equal height between the menu's borders of 2 pixels.
        const auto bounds = menuWindow->getScreenBounds();
        const auto rowHeight = (bounds.getHeight() - 4) / numRows;

        // The screen is read once it shows the menu as the menu draws itself.
        const auto screen = screenshotShowing (dir.getChildFile (file), [&] (const juce::Image& shot)
                                               { return showsComponent (shot, *menuWindow); });
        seen.background = screen.getPixelAt (bounds.getRight() - 8, bounds.getBottom() - 8);

        // A tick stands out from its row's own background (the chosen row may be highlighted).
        const auto hasTick = [&] (int row)
        {
            const auto top = bounds.getY() + 2 + row * rowHeight;
            const auto rowBackground = screen.getPixelAt (bounds.getRight() - 8, top + rowHeight / 2);

            for (int y = top + 4; y < top + rowHeight - 4; ++y)
                for (int x = bounds.getX() + 6; x < bounds.getX() + 26; ++x)
                    if (difference (screen.getPixelAt (x, y), rowBackground) > 100)
                        return true;

            return false;
        };

        seen.tickOnTheChosenRow = hasTick (chosenRow);
        seen.tickOnAnotherRow = hasTick (otherRow);
        seen.typeface = menuWindow->getLookAndFeel().getPopupMenuFont().getTypefaceName();

        xdotool ("key Escape");
        runMessageLoopUntil ([&]
                             { return openMenuWindow (*editor) == nullptr; });
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return menuIsGone (*editor); }));
        return seen;
    };

    // The model list: Tarn48-XL (row 1 of 3) chosen; the channel list: channel 1 (row 0 of 8).
    const auto model = look ({ 290, 345 }, 3, 1, 0, "window-model-list.png");
    const auto channel = look ({ 290, 270 }, 8, 0, 3, "window-channel-list.png");

    ASSERT_TRUE (model.tickOnTheChosenRow);
    ASSERT_FALSE (model.tickOnAnotherRow);

    EXPECT_LE (difference (channel.background, model.background), 8) << channel.background.toDisplayString (false) << " against " << model.background.toDisplayString (false);
    EXPECT_TRUE (channel.tickOnTheChosenRow);
    EXPECT_FALSE (channel.tickOnAnotherRow);
    EXPECT_EQ (channel.typeface, model.typeface);
}

TEST_F (WindowTest, DoubleClickOnTheStripEditsTheNameThroughTheFilter)
{
    movePointerTo (290, 570);
    usePointerButton ("click --repeat 2 --delay 80 1");
    ASSERT_NE (editor->scribbleStrip->getCurrentTextEditor(), nullptr);

    // The keys reach the window in the order they were typed, Return last.
    xdotool ("key ctrl+a BackSpace");
    xdotool ("type --delay 40 'Kick Drum#12'");
    commitTheStrip();

    EXPECT_EQ (processor.getChannelName(), "KickDrum"); // no space, no '#', at most 8
    EXPECT_EQ (console.getStrip (0).text, "KickDrum");
}

TEST_F (WindowTest, ModelAndChannelAreChosenFromTheirPopups)
{
    // The model list opens under its box (bottom at 360); items are about 23 pixels high in
    // the 18-pixel interface face. Choose the third, "Mira".
    movePointerTo (290, 345);
    xdotool ("click 1");
    waitForAMenuThatTakesClicks();
    movePointerTo (290, 360 + 2 + 23 * 2 + 11);
    xdotool ("click 1");
    runMessageLoopUntil ([&]
                         { return processor.getDeviceModelName() == "Mira"; },
                         2000);

    EXPECT_EQ (processor.getDeviceModelName(), "Mira");
    EXPECT_TRUE (editor->channelBox->isEnabled());

    // The channel list: 16 items of 26 pixels under the box (bottom at 300). Choose 12.
    movePointerTo (290, 270);
    xdotool ("click 1");
    waitForAMenuThatTakesClicks();
    movePointerTo (290, 300 + 2 + 26 * 11 + 13);
    xdotool ("click 1");
    runMessageLoopUntil ([&]
                         { return processor.channel.load() == 12; },
                         2000);

    EXPECT_EQ (processor.channel.load(), 12);
    EXPECT_EQ (editor->channelBox->getText(), "12");
    EXPECT_EQ (editor->scribbleStrip->getText(), "Channel 12");
}

TEST_F (WindowTest, ScreenshotOfTheWindow)
{
    // Closing the first window hands its strip's text to the processor, so the name is set
    // after it has gone.
    editor.reset();
    processor.channel = 3;
    processor.setChannelName ("Kick");

    openWindow();
    setLevel (0.72f);
    processor.muteParameter->setValue (1.0f);
    EXPECT_TRUE (runMessageLoopUntil ([this]
                                      { return editor->muteButton.getToggleState(); }));
    movePointerTo (290, 345); // hovering the model selector

    // Read once the hover is on the screen: the lit key was repainted before it.
    const auto dir = juce::File::getCurrentWorkingDirectory();
    const auto screen = screenshotShowing (dir.getChildFile ("window-screen.png"), [] (const juce::Image& shot)
                                           { return isLilac (screenPixel (shot, 203, 345)); });
    ASSERT_TRUE (screen.isValid());

    // The window alone, as the artefact of the run.
    const auto window = screen.getClippedImage ({ windowX, windowY, 400, 617 });
    const auto file = dir.getChildFile ("window-screenshot.png");
    file.deleteFile();
    juce::FileOutputStream out (file);
    ASSERT_TRUE (juce::PNGImageFormat().writeImageToStream (window, out));
    std::cout << "screenshot: " << file.getFullPathName() << std::endl;

    EXPECT_TRUE (isLilac (screenPixel (screen, 203, 345)));
}

TEST_F (WindowTest, TheChannelListNamesOtherTracksStripsAndBothWindowsShowASharedStrip)
{
    const auto dir = juce::File::getCurrentWorkingDirectory();
    const juce::Colour amber (QuillmereAudioProcessorEditor::sharedStripColour);

    // This track holds strip 1 of the console whose ports its window opened; another track on
    // the same console holds strip 3.
    processor.setChannel (1);
    QuillmereAudioProcessor snare;
    snare.setDevice ("Tarn16");
    snare.setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Tarn16 Automation"));
    snare.setChannel (3);
    snare.setChannelName ("Snare");

    editor->modelBox.setSelectedId (2, juce::sendNotificationSync); // fills the channel list
    EXPECT_TRUE (deliverPostedMessages());

    // The list, open on the screen: the row of strip 3 carries the other track's name to the
    // right of its number, where the row of strip 4 shows nothing.
    movePointerTo (290, 270);
    xdotool ("click 1");
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return openMenuWindow (*editor) != nullptr; }));
    auto* menuWindow = openMenuWindow (*editor);
    const auto bounds = menuWindow->getScreenBounds();
    const auto list = screenshotShowing (dir.getChildFile ("window-channel-list-held.png"), [&] (const juce::Image& shot)
                                         { return showsComponent (shot, *menuWindow); });
    ASSERT_TRUE (list.isValid());

    const auto rowHeight = (bounds.getHeight() - 4) / 8;
    const auto inkRightOfTheNumber = [&] (int row)
    {
        const auto top = bounds.getY() + 2 + row * rowHeight;
        const auto background = list.getPixelAt (bounds.getRight() - 4, top + rowHeight / 2);
        auto ink = 0;

        for (int y = top + 3; y < top + rowHeight - 3; ++y)
            for (int x = bounds.getX() + 60; x < bounds.getRight() - 6; ++x)
                if (std::abs (list.getPixelAt (x, y).getBrightness() - background.getBrightness()) > 0.3f)
                    ++ink;

        return ink;
    };

    EXPECT_GT (inkRightOfTheNumber (2), 20);
    EXPECT_EQ (inkRightOfTheNumber (3), 0);

    xdotool ("key Escape");
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return menuIsGone (*editor); }));

    // The other track takes strip 1 too, and its window opens beside this one: both show the
    // shared strip's number in amber. The pointer rests on the logo, where no tooltip opens.
    movePointerTo (300, 150);
    snare.setChannel (1);
    std::unique_ptr<QuillmereAudioProcessorEditor> snareWindow (dynamic_cast<QuillmereAudioProcessorEditor*> (snare.createEditor()));
    snareWindow->setTopLeftPosition (windowX + 460, windowY);
    snareWindow->addToDesktop (0);
    snareWindow->setVisible (true);
    snareWindow->toFront (true);
    ASSERT_TRUE (runMessageLoopUntil ([&]
                                      { return isPlacedAndFocused (*snareWindow); }));

    const auto channelNumberOn = [] (juce::Component& window)
    { return juce::Rectangle<int> (255, 240, 70, 60) + window.getScreenPosition(); };

    const auto bothWarn = screenshotShowing (dir.getChildFile ("window-shared-strip.png"), [&] (const juce::Image& shot)
                                             { return countPixelsLike (shot, channelNumberOn (*editor), amber) > 20
                                                      && countPixelsLike (shot, channelNumberOn (*snareWindow), amber) > 20; });
    EXPECT_GT (countPixelsLike (bothWarn, channelNumberOn (*editor), amber), 20);
    EXPECT_GT (countPixelsLike (bothWarn, channelNumberOn (*snareWindow), amber), 20);

    // One moves: the warning goes from both.
    snare.setChannel (2);
    const auto cleared = screenshotShowing (dir.getChildFile ("window-shared-strip-cleared.png"), [&] (const juce::Image& shot)
                                            { return countPixelsLike (shot, channelNumberOn (*editor), amber) == 0
                                                     && countPixelsLike (shot, channelNumberOn (*snareWindow), amber) == 0; });
    EXPECT_EQ (countPixelsLike (cleared, channelNumberOn (*editor), amber), 0);
    EXPECT_EQ (countPixelsLike (cleared, channelNumberOn (*snareWindow), amber), 0);

    snareWindow.reset();
}
