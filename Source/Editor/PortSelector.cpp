#include "PortSelector.h"

namespace
{
    /** What the processor's port state says of the port in one direction. */
    struct DirectionState
    {
        bool open = false;
        juce::String openName, wantedName;
        bool heldByAnotherProgram = false;
        bool writtenByOthers = false; // only an output is written to by others
    };

    DirectionState stateOf (const QuillmereAudioProcessor::PortState& state, PortDirection direction)
    {
        if (direction == PortDirection::input)
            return { state.inputOpen, state.inName, state.wantedInName, state.inputHeldByAnotherProgram, false };

        return { state.outputOpen, state.outName, state.wantedOutName, state.outputHeldByAnotherProgram, state.outputWrittenByOthers };
    }

    /** The text of a list with ports and nothing chosen. */
    const char* promptFor (PortDirection direction)
    {
        return direction == PortDirection::input ? "Select Input" : "Select Output";
    }
}

//==============================================================================
PortSelector::PortSelector (QuillmereAudioProcessor& owner, PortDirection portDirection, juce::Colour warning)
    : processor (owner)
    , direction (portDirection)
    , warningColour (warning)
{
    // The box takes the pointer; neither it nor the selector takes the keyboard focus.
    setInterceptsMouseClicks (false, true);
    setWantsKeyboardFocus (false);
    setMouseClickGrabsKeyboardFocus (false);

    addAndMakeVisible (box);
    box.setEditableText (false);
    box.setWantsKeyboardFocus (false);
    box.setMouseClickGrabsKeyboardFocus (false);
    box.setJustificationType (juce::Justification::centred);
    box.setTextWhenNothingSelected (promptFor (direction));
    box.setTextWhenNoChoicesAvailable (direction == PortDirection::input ? "No MIDI Input Device" : "No MIDI Output Device");
    box.addListener (this);

    // The window lets the user choose a port once a model is chosen.
    box.setEnabled (false);
}

PortSelector::~PortSelector()
{
    box.removeListener (this);
}

void PortSelector::resized()
{
    box.setBounds (getLocalBounds());
}

std::unique_ptr<juce::AccessibilityHandler> PortSelector::createAccessibilityHandler()
{
    // Accessibility clients find the box where the window holds it, as if it stood alone.
    return createIgnoredAccessibilityHandler (*this);
}

//==============================================================================
void PortSelector::listPorts()
{
    names = MidiPortSystem::getNames (direction);
}

bool PortSelector::takeWatchersList()
{
    auto listed = PortWatcher::getLastNames (direction);

    if (listed == names)
        return false;

    names = std::move (listed);
    return true;
}

void PortSelector::openIfListed (const juce::String& name)
{
    if (! MidiPortSystem::isListed (direction, name))
        return;

    if (direction == PortDirection::input)
        processor.setMidiInputByName (name);
    else
        processor.setMidiOutputByName (name);
}

void PortSelector::openDefaultPort()
{
    const auto port = stateOf (processor.getPortState(), direction);

    if (port.open || port.wantedName.isNotEmpty())
        return;

    const auto channel = processor.channel.load();
    const auto defaultName = direction == PortDirection::input ? processor.getDefaultMidiInputName (channel)
                                                               : processor.getDefaultMidiOutputName (channel);

    if (defaultName.isNotEmpty())
        openIfListed (defaultName);
}

void PortSelector::enableIfAnyListed()
{
    box.setEnabled (box.getNumItems() > 0);
}

void PortSelector::comboBoxChanged (juce::ComboBox*)
{
    // Opened by name, which the processor checks against the port that opens, in case the
    // system's ports changed since the list was shown.
    openIfListed (box.getText());

    // As after any choice in the window: the keys go on to the host.
    if (juce::Component::getCurrentlyFocusedComponent() != nullptr)
        juce::Component::unfocusAllComponents();
}

void PortSelector::showPort (const QuillmereAudioProcessor::PortState& state)
{
    box.clear (juce::dontSendNotification);

    for (int i = 0; i < names.size(); ++i)
        box.addItem (names[i], i + 1);

    box.setTextWhenNothingSelected (names.isEmpty() ? "None available" : promptFor (direction));

    // The open port, or else the one the instance waits for: absent, or refusing to open.
    const auto port = stateOf (state, direction);
    const auto& shownName = port.open ? port.openName : port.wantedName;
    auto waiting = false;

    // A listed port that refused to open because another program holds it (Windows gives a MIDI
    // port to one program at a time) says so in its place.
    const auto heldElsewhere = ! port.open && shownName.isNotEmpty() && names.contains (shownName) && port.heldByAnotherProgram;

    if (shownName.isNotEmpty())
    {
        const auto index = names.indexOf (shownName);
        waiting = ! port.open;

        if (index >= 0 && ! heldElsewhere)
        {
            box.setSelectedId (index + 1, juce::dontSendNotification);
        }
        else
        {
            box.addItem (heldElsewhere ? shownName + " (in use by another program)" : shownName, waitingPortItemId);
            box.setItemEnabled (waitingPortItemId, false);
            box.setSelectedId (waitingPortItemId, juce::dontSendNotification);
        }
    }

    // A waited-for port is drawn as the lists draw a choice that cannot be made.
    if (waiting)
        box.setColour (juce::ComboBox::textColourId, getLookAndFeel().findColour (juce::ComboBox::textColourId).withMultipliedAlpha (0.3f));
    else
        box.removeColour (juce::ComboBox::textColourId);

    juce::String tooltip;

    if (heldElsewhere)
        tooltip = "Another program has this port open, and the system lets one program at a time use it. Quillmere opens it once the other program lets it go.";

    // An output that another program writes to as well: its messages can fall between a strip's
    // zone select and its switch, so that a key lands on another strip.
    if (port.open && port.writtenByOthers)
    {
        tooltip = "Another program also writes to this port: its messages can come between Quillmere's, and the console's CUT keys may then act on the wrong strip. Give each program a port of its own.";
        box.setColour (juce::ComboBox::textColourId, warningColour);
    }

    box.setTooltip (tooltip);
}
