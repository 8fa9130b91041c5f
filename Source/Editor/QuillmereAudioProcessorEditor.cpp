#include "QuillmereAudioProcessorEditor.h"
#include "../Devices/DeviceCatalogue.h"
#include "../ScribbleStripName.h"
#include "EmbeddedImages.h"

#include <BinaryData.h>

namespace
{
    /** Keeps a control from taking the keyboard focus, when clicked or otherwise, so that the
        keys a user presses go on to the host. Only text being typed takes the focus: the text
        editor that the scribble strip or the channel box opens while it is edited.
    */
    void keepFromKeyboardFocus (juce::Component& control)
    {
        control.setWantsKeyboardFocus (false);
        control.setMouseClickGrabsKeyboardFocus (false);
    }

    /** What moving the console's fader records in the host, where that depends on the host:
        Linux hosts must be told of a gesture on their own UI thread, which VST2 and VST3 hosts
        lend the plug-in's message loop only in some cases (see HostMessageThread). Empty where
        the desk's touch always writes automation.
    */
    juce::String describeDeskRecording ([[maybe_unused]] juce::AudioProcessor::WrapperType type)
    {
#if JUCE_LINUX || JUCE_BSD
        switch (type)
        {
            case juce::AudioProcessor::wrapperType_VST3:
                return "The console's fader writes Level automation with touch (Touch, Latch) once the host runs "
                       "Quillmere on its own thread: from the start in hosts that offer plug-ins their run loop, "
                       "otherwise once a Quillmere window has been opened. Until then the desk's moves reach the "
                       "host as values without touch.";

            case juce::AudioProcessor::wrapperType_VST:
                return "The console's fader writes Level automation with touch (Touch, Latch) while a Quillmere "
                       "window is open; otherwise the desk's moves reach the host as values without touch.";

            case juce::AudioProcessor::wrapperType_LV2:
                return "LV2 hosts record no change that a plug-in makes itself: the desk's moves set the Level "
                       "and the window follows, but no automation is written.";

            case juce::AudioProcessor::wrapperType_Undefined:
            case juce::AudioProcessor::wrapperType_AudioUnit:
            case juce::AudioProcessor::wrapperType_AudioUnitv3:
            case juce::AudioProcessor::wrapperType_AAX:
            case juce::AudioProcessor::wrapperType_Standalone:
            case juce::AudioProcessor::wrapperType_Unity:
                break;
        }
#endif

        return {};
    }

    /** The number a selector's text starts with, as C's atoi reads it; 0 when there is none. */
    int leadingNumberOf (const juce::String& text)
    {
        return text.getIntValue();
    }
}

//==============================================================================
QuillmereAudioProcessorEditor::QuillmereAudioProcessorEditor (QuillmereAudioProcessor& owner)
    : juce::AudioProcessorEditor (owner)
    , quillmereProcessor (owner)
    , parameters (owner.getStripParameters())
{
    // The message thread, or a host's thread with the message manager locked: JUCE's VST2 and
    // VST3 wrappers on Linux make the window there while the loop may run on their own thread.
    jassert (juce::MessageManager::existsAndIsLockedByCurrentThread());

    setLookAndFeel (&velmoraLookAndFeel);
    background = EmbeddedImages::get (BinaryData::background_png, BinaryData::background_pngSize);

    // The fader: relative drags with the framework's sensitivity (250 pixels span the range),
    // no jump of the cap on a click in the groove; Alt-click puts it on the 0 mark.
    addAndMakeVisible (levelSlider);
    levelSlider.setSliderStyle (juce::Slider::LinearVertical);
    levelSlider.setTextBoxStyle (juce::Slider::NoTextBox, false, 0, 0);
    levelSlider.setRange (0.0, 1.0, 0.01);
    levelSlider.setSliderSnapsToMousePosition (false);
    levelSlider.setTooltip (describeDeskRecording (owner.wrapperType));
    keepFromKeyboardFocus (levelSlider);

    // The CUT key: the mute flips on press; the key itself never toggles.
    addAndMakeVisible (muteButton);
    muteButton.setButtonText ("CUT");
    muteButton.setClickingTogglesState (false);
    keepFromKeyboardFocus (muteButton);

    addAndMakeVisible (modelBox);
    modelBox.setEditableText (false);
    keepFromKeyboardFocus (modelBox);
    modelBox.setJustificationType (juce::Justification::centred);
    modelBox.setTextWhenNothingSelected ("Select Model");
    modelBox.setTextWhenNoChoicesAvailable ("Error Loading Models");
    modelBox.addListener (this);

    for (auto* selector : getPortSelectors())
        addAndMakeVisible (*selector);

    channelBox = std::make_unique<ComboBoxWithMenuOptions>();
    addAndMakeVisible (*channelBox);
    channelBox->menuItemHeight = 26.0f;
    channelBox->setEditableText (true);
    keepFromKeyboardFocus (*channelBox);
    channelBox->setLookAndFeel (&channelNumberLookAndFeel);
    channelBox->setJustificationType (juce::Justification::centred);
    channelBox->setTextWhenNothingSelected ("0");
    channelBox->addListener (this);
    channelBox->setEnabled (false);

    scribbleStrip = std::make_unique<RestrictableLabel>();
    addAndMakeVisible (*scribbleStrip);
    scribbleStrip->setLookAndFeel (&scribbleStripLookAndFeel);
    scribbleStrip->setJustificationType (juce::Justification::centred);
    scribbleStrip->setEditable (false, true, false);
    scribbleStrip->setColour (juce::TextEditor::textColourId, juce::Colours::black);
    scribbleStrip->setColour (juce::TextEditor::backgroundColourId, juce::Colours::transparentBlack);
    scribbleStrip->setColour (juce::TextEditor::focusedOutlineColourId, juce::Colours::transparentBlack);
    scribbleStrip->maxTextLength = ScribbleStripName::maxLength;
    scribbleStrip->allowedCharacters = ScribbleStripName::allowedCharacters;
    scribbleStrip->addListener (this);

    setSize (400, 617);
    startTimer (50);

    // Ports: list them, open the model's default ports when no port is open or wanted, and
    // show what is open or waited for; then follow the system's ports while the window is open.
    shownPortListing = PortWatcher::getListingCount();

    for (auto* selector : getPortSelectors())
        selector->listPorts();

    for (auto* selector : getPortSelectors())
        selector->openDefaultPort();

    showPorts();

    PortWatcher::addListener (this);
    PortWatcher::setWatching (this, true);

    for (int i = 0; i < DeviceCatalogue::getNumModels(); ++i)
        modelBox.addItem (DeviceCatalogue::getModelName (i), i + 1);

    const auto modelName = quillmereProcessor.getDeviceModelName();

    for (int i = 0; i < modelBox.getNumItems(); ++i)
        if (modelBox.getItemText (i) == modelName)
            modelBox.setSelectedItemIndex (i, juce::dontSendNotification);

    // Its popup menu is filled only when a model is chosen, which also enables the box.
    const auto numChannels = quillmereProcessor.getNumChannels();

    for (int j = 1; j <= numChannels; ++j)
        channelBox->addItem (juce::String (j), j);

    channelBox->maxValue = numChannels;

    const auto channel = quillmereProcessor.channel.load();

    if (channel >= 0 && channel <= numChannels)
        channelBox->setText (juce::String (channel), juce::dontSendNotification);

    updateScribbleStrip();
    showStripsOfOthers();
}

QuillmereAudioProcessorEditor::~QuillmereAudioProcessorEditor()
{
    stopTimer();
    PortWatcher::removeListener (this);

    // The strip's text becomes the channel name only while it shows the name: on a model
    // without scribble strips it reads "Channel" and the number, which must not replace the
    // user's track name. A rename of the track not shown yet is shown first, so that the name
    // that follows the track goes back as itself and keeps following it.
    followChannelName();

    if (quillmereProcessor.deviceShowsChannelNames())
        quillmereProcessor.setChannelName (scribbleStrip->getText());

    // A list left open closes with the window and lets go of the look-and-feel it is drawn
    // with, which goes with the window.
    auto& desktop = juce::Desktop::getInstance();

    for (int i = desktop.getNumComponents(); --i >= 0;)
    {
        const auto* drawnWith = &desktop.getComponent (i)->getLookAndFeel();

        if (drawnWith == &velmoraLookAndFeel || drawnWith == &channelNumberLookAndFeel || drawnWith == &scribbleStripLookAndFeel)
        {
            juce::PopupMenu::dismissAllActiveMenus();
            break;
        }
    }

    // The look-and-feels are members that go before the controls using them.
    scribbleStrip->setLookAndFeel (nullptr);
    channelBox->setLookAndFeel (nullptr);
    setLookAndFeel (nullptr);
}

//==============================================================================
void QuillmereAudioProcessorEditor::paint (juce::Graphics& g)
{
    // The background is 670 pixels high when drawn; the window shows its top 617.
    g.fillAll (juce::Colours::white);
    g.drawImage (background, 0, 0, 400, 670, 0, 0, background.getWidth(), background.getHeight());
}

void QuillmereAudioProcessorEditor::resized()
{
    scribbleStrip->setBounds (210, 555, 160, 30);
    channelBox->setBounds (255, 240, 70, 60);
    modelBox.setBounds (200, 330, 180, 30);
    inputSelector.setBounds (200, 405, 180, 30);
    outputSelector.setBounds (200, 480, 180, 30);
    muteButton.setBounds (45, 15, 90, 90);
    levelSlider.setBounds (30, 140, 120, 455);
}

//==============================================================================
void QuillmereAudioProcessorEditor::updateScribbleStrip()
{
    shownChannelNameChange = quillmereProcessor.channelNameChanges.load();

    if (quillmereProcessor.deviceShowsChannelNames())
    {
        scribbleStrip->setEditable (false, true, false);
        scribbleStrip->setText (quillmereProcessor.getChannelName(), juce::dontSendNotification);

        // A name that follows the track is drawn in blue ink, one the user typed in black.
        if (quillmereProcessor.isChannelNameFollowingTrack())
        {
            scribbleStrip->setColour (juce::Label::textColourId, juce::Colour (followedNameColour));
            scribbleStrip->setTooltip ("Follows the track's name when the host reports it. Double-click to type a name of your own; clear it to follow the track again.");
        }
        else
        {
            scribbleStrip->removeColour (juce::Label::textColourId);
            scribbleStrip->setTooltip ("A name typed here, kept whatever the track is called. Clear it to follow the track's name again.");
        }
    }
    else
    {
        scribbleStrip->setEditable (false, false, false);
        scribbleStrip->setText ("Channel " + juce::String (quillmereProcessor.channel.load()), juce::dontSendNotification);
        scribbleStrip->removeColour (juce::Label::textColourId);
        scribbleStrip->setTooltip ("This console has no scribble strips: the track's name is kept with the project.");
    }

    // An editable label would take the focus; its text editor takes it while it is shown.
    keepFromKeyboardFocus (*scribbleStrip);
}

void QuillmereAudioProcessorEditor::showPorts()
{
    const auto state = quillmereProcessor.getPortState();
    shownPortStateChange = quillmereProcessor.portStateChanges.load();

    for (auto* selector : getPortSelectors())
        selector->showPort (state);
}

void QuillmereAudioProcessorEditor::followPortChanges()
{
    // The watcher's lists, so that the message thread never waits for the system's. Each new
    // round's lists are compared with those shown, not with the round before: the window may
    // have listed a port that came and went between two rounds.
    const auto listing = PortWatcher::getListingCount();
    const auto portStateChanged = quillmereProcessor.portStateChanges.load() != shownPortStateChange;

    if (listing == shownPortListing && ! portStateChanged)
        return;

    // Not under an open list: its items would change under the pointer. The next tick tries
    // again.
    for (auto* selector : getPortSelectors())
        if (selector->isListOpen())
            return;

    if (listing != shownPortListing)
    {
        shownPortListing = listing;
        auto listsChanged = false;

        for (auto* selector : getPortSelectors())
            listsChanged = selector->takeWatchersList() || listsChanged;

        if (! listsChanged && ! portStateChanged)
            return;
    }

    showPorts();
}

void QuillmereAudioProcessorEditor::followChannelName()
{
    // Not while the user types a name: the edit decides.
    if (quillmereProcessor.channelNameChanges.load() != shownChannelNameChange && ! scribbleStrip->isBeingEdited())
        updateScribbleStrip();
}

juce::String QuillmereAudioProcessorEditor::getChannelItemText (int channel, const std::vector<ConsoleStripRegistry::Strip>& stripsOfOthers)
{
    juce::StringArray holders;

    for (const auto& strip : stripsOfOthers)
        if (strip.channel == channel)
            holders.add (strip.name.isNotEmpty() ? strip.name : "(no name)");

    return holders.isEmpty() ? juce::String (channel) : juce::String (channel) + "  " + holders.joinIntoString (", ");
}

void QuillmereAudioProcessorEditor::showStripsOfOthers()
{
    const auto change = ConsoleStripRegistry::getChangeCount();
    const auto stripsOfOthers = quillmereProcessor.stripRegistration.getStripsOfOthers();

    // The list keeps its items and IDs; only their texts name the strips that others hold.
    for (juce::PopupMenu::MenuItemIterator it (channelBox->menu); it.next();)
        if (auto& item = it.getItem(); item.itemID > 0)
            item.text = getChannelItemText (item.itemID, stripsOfOthers);

    const auto channel = quillmereProcessor.channel.load();
    juce::StringArray sharers;

    for (const auto& strip : stripsOfOthers)
        if (strip.channel == channel)
            sharers.add (strip.name.isNotEmpty() ? strip.name : "a track with no name");

    // A new colour gives the box a new text label, which would end a number being typed: the
    // next tick tries again.
    const auto shared = ! sharers.isEmpty();

    if (shared != channelBox->isColourSpecified (juce::ComboBox::textColourId))
    {
        if (channelBox->isBeingEdited())
            return;

        if (shared)
            channelBox->setColour (juce::ComboBox::textColourId, juce::Colour (sharedStripColour));
        else
            channelBox->removeColour (juce::ComboBox::textColourId);
    }

    channelBox->setTooltip (shared ? "Strip " + juce::String (channel) + " is also held by " + sharers.joinIntoString (", ")
                                         + " on this console: both tracks drive its fader."
                                   : juce::String ("The console's strip this track drives. The list names the strips other tracks on this console hold."));
    shownStripsChange = change;
}

void QuillmereAudioProcessorEditor::rebuildChannelList()
{
    if (channelBox->getNumItems() > 0)
        channelBox->clear (juce::sendNotificationAsync);

    channelBox->menu.clear();

    const auto numChannels = quillmereProcessor.getNumChannels();

    for (int j = 1; j <= numChannels; ++j)
    {
        channelBox->menu.addItem (j, juce::String (j), true, false);
        channelBox->addItem (juce::String (j), j);
    }

    showStripsOfOthers();
}

//==============================================================================
void QuillmereAudioProcessorEditor::timerCallback()
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    followPortChanges();
    followChannelName();

    if (ConsoleStripRegistry::getChangeCount() != shownStripsChange)
        showStripsOfOthers();

    // Mirrors the parameters without notification, so nothing echoes back to the host.
    faderAttachment.showParameterValue();
    cutAttachment.showParameterValue();
}

void QuillmereAudioProcessorEditor::comboBoxChanged (juce::ComboBox* box)
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    if (box == &modelBox)
    {
        quillmereProcessor.setDevice (modelBox.getText());
        updateScribbleStrip();
        rebuildChannelList();
        channelBox->maxValue = quillmereProcessor.getNumChannels();

        // The typed channel is kept, even beyond the new model's channel count.
        quillmereProcessor.setChannel (leadingNumberOf (channelBox->getText()));
        showStripsOfOthers();

        for (auto* selector : getPortSelectors())
            selector->enableIfAnyListed();

        channelBox->setEnabled (true);
    }
    else if (box == channelBox.get())
    {
        const auto channel = leadingNumberOf (channelBox->getText());
        quillmereProcessor.setChannel (channel);
        channelBox->setSelectedId (channel, juce::dontSendNotification);
        showStripsOfOthers();

        if (! quillmereProcessor.deviceShowsChannelNames())
            scribbleStrip->setText ("Channel " + juce::String (channel), juce::dontSendNotification);

        quillmereProcessor.sendAllToDevice();
    }

    if (juce::Component::getCurrentlyFocusedComponent() != nullptr)
        juce::Component::unfocusAllComponents();
}

void QuillmereAudioProcessorEditor::labelTextChanged (juce::Label* label)
{
    jassert (juce::MessageManager::existsAndIsCurrentThread());

    // An empty name shows the track's name at once, in the ink of a name that follows it.
    if (label == scribbleStrip.get())
    {
        quillmereProcessor.setChannelName (label->getText());
        updateScribbleStrip();
    }
}
