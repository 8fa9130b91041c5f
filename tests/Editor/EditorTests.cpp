#include "EditorFixture.h"

#include "QuillmereSettingsChunk.h"

#include "../support/PixelCount.h"

using namespace testing_helpers;
using Strings = std::vector<std::string>;

namespace
{
    int indexOf (const juce::StringArray& names, const juce::String& name) { return names.indexOf (name); }

    juce::StringArray itemTexts (juce::ComboBox& box)
    {
        juce::StringArray texts;
        for (int i = 0; i < box.getNumItems(); ++i)
            texts.add (box.getItemText (i) + "#" + juce::String (box.getItemId (i)));
        return texts;
    }

    struct EnabledState
    {
        bool model, input, output, channel;
        bool operator== (const EnabledState& o) const { return model == o.model && input == o.input && output == o.output && channel == o.channel; }
    };

    EnabledState enabledState (QuillmereAudioProcessorEditor& e)
    {
        return { e.modelBox.isEnabled(), e.midiInputBox.isEnabled(), e.midiOutputBox.isEnabled(), e.channelBox->isEnabled() };
    }

    void chooseModel (QuillmereAudioProcessorEditor& e, int id)
    {
        e.modelBox.setSelectedId (id, juce::sendNotificationSync);
    }

    /** A press or release of the main mouse button at the centre of a component, as the
        framework hands it to the component.
    */
    juce::MouseEvent pointerEventOn (juce::Component& component)
    {
        const auto centre = component.getLocalBounds().getCentre().toFloat();
        const auto now = juce::Time::getCurrentTime();
        return { juce::Desktop::getInstance().getMainMouseSource(), centre, juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier), juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX, juce::MouseInputSource::defaultTiltY, &component, &component, now, centre, now, 1, false };
    }
}

TEST_F (EditorFixture, OpeningWithoutADeviceShowsTheStoredStateAndOpensNothing)
{
    processor->setChannelName ("Bass");
    auto& e = openEditor();

    EXPECT_EQ (e.getWidth(), 400);
    EXPECT_EQ (e.getHeight(), 617);
    EXPECT_EQ (e.modelBox.getText(), "");
    EXPECT_EQ (e.modelBox.getTextWhenNothingSelected(), "Select Model");
    EXPECT_EQ (itemTexts (e.modelBox), juce::StringArray ({ "Tarn16#1", "Tarn48-XL#2", "Mira#3" }));
    EXPECT_EQ (itemTexts (e.midiInputBox), juce::StringArray ({ "Tarn16 Automation#1", "Studio In#2" }));
    EXPECT_EQ (e.midiInputBox.getTextWhenNothingSelected(), "Select Input");
    EXPECT_EQ (e.midiOutputBox.getTextWhenNoChoicesAvailable(), "No MIDI Output Device");
    EXPECT_EQ (e.channelBox->getNumItems(), 0);
    EXPECT_EQ (e.channelBox->getText(), "0");
    EXPECT_EQ (e.scribbleStrip->getText(), "Bass");
    EXPECT_TRUE (e.scribbleStrip->isEditableOnDoubleClick());
    EXPECT_EQ (processor->midiInput, nullptr);
    EXPECT_EQ (processor->midiOutput, nullptr);
    EXPECT_EQ (enabledState (e), (EnabledState { true, false, false, false }));

    // Layout on the artwork.
    EXPECT_EQ (e.muteButton.getBounds(), juce::Rectangle<int> (45, 15, 90, 90));
    EXPECT_EQ (e.levelSlider.getBounds(), juce::Rectangle<int> (30, 140, 120, 455));
    EXPECT_EQ (e.channelBox->getBounds(), juce::Rectangle<int> (255, 240, 70, 60));
    EXPECT_EQ (e.modelBox.getBounds(), juce::Rectangle<int> (200, 330, 180, 30));
    EXPECT_EQ (e.getLocalArea (&e.midiInputBox, e.midiInputBox.getLocalBounds()), juce::Rectangle<int> (200, 405, 180, 30));
    EXPECT_EQ (e.getLocalArea (&e.midiOutputBox, e.midiOutputBox.getLocalBounds()), juce::Rectangle<int> (200, 480, 180, 30));
    EXPECT_EQ (e.scribbleStrip->getBounds(), juce::Rectangle<int> (210, 555, 160, 30));
}

TEST_F (EditorFixture, ATarn16OpensItsDefaultPortsWhenNoneIsOpen)
{
    processor->setDevice ("Tarn16");
    processor->channel = 8;
    auto& e = openEditor();

    EXPECT_EQ (processor->midiInName, "Tarn16 Automation");
    EXPECT_EQ (processor->midiOutName, "Tarn16 Automation");
    EXPECT_EQ (e.midiInputBox.getText(), "Tarn16 Automation");
    EXPECT_EQ (e.midiOutputBox.getText(), "Tarn16 Automation");
    EXPECT_EQ (e.modelBox.getText(), "Tarn16");
    EXPECT_EQ (e.channelBox->getText(), "8");
    EXPECT_EQ (e.channelBox->maxValue, 8);

    // Open ports are shown, not replaced by the defaults.
    editor.reset();
    processor->setMidiInput (indexOf (MidiPortSystem::getInputNames(), "Studio In"));
    auto& reopened = openEditor();
    EXPECT_EQ (reopened.midiInputBox.getText(), "Studio In");
    EXPECT_EQ (processor->midiInName, "Studio In");
    EXPECT_EQ (enabledState (reopened), (EnabledState { true, false, false, false })); // starts again
}

TEST_F (EditorFixture, NoPortsOnTheSystemShowNoneAvailableAndStayDisabled)
{
    VirtualMidiPortBackend empty;
    empty.install();
    auto& e = openEditor();

    EXPECT_EQ (e.midiInputBox.getTextWhenNothingSelected(), "None available");
    EXPECT_EQ (e.midiOutputBox.getTextWhenNothingSelected(), "None available");

    chooseModel (e, 1);
    EXPECT_EQ (enabledState (e), (EnabledState { true, false, false, true }));

    editor.reset();
    ports.install();
}

TEST_F (EditorFixture, AMiraShowsTheChannelNumberOnTheStripAndKeepsTheTrackName)
{
    processor->setDevice ("Mira");
    processor->channel = 5;
    processor->setChannelName ("Lead Vox");
    auto& e = openEditor();

    EXPECT_EQ (e.scribbleStrip->getText(), "Channel 5");
    EXPECT_FALSE (e.scribbleStrip->isEditableOnDoubleClick());
    EXPECT_FALSE (e.scribbleStrip->isEditableOnSingleClick());

    // After a channel change the strip reads the new number.
    chooseModel (e, 3); // Mira again is no change: choose another and come back
    chooseModel (e, 1);
    chooseModel (e, 3);
    e.channelBox->setText ("12", juce::dontSendNotification);
    e.comboBoxChanged (e.channelBox.get());
    EXPECT_EQ (e.scribbleStrip->getText(), "Channel 12");

    // Closing the window must not make "Channel 12" the track name.
    editor.reset();
    EXPECT_EQ (processor->getChannelName(), "Lead Vox");

    // A later switch to a Tarn sends the user's name, not the channel number.
    processor->setMidiOutput (indexOf (MidiPortSystem::getOutputNames(), "Tarn16 Automation"));
    processor->channel = 2;
    processor->setDevice ("Tarn16");
    EXPECT_EQ (console.getStrip (1).text, "Lead Vox");
}

TEST_F (EditorFixture, ClosingATarnEditorHandsTheStripTextToTheProcessor)
{
    processor->setDevice ("Tarn16");
    processor->channel = 1;
    auto& e = openEditor();

    e.scribbleStrip->setText ("Hat", juce::dontSendNotification);
    editor.reset();

    EXPECT_EQ (processor->getChannelName(), "Hat");
    EXPECT_EQ (console.getStrip (0).text, "Hat");
}

TEST_F (EditorFixture, ChoosingModelsRebuildsTheChannelListAndKeepsTheChannel)
{
    processor->setDevice ("Mira");
    processor->channel = 12;
    auto& e = openEditor();
    EXPECT_EQ (e.channelBox->getText(), "12");

    chooseModel (e, 1); // Tarn16, 8 channels

    // Whatever the choice posts is delivered meanwhile: none of it may change the channel.
    runMessageLoopFor (30);

    EXPECT_EQ (processor->getDeviceModelName(), "Tarn16");
    EXPECT_EQ (processor->channel.load(), 12);
    EXPECT_EQ (e.channelBox->getText(), "12");
    EXPECT_EQ (e.channelBox->getNumItems(), 8);
    EXPECT_EQ (e.channelBox->menu.getNumItems(), 8);
    EXPECT_EQ (e.channelBox->maxValue, 8);
    EXPECT_EQ (enabledState (e), (EnabledState { true, true, true, true }));

    chooseModel (e, 3); // Mira, 16 channels
    chooseModel (e, 2); // Tarn48-XL, 8 channels

    // Nor may anything posted meanwhile change the list.
    runMessageLoopFor (30);

    // Each channel once, for the current model only.
    EXPECT_EQ (e.channelBox->getNumItems(), 8);
    juce::StringArray menuTexts;
    for (juce::PopupMenu::MenuItemIterator it (e.channelBox->menu); it.next();)
    {
        menuTexts.add (it.getItem().text);
        EXPECT_FALSE (it.getItem().isTicked);
    }
    EXPECT_EQ (menuTexts, juce::StringArray ({ "1", "2", "3", "4", "5", "6", "7", "8" }));
}

TEST_F (EditorFixture, ChoosingAChannelSendsNameMuteAndLevelThere)
{
    processor->setDevice ("Tarn16");
    processor->setChannelName ("Tom");
    processor->muteParameter->setValue (1.0f);
    processor->faderParameter->setValue (0.5f);
    auto& e = openEditor();
    chooseModel (e, 2);
    chooseModel (e, 1);
    EXPECT_TRUE (deliverPostedMessages()); // nothing the choices posted lands after the clear
    ports.clearSentBlocks();

    e.channelBox->setSelectedId (4, juce::sendNotificationSync);

    EXPECT_EQ (processor->channel.load(), 4);
    EXPECT_EQ (hex (ports.getSentBlocks ("Tarn16 Automation")), (Strings { nameMessage (3, "Tom"), "B0 0C 03 B0 2C 42", "B0 03 3F B0 23 40" }));

    // Typed text that is no number gives channel 0, which sends nothing.
    ports.clearSentBlocks();
    e.channelBox->setText ("x", juce::dontSendNotification);
    e.comboBoxChanged (e.channelBox.get());
    EXPECT_EQ (processor->channel.load(), 0);
    EXPECT_EQ (e.channelBox->getSelectedId(), 0); // nothing selected: the box shows "0"
    EXPECT_EQ (e.channelBox->getText(), "");
    EXPECT_TRUE (ports.getSentBlocks().empty());
}

TEST_F (EditorFixture, ChoosingPortsOpensThemByName)
{
    auto& e = openEditor();
    chooseModel (e, 3);

    e.midiInputBox.setSelectedId (2, juce::sendNotificationSync);
    e.midiOutputBox.setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (processor->midiInName, "Studio In");
    EXPECT_EQ (processor->midiOutName, "Tarn16 Automation");

    // A port that has gone since the window opened opens nothing.
    ports.removeInputPort ("Tarn16 Automation");
    e.midiInputBox.setSelectedId (1, juce::sendNotificationSync);
    EXPECT_EQ (processor->midiInName, "Studio In");

    // One whose index moved is opened at its new index.
    ports.addInputPort ("Tarn16 Automation");
    e.inputSelector.comboBoxChanged (&e.midiInputBox);
    EXPECT_EQ (processor->midiInName, "Tarn16 Automation");

    // What was chosen is what the instance wants, and what the project keeps.
    const auto state = processor->getPortState();
    EXPECT_EQ (state.wantedInName, "Tarn16 Automation");
    EXPECT_EQ (state.wantedOutName, "Tarn16 Automation");
}

TEST_F (EditorFixture, ThePortListsFollowTheSystemsPorts)
{
    processor->setMidiInput (MidiPortSystem::getInputNames().indexOf ("Tarn16 Automation"));
    auto& e = openEditor();
    ASSERT_EQ (itemTexts (e.midiInputBox), juce::StringArray ({ "Tarn16 Automation#1", "Studio In#2" }));

    ports.addInputPort ("Late In");
    ports.addOutputPort ("Late Out");
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return itemTexts (e.midiInputBox).contains ("Late In#3") && itemTexts (e.midiOutputBox).contains ("Late Out#3"); },
                                      10000));

    ports.removeInputPort ("Studio In");
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return itemTexts (e.midiInputBox) == juce::StringArray ({ "Tarn16 Automation#1", "Late In#2" }); },
                                      10000));

    // The open port stays shown as the list follows.
    EXPECT_EQ (e.midiInputBox.getText(), "Tarn16 Automation");
    EXPECT_EQ (e.midiInputBox.getSelectedId(), 1);
}

// The window lists the system's ports itself as it opens; a port that was there then, and gone
// before the port watcher next looked, is gone from the lists once the watcher has looked,
// though the watcher never saw it and so saw no change.
TEST_F (EditorFixture, APortThatCameAndWentBetweenTwoOfTheWatchersRoundsLeavesTheLists)
{
    processor->setMidiInput (MidiPortSystem::getInputNames().indexOf ("Tarn16 Automation"));

    // The watcher must not list while the port is there: tried again until it did not.
    for (int attempt = 0;; ++attempt)
    {
        ASSERT_LT (attempt, 20) << "the watcher kept listing while the port was there";
        editor.reset();
        const auto rounds = PortWatcher::getListingCount();
        ports.addInputPort ("Flash In");
        auto& e = openEditor();
        const auto shown = itemTexts (e.midiInputBox).contains ("Flash In#3");
        ports.removeInputPort ("Flash In");

        if (PortWatcher::getListingCount() == rounds)
        {
            ASSERT_TRUE (shown);
            break;
        }
    }

    const auto rounds = PortWatcher::getListingCount();
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return PortWatcher::getListingCount() > rounds + 1 && itemTexts (editor->midiInputBox) == juce::StringArray ({ "Tarn16 Automation#1", "Studio In#2" }); },
                                      10000))
        << itemTexts (editor->midiInputBox).joinIntoString (", ");
}

TEST_F (EditorFixture, AWantedPortIsShownByNameWhileAbsentAsAChoiceThatCannotBeMade)
{
    // A Tarn16 project linked through "Desk", opened where the desk is away. The default ports
    // are present, but the instance waits for its own: the window must not open others.
    const auto chunk = chunkFrom (R"(<QUILLMERESETTINGS midiInName="Desk" midiOutName="Desk" fader="0.5" cut="0" channel="1" channelName="Kick" deviceName="Tarn16"/>)");
    processor->setStateInformation (chunk.getData(), (int) chunk.getSize());

    auto& e = openEditor();
    const auto normal = e.getLookAndFeel().findColour (juce::ComboBox::textColourId);

    for (auto* box : { &e.midiInputBox, &e.midiOutputBox })
    {
        EXPECT_EQ (box->getText(), "Desk");
        EXPECT_EQ (box->getSelectedId(), QuillmereAudioProcessorEditor::waitingPortItemId);
        EXPECT_FALSE (box->isItemEnabled (QuillmereAudioProcessorEditor::waitingPortItemId));
        EXPECT_LT (box->findColour (juce::ComboBox::textColourId).getFloatAlpha(), normal.getFloatAlpha());
    }

    EXPECT_FALSE (processor->getPortState().inputOpen);
    EXPECT_FALSE (processor->getPortState().outputOpen);

    // The desk is plugged in: the instance opens its ports and the window shows them as open.
    ports.addInputPort ("Desk");
    ports.addOutputPort ("Desk");
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return e.midiInputBox.getSelectedId() == 3 && e.midiOutputBox.getSelectedId() == 3; },
                                      10000));

    for (auto* box : { &e.midiInputBox, &e.midiOutputBox })
    {
        EXPECT_EQ (box->getText(), "Desk");
        EXPECT_EQ (box->findColour (juce::ComboBox::textColourId), normal);
    }
}

// Windows gives a MIDI port to one program at a time, so a port that another program holds is
// listed but fails to open. The window says so in the port's place, apart from a port that
// refuses for another reason, and shows the port as open once the other program lets it go.
TEST_F (EditorFixture, APortHeldByAnotherProgramIsShownAsInUse)
{
    const struct
    {
        const char* name;
        bool heldByAnotherProgram;
    } cases[] = {
        { "held by another program", true },
        { "refused for another reason", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ports.setFailOpens ("Studio In", true, c.heldByAnotherProgram);
        ports.setFailOpens ("Studio Out", true, c.heldByAnotherProgram);
        processor = std::make_unique<QuillmereAudioProcessor>();
        processor->setMidiInputByName ("Studio In");
        processor->setMidiOutputByName ("Studio Out");
        auto& e = openEditor();

        const auto state = processor->getPortState();
        EXPECT_EQ (state.inputHeldByAnotherProgram, c.heldByAnotherProgram);
        EXPECT_EQ (state.outputHeldByAnotherProgram, c.heldByAnotherProgram);

        for (const auto& [box, port] : { std::pair<juce::ComboBox*, juce::String> { &e.midiInputBox, "Studio In" }, { &e.midiOutputBox, "Studio Out" } })
        {
            EXPECT_EQ (box->getText(), c.heldByAnotherProgram ? port + " (in use by another program)" : port);
            EXPECT_EQ (box->getSelectedId(), c.heldByAnotherProgram ? QuillmereAudioProcessorEditor::waitingPortItemId : 2);
            EXPECT_EQ (box->getTooltip().contains ("Another program has this port open"), c.heldByAnotherProgram);
        }

        // The other program lets go: the watcher's next round opens the ports.
        ports.setFailOpens ("Studio In", false);
        ports.setFailOpens ("Studio Out", false);
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return e.midiInputBox.getText() == "Studio In" && e.midiOutputBox.getText() == "Studio Out" && processor->getPortState().outputOpen; },
                                          10000));
        EXPECT_FALSE (processor->getPortState().inputHeldByAnotherProgram);
        EXPECT_TRUE (e.midiOutputBox.getTooltip().isEmpty());
        editor.reset();
    }
}

TEST_F (EditorFixture, EditingTheStripSendsTheName)
{
    processor->setDevice ("Tarn16");
    processor->channel = 6;
    auto& e = openEditor();

    // Opening the window opened the console's ports, and the console was told the strip.
    ASSERT_TRUE (waitUntilSent (*processor));
    const auto namesOnOpening = console.getStrip (5).nameMessages;
    EXPECT_EQ (namesOnOpening, 1);

    e.scribbleStrip->setText ("Kick", juce::sendNotificationSync);
    EXPECT_EQ (processor->getChannelName(), "Kick");
    EXPECT_EQ (console.getStrip (5).text, "Kick");

    e.scribbleStrip->setText ("", juce::sendNotificationSync);
    EXPECT_EQ (console.getStrip (5).text, "");
    EXPECT_EQ (console.getStrip (5).nameMessages, namesOnOpening + 2);
}

TEST_F (EditorFixture, TheCutKeyFlipsTheMuteOnPressInsideAGesture)
{
    processor->setDevice ("Tarn16");
    processor->channel = 1;
    auto& e = openEditor();
    HostRecorder host (*processor);
    const auto pointer = pointerEventOn (e.muteButton);
    juce::Component& key = e.muteButton; // the mouse callbacks as the framework calls them

    // Pressed and released before the key is ever painted, as a tap is: the framework shows
    // the key pressed once more after the release, which is no press of the pointer.
    key.mouseDown (pointer);
    EXPECT_EQ (processor->muteParameter->getValue(), 1.0f); // at once, while still held
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 1.00" }));
    key.mouseUp (pointer);

    // Over the framework's flash of the released key (a 100 ms timer): it must not press the
    // key again.
    runMessageLoopFor (150);
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 1.00", "end 1" }));
    EXPECT_EQ (processor->muteParameter->getValue(), 1.0f);

    // Dragged off the held key and back on (the states the key goes through as the pointer
    // leaves and returns): the gesture ends and a new one flips again.
    host.clear();
    key.mouseDown (pointer);
    e.muteButton.setState (juce::Button::buttonNormal);
    e.muteButton.setState (juce::Button::buttonDown);
    key.mouseUp (pointer);
    runMessageLoopFor (150); // past the flash again
    EXPECT_EQ (host.describe(), (Strings { "begin 1", "value 1 0.00", "end 1", "begin 1", "value 1 1.00", "end 1" }));
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return console.getStrip (0).cut; }));

    // The key lights at the next tick; a click never toggles it by itself.
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return e.muteButton.getToggleState(); }));

    // Shown pressed without a pointer on it, as the framework flashes a key, it is no press.
    host.clear();
    e.muteButton.setState (juce::Button::buttonDown);
    e.muteButton.setState (juce::Button::buttonNormal);
    EXPECT_TRUE (host.getEvents().empty());
}

TEST_F (EditorFixture, AClickThatNoPointerMadeFlipsTheMuteInOneWholeGesture)
{
    // What an accessibility client's press does: the framework flashes the key and clicks it.
    processor->setDevice ("Tarn16");
    processor->channel = 1;
    auto& e = openEditor();
    HostRecorder host (*processor);

    for (const auto muted : { 1.0f, 0.0f })
    {
        host.clear();
        e.muteButton.triggerClick();

        // The click is posted: its gesture ends when it is delivered.
        EXPECT_TRUE (runMessageLoopUntil ([&]
                                          { return host.count (HostRecorder::Event::Kind::end, 1) == 1; }));

        EXPECT_EQ (processor->muteParameter->getValue(), muted);
        EXPECT_EQ (host.describe(), (Strings { "begin 1", muted == 1.0f ? "value 1 1.00" : "value 1 0.00", "end 1" }));
    }
}

TEST_F (EditorFixture, PollingFollowsTheParametersWithoutEchoingToTheHost)
{
    auto& e = openEditor();
    HostRecorder host (*processor);

    processor->faderParameter->setValue (0.333f);
    processor->muteParameter->setValue (1.0f);

    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return e.muteButton.getToggleState(); },
                                      500));
    EXPECT_DOUBLE_EQ (e.levelSlider.getValue(), 0.33);

    // Over more of the window's 50 ms polls, none echoes to the host.
    runMessageLoopFor (120);
    EXPECT_TRUE (host.getEvents().empty());

    // The fader moved by the user notifies the host.
    e.levelSlider.setValue (0.6, juce::sendNotificationSync);
    EXPECT_EQ (host.describe(), (Strings { "value 0 0.60" }));
}

TEST_F (EditorFixture, TheEditorIsAGestureSourceOnlyWhileItIsOpen)
{
    HostRecorder host (*processor);
    auto& e = openEditor();
    auto& manager = *processor->faderParameter->changeManager;

    manager.beginChange (&e.faderAttachment);
    EXPECT_TRUE (manager.isAnyActive());

    // Closed in the middle of a drag: its gesture ends with it.
    editor.reset();
    EXPECT_FALSE (manager.isAnyActive());
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "end 0" }));
}

TEST_F (EditorFixture, RendersTheWindowAsTheArtworkLaysItOut)
{
    processor->setDevice ("Tarn16");
    processor->channel = 3;
    processor->setChannelName ("Kick");
    processor->faderParameter->setValue (0.72f);
    openEditor();

    // The fader follows the parameter from the window's first poll on.
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return std::abs (editor->levelSlider.getValue() - 0.72) < 0.006; }));

    const auto image = render();

    // Kept as an artefact of the run, for a person to look at.
    const auto file = juce::File::getCurrentWorkingDirectory().getChildFile ("editor-window.png");
    file.deleteFile();
    juce::FileOutputStream out (file);
    juce::PNGImageFormat().writeImageToStream (image, out);

    // The strip panel is light grey; the black band carries the wordmark.
    EXPECT_GT (image.getPixelAt (215, 560).getBrightness(), 0.75f);
    EXPECT_LT (image.getPixelAt (390, 10).getBrightness(), 0.1f);

    // The cap's dark index line lies on the scale's marks: +10 at 1.0, 0 at 0.72 and infinity
    // at 0.0 (mark centres at image y 409.5, 589.5 and 1059.5, drawn at half size), with the
    // cap's bright ribs a few pixels above and below it.
    const std::pair<float, int> marks[] = { { 1.0f, 205 }, { 0.72f, 295 }, { 0.0f, 530 } };

    for (const auto& [markValue, markY] : marks)
    {
        const auto value = markValue;
        SCOPED_TRACE (value);
        processor->faderParameter->setValue (value);
        runMessageLoopUntil ([&]
                             { return std::abs (editor->levelSlider.getValue() - value) < 0.006; });
        const auto frame = render();

        EXPECT_LT (frame.getPixelAt (90, markY).getBrightness(), 0.35f);
        EXPECT_GT (frame.getPixelAt (90, markY - 8).getBrightness(), 0.5f);
        EXPECT_GT (frame.getPixelAt (90, markY + 8).getBrightness(), 0.5f);
    }
}

TEST_F (EditorFixture, OpenWindowsShareOneCopyOfTheArtworkThatGoesWithTheLast)
{
    auto second = std::make_unique<QuillmereAudioProcessor>();
    auto& first = openEditor();
    std::unique_ptr<QuillmereAudioProcessorEditor> other (dynamic_cast<QuillmereAudioProcessorEditor*> (second->createEditor()));
    ASSERT_NE (other, nullptr);

    ASSERT_TRUE (first.background.isValid());
    EXPECT_EQ (other->background.getPixelData(), first.background.getPixelData());
    EXPECT_EQ (other->velmoraLookAndFeel.wideFrameImage.getPixelData(), first.velmoraLookAndFeel.wideFrameImage.getPixelData());

    // Once both windows have closed, nothing but this copy holds the pixels.
    const auto kept = first.background;
    editor.reset();
    other.reset();
    EXPECT_EQ (kept.getReferenceCount(), 1);
}

TEST_F (EditorFixture, AllWindowsShareOneSetOfTypefaces)
{
    // Every look-and-feel of every open window draws with the same typeface objects, built
    // once from the embedded fonts.
    auto second = std::make_unique<QuillmereAudioProcessor>();
    auto& first = openEditor();
    std::unique_ptr<QuillmereAudioProcessorEditor> other (dynamic_cast<QuillmereAudioProcessorEditor*> (second->createEditor()));
    ASSERT_NE (other, nullptr);

    for (auto* e : { &first, other.get() })
    {
        EXPECT_EQ (e->velmoraLookAndFeel.interfaceTypeface.get(), first.velmoraLookAndFeel.interfaceTypeface.get());
        EXPECT_EQ (e->channelNumberLookAndFeel.interfaceTypeface.get(), first.velmoraLookAndFeel.interfaceTypeface.get());
        EXPECT_EQ (e->scribbleStripLookAndFeel.interfaceTypeface.get(), first.velmoraLookAndFeel.interfaceTypeface.get());
        EXPECT_EQ (e->channelNumberLookAndFeel.channelTypeface.get(), first.channelNumberLookAndFeel.channelTypeface.get());
        EXPECT_EQ (e->scribbleStripLookAndFeel.markerTypeface.get(), first.scribbleStripLookAndFeel.markerTypeface.get());
    }

    // The fonts the windows draw with are built on them.
    juce::Label label;
    EXPECT_EQ (other->scribbleStripLookAndFeel.getLabelFont (label).getTypefacePtr().get(), first.scribbleStripLookAndFeel.markerTypeface.get());
    EXPECT_EQ (other->channelNumberLookAndFeel.getPopupMenuFont().getTypefacePtr().get(), first.velmoraLookAndFeel.interfaceTypeface.get());

    other.reset();
    second.reset();
}

namespace
{
    void reportTrackName (QuillmereAudioProcessor& p, const juce::String& name)
    {
        juce::AudioProcessor::TrackProperties properties;
        properties.name = name;
        p.updateTrackProperties (properties);
    }

    const juce::Rectangle<int> stripArea { 210, 555, 160, 30 }, channelArea { 255, 240, 70, 60 };
}

TEST_F (EditorFixture, TheStripShowsWhetherItsNameFollowsTheTrack)
{
    const juce::Colour followed (QuillmereAudioProcessorEditor::followedNameColour);
    processor->setDevice ("Tarn16");
    processor->channel = 1;
    reportTrackName (*processor, "Kick In");
    auto& e = openEditor();

    EXPECT_EQ (e.scribbleStrip->getText(), "KickIn");
    EXPECT_EQ (e.scribbleStrip->findColour (juce::Label::textColourId), followed);
    EXPECT_TRUE (e.scribbleStrip->getTooltip().startsWith ("Follows the track's name"));
    EXPECT_GT (countPixelsLike (render(), stripArea, followed), 20);

    // A rename while the window is open shows within a tick.
    reportTrackName (*processor, "Kick Out");
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return e.scribbleStrip->getText() == "KickOut"; }));

    // A typed name is drawn in black and stays through renames.
    e.scribbleStrip->setText ("BD", juce::sendNotificationSync);
    EXPECT_EQ (e.scribbleStrip->findColour (juce::Label::textColourId), juce::Colours::black);
    EXPECT_TRUE (e.scribbleStrip->getTooltip().startsWith ("A name typed here"));
    EXPECT_EQ (countPixelsLike (render(), stripArea, followed), 0);
    reportTrackName (*processor, "Kick Sub");
    runMessageLoopFor (120);
    EXPECT_EQ (e.scribbleStrip->getText(), "BD");

    // Clearing it shows the track's name at once, in the ink of a name that follows it.
    e.scribbleStrip->setText ("", juce::sendNotificationSync);
    EXPECT_EQ (e.scribbleStrip->getText(), "KickSub");
    EXPECT_EQ (e.scribbleStrip->findColour (juce::Label::textColourId), followed);
    EXPECT_TRUE (testing_helpers::waitUntilSent (*processor));
    EXPECT_EQ (console.getStrip (0).text, "KickSub");

    // Closing the window hands the followed name back as itself: it goes on following.
    editor.reset();
    reportTrackName (*processor, "Kick Top");
    EXPECT_EQ (processor->getChannelName(), "KickTop");
}

TEST_F (EditorFixture, TheChannelListNamesTheStripsOfOtherTracksOnTheConsoleAndBothWindowsShowASharedStrip)
{
    const auto outputIndex = [] (const char* name)
    { return indexOf (MidiPortSystem::getOutputNames(), name); };
    const juce::Colour warning (QuillmereAudioProcessorEditor::sharedStripColour);

    // Another track on the same console, and one on another console.
    QuillmereAudioProcessor snare, bass;
    snare.setDevice ("Tarn16");
    snare.setMidiOutput (outputIndex ("Tarn16 Automation"));
    snare.setChannel (3);
    snare.setChannelName ("Snare");
    bass.setDevice ("Tarn16");
    bass.setMidiOutput (outputIndex ("Studio Out"));
    bass.setChannel (5);
    bass.setChannelName ("Bass");

    // This track opens the console's default ports with its window.
    processor->setDevice ("Tarn16");
    processor->setChannel (1);
    processor->setChannelName ("Kick");
    auto& e = openEditor();
    chooseModel (e, 2);

    const auto menuTexts = [&e]
    {
        juce::StringArray texts;
        for (juce::PopupMenu::MenuItemIterator it (e.channelBox->menu); it.next();)
            texts.add (it.getItem().text + "#" + juce::String (it.getItem().itemID));
        return texts;
    };

    // The list names the strip the other track holds; the box's items, IDs and typed entry
    // stay as they were.
    EXPECT_EQ (menuTexts(), juce::StringArray ({ "1#1", "2#2", "3  Snare#3", "4#4", "5#5", "6#6", "7#7", "8#8" }));
    EXPECT_EQ (itemTexts (*e.channelBox), juce::StringArray ({ "1#1", "2#2", "3#3", "4#4", "5#5", "6#6", "7#7", "8#8" }));
    EXPECT_EQ (e.channelBox->maxValue, 8);
    EXPECT_FALSE (e.channelBox->isColourSpecified (juce::ComboBox::textColourId));
    EXPECT_EQ (countPixelsLike (render(), channelArea, warning), 0);

    // The other track takes this track's strip: both windows show it within a tick.
    snare.setChannel (1);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return e.channelBox->findColour (juce::ComboBox::textColourId) == warning; }));
    EXPECT_TRUE (e.channelBox->getTooltip().contains ("Snare"));
    EXPECT_GT (countPixelsLike (render(), channelArea, warning), 20);
    EXPECT_EQ (menuTexts()[0], "1  Snare#1");
    EXPECT_EQ (menuTexts()[2], "3#3");

    std::unique_ptr<QuillmereAudioProcessorEditor> snareWindow (dynamic_cast<QuillmereAudioProcessorEditor*> (snare.createEditor()));
    EXPECT_EQ (snareWindow->channelBox->findColour (juce::ComboBox::textColourId), warning);
    EXPECT_TRUE (snareWindow->channelBox->getTooltip().contains ("Kick"));

    // It clears in both as soon as one moves.
    snare.setChannel (2);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return ! e.channelBox->isColourSpecified (juce::ComboBox::textColourId)
                                               && ! snareWindow->channelBox->isColourSpecified (juce::ComboBox::textColourId); }));
    EXPECT_EQ (countPixelsLike (render(), channelArea, warning), 0);

    // Choosing a held strip stays allowed: the console is told, and both windows warn.
    e.channelBox->setText ("2", juce::dontSendNotification);
    e.comboBoxChanged (e.channelBox.get());
    EXPECT_EQ (processor->channel.load(), 2);
    EXPECT_EQ (e.channelBox->findColour (juce::ComboBox::textColourId), warning);
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return snareWindow->channelBox->findColour (juce::ComboBox::textColourId) == warning; }));
    EXPECT_TRUE (testing_helpers::waitUntilSent (*processor));
    EXPECT_EQ (console.getStrip (1).text, "Kick");

    // A track that goes leaves the list.
    snareWindow.reset();
    snare.setMidiOutput (outputIndex ("Studio Out"));
    EXPECT_TRUE (runMessageLoopUntil ([&]
                                      { return ! e.channelBox->isColourSpecified (juce::ComboBox::textColourId); }));
    EXPECT_EQ (menuTexts()[1], "2#2");
}

// The system's list may change between a listing and an open: a port that appears ahead of the
// wanted one moves it to another index. Whether the port comes from a restored project or the
// window, the instance holds the port it names: the level reaches the console, and the desk's
// moves reach the level.
TEST_F (EditorFixture, APortAppearingBetweenListingAndOpeningDoesNotStandInForTheWantedOne)
{
    enum class Path
    {
        restored,
        chosenInTheWindow
    };

    const struct
    {
        const char* name;
        bool isInput;
        Path path;
    } cases[] = {
        { "input restored", true, Path::restored },
        { "output restored", false, Path::restored },
        { "input chosen in the window", true, Path::chosenInTheWindow },
        { "output chosen in the window", false, Path::chosenInTheWindow },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const juce::String wanted = "Tarn16 Automation";

        editor.reset();
        processor = std::make_unique<QuillmereAudioProcessor>();
        processor->setDevice ("Tarn16");
        processor->setChannel (1);
        processor->setMidiInput (MidiPortSystem::getInputNames().indexOf ("Studio In"));
        processor->setMidiOutput (MidiPortSystem::getOutputNames().indexOf ("Studio Out"));

        if (c.path == Path::restored)
        {
            QuillmereSettingsChunk::Settings settings;
            settings.modelName = "Tarn16";
            settings.channel = 1;
            settings.midiInName = c.isInput ? wanted : "Studio In";
            settings.midiOutName = c.isInput ? "Studio Out" : wanted;
            const auto chunk = QuillmereSettingsChunk::write (settings);

            ports.addPortAheadOnNextOpen (c.isInput, "Other Synth");
            processor->setStateInformation (chunk.getData(), (int) chunk.getSize());
        }
        else
        {
            auto& e = openEditor();
            auto& box = c.isInput ? e.midiInputBox : e.midiOutputBox;
            const auto index = (c.isInput ? MidiPortSystem::getInputNames() : MidiPortSystem::getOutputNames()).indexOf (wanted);

            ports.addPortAheadOnNextOpen (c.isInput, "Other Synth");
            box.setSelectedId (box.getItemId (index), juce::sendNotificationSync);
        }

        const auto state = processor->getPortState();
        EXPECT_EQ (c.isInput ? state.wantedInName : state.wantedOutName, wanted);

        if (c.isInput)
        {
            const auto before = processor->faderParameter->getValue();
            console.touch (0);
            console.moveTo (0, 12000);
            console.release (0);
            EXPECT_TRUE (runMessageLoopUntil ([&]
                                              { return processor->faderParameter->getValue() != before; }));
        }
        else
        {
            processor->faderParameter->setValue (0.25f);
            ASSERT_TRUE (processor->outbox.waitUntilSent());
            EXPECT_EQ (console.getStrip (0).faderLevel, ConsoleSimulator::eightBitLevelOf (0.25f));
            EXPECT_TRUE (ports.getSentBlocks ("Other Synth").empty());
        }

        editor.reset();
        processor.reset();
        ports.removeInputPort ("Other Synth");
        ports.removeOutputPort ("Other Synth");
    }
}
