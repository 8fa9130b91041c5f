#pragma once

#include "../Ports/PortDirection.h"
#include "../QuillmereAudioProcessor.h"

#include <juce_gui_basics/juce_gui_basics.h>

/** The window's selector of the instance's MIDI port in one direction: a list of the system's
    ports that lead that way, showing the port that is open, or else the one the instance waits
    for, and opening the port the user chooses.

    Ports are opened by name and only while the system lists them; the processor checks the
    port that opens against the name. The list shows the names last listed (listPorts) or taken
    from the port watcher (takeWatchersList), so that showing it never waits for the system.

    The box fills the selector, which adds nothing to what is drawn, clicked or announced to
    accessibility clients, and neither takes the keyboard focus: the keys a user presses go on
    to the host. Message thread only.
*/
class PortSelector final : public juce::Component
    , public juce::ComboBox::Listener
{
public:
    /** warningColour is the ink of an open output that another program writes to as well. */
    PortSelector (QuillmereAudioProcessor& processor, PortDirection direction, juce::Colour warningColour);
    ~PortSelector() override;

    /** The item that shows a wanted port the system does not list; it cannot be chosen. */
    static constexpr int waitingPortItemId = 10000;

    PortDirection getDirection() const noexcept { return direction; }

    /** The list the user chooses from. */
    juce::ComboBox& getComboBox() noexcept { return box; }

    /** Lists the system's ports in this direction now, to be shown by showPort. */
    void listPorts();

    /** Takes the port watcher's last list in this direction, to be shown by showPort; false
        when it names the ports the selector has already.
    */
    bool takeWatchersList();

    /** Opens the model's default port in this direction when the instance has none open or
        wanted and the system lists it now. With two ports of that name, the last one that
        opens stays open.
    */
    void openDefaultPort();

    /** Fills the list with the names last taken, and shows this direction's port of the state:
        the open port, or else the wanted one, drawn as a choice that cannot be made while it
        is absent or refuses to open.
    */
    void showPort (const QuillmereAudioProcessor::PortState& state);

    /** Lets the user choose once the list has any item, the waited-for port's included. */
    void enableIfAnyListed();

    /** True while the box's list is open. */
    bool isListOpen() const { return box.isPopupActive(); }

    /** The box's change: opens the chosen port by name, if the system lists it now, in case
        the ports changed since the list was filled.
    */
    void comboBoxChanged (juce::ComboBox* changed) override;

    void resized() override;

private:
    std::unique_ptr<juce::AccessibilityHandler> createAccessibilityHandler() override;

    void openIfListed (const juce::String& name);

    QuillmereAudioProcessor& processor;
    const PortDirection direction;
    const juce::Colour warningColour;
    juce::ComboBox box;

    // The port names the list shows.
    juce::StringArray names;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PortSelector)
};
