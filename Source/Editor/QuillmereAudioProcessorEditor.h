#pragma once

#include "../QuillmereAudioProcessor.h"
#include "ChannelMuteButton.h"
#include "ChannelNumberComboLookAndFeel.h"
#include "ComboBoxWithMenuOptions.h"
#include "CutButtonAttachment.h"
#include "EmbeddedImages.h"
#include "FaderAttachment.h"
#include "LevelFader.h"
#include "PortSelector.h"
#include "RestrictableLabel.h"
#include "ScribbleStripLookAndFeel.h"
#include "VelmoraLookAndFeel.h"

/** The plug-in window, 400 x 617: the fader, the CUT key, the selectors of model, MIDI input,
    MIDI output and channel, and the scribble strip with the channel name.

    A thin view and controller over the processor: it reads the processor's state when it
    opens and writes the user's choices into it at once. An attachment per control turns fader
    drags and CUT presses into parameter changes inside change gestures (FaderAttachment,
    CutButtonAttachment), and a port selector per direction lists and opens the MIDI ports
    (PortSelector). Every 50 ms the window has the attachments show the parameters, so that
    the fader and the key follow host automation and the console, and follows the system's
    ports, the channel name and the strips of other instances. Message thread only, which
    its entry points assert; JUCE's VST2 and VST3 wrappers on Linux may make it on a host's
    thread that holds the message manager's lock instead.
*/
class QuillmereAudioProcessorEditor final : public juce::AudioProcessorEditor
    , public juce::ComboBox::Listener
    , public juce::Label::Listener
    , public juce::Timer
    , public PortWatcher::Listener
{
    // Held from before the controls are made until after they are gone: their images are
    // the process's one decoded copy while any window is open.
    juce::SharedResourcePointer<EmbeddedImages> embeddedImages;

public:
    explicit QuillmereAudioProcessorEditor (QuillmereAudioProcessor& owner);
    ~QuillmereAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    void comboBoxChanged (juce::ComboBox* box) override;
    void labelTextChanged (juce::Label* label) override;
    void editorShown (juce::Label*, juce::TextEditor&) override {}
    void editorHidden (juce::Label*, juce::TextEditor&) override {}
    void timerCallback() override;

    /** The watcher's thread: nothing; the timer reads the lists the watcher keeps. The window
        watches while it is open, so that its port lists follow the system's ports.
    */
    void portsListed (const juce::StringArray&, const juce::StringArray&) override {}

    /** The item that shows a wanted port the system does not list; it cannot be chosen. */
    static constexpr int waitingPortItemId = PortSelector::waitingPortItemId;

    /** The ink of a strip name that follows the track; a name the user typed is black. */
    static constexpr juce::uint32 followedNameColour = 0xff2456b8;

    /** The channel number's colour while another instance on the same console holds the
        same strip; otherwise it is white. Also the ink of an open output port that another
        program writes to as well.
    */
    static constexpr juce::uint32 sharedStripColour = 0xffffa41c;

    /** The text of a channel list entry: the number, and the names of the other instances
        on the same console that hold that strip ("3  Kick").
    */
    static juce::String getChannelItemText (int channel, const std::vector<ConsoleStripRegistry::Strip>& stripsOfOthers);

    QuillmereAudioProcessor& quillmereProcessor;

    /** The processor's level and mute, taken from it once. */
    const StripParameters parameters;

    LevelFader levelSlider;
    ChannelMuteButton muteButton;

    /** The controls' links to the level and the mute, destroyed before the controls, the
        fader's first, so that gestures still open as the window closes end in the parameters'
        order.
    */
    CutButtonAttachment cutAttachment { parameters.mute, muteButton };
    FaderAttachment faderAttachment { parameters.level, levelSlider };

    juce::ComboBox modelBox;

    /** The selectors of the MIDI input and output, and the lists they hold. */
    PortSelector inputSelector { quillmereProcessor, PortDirection::input, juce::Colour (sharedStripColour) };
    PortSelector outputSelector { quillmereProcessor, PortDirection::output, juce::Colour (sharedStripColour) };
    juce::ComboBox& midiInputBox = inputSelector.getComboBox();
    juce::ComboBox& midiOutputBox = outputSelector.getComboBox();

    std::unique_ptr<ComboBoxWithMenuOptions> channelBox;
    std::unique_ptr<RestrictableLabel> scribbleStrip;
    VelmoraLookAndFeel velmoraLookAndFeel;
    ChannelNumberComboLookAndFeel channelNumberLookAndFeel;
    ScribbleStripLookAndFeel scribbleStripLookAndFeel;
    juce::Image background;

    // The watcher's and the processor's counts of changes when the port selectors last
    // showed them.
    int shownPortListing = 0, shownPortStateChange = 0;

    // The processor's count of name changes and the registry's count of strip changes when
    // the strip and the channel list last showed them.
    int shownChannelNameChange = 0, shownStripsChange = 0;

    // Shows the controls' tooltips inside the window.
    juce::TooltipWindow tooltipWindow { this };

private:
    void updateScribbleStrip();
    void followChannelName();
    void showStripsOfOthers();
    void rebuildChannelList();
    void showPorts();
    void followPortChanges();

    /** Both port selectors, the input's first. */
    std::array<PortSelector*, 2> getPortSelectors() noexcept { return { &inputSelector, &outputSelector }; }

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillmereAudioProcessorEditor)
};
