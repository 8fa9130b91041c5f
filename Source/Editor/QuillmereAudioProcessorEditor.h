#pragma once

#include "../QuillmereAudioProcessor.h"
#include "ChannelMuteButton.h"
#include "ChannelNumberComboLookAndFeel.h"
#include "ComboBoxWithMenuOptions.h"
#include "EmbeddedImages.h"
#include "LevelFader.h"
#include "RestrictableLabel.h"
#include "ScribbleStripLookAndFeel.h"
#include "VelmoraLookAndFeel.h"

/** The plug-in window, 400 x 617: the fader, the CUT key, the selectors of model, MIDI input,
    MIDI output and channel, and the scribble strip with the channel name.

    A thin view and controller over the processor: it reads the processor's state when it
    opens, writes the user's choices into it at once, turns fader drags and CUT presses into
    parameter changes inside change gestures, and polls both parameters every 50 ms so that
    the fader and the key follow host automation and the console. Message thread only.
*/
class QuillmereAudioProcessorEditor final : public juce::AudioProcessorEditor
    , public juce::Slider::Listener
    , public juce::Button::Listener
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

    void sliderValueChanged (juce::Slider* slider) override;
    void sliderDragStarted (juce::Slider* slider) override;
    void sliderDragEnded (juce::Slider* slider) override;
    void buttonClicked (juce::Button* button) override;
    void buttonStateChanged (juce::Button* button) override;
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
    static constexpr int waitingPortItemId = 10000;

    QuillmereAudioProcessor& quillmereProcessor;

    LevelFader levelSlider;
    ChannelMuteButton muteButton;
    juce::ComboBox modelBox, midiInputBox, midiOutputBox;
    std::unique_ptr<ComboBoxWithMenuOptions> channelBox;
    std::unique_ptr<RestrictableLabel> scribbleStrip;
    VelmoraLookAndFeel velmoraLookAndFeel;
    ChannelNumberComboLookAndFeel channelNumberLookAndFeel;
    ScribbleStripLookAndFeel scribbleStripLookAndFeel;
    juce::Image background;
    bool muteKeyWasDown = false;

    // The port names the selectors list, and the watcher's and the processor's counts of
    // changes when they were last shown.
    juce::StringArray inputNames, outputNames;
    int shownPortListChange = 0, shownPortStateChange = 0;

private:
    /** Whether the strip shows the editable channel name: the device shows names on the
        console, or there is no device.
    */
    bool deviceShowsChannelNames() const;

    void updateScribbleStrip();
    void rebuildChannelList();
    void openDefaultPort (bool isInput);
    void showPorts();
    void showPort (juce::ComboBox& box, bool isInput, const QuillmereAudioProcessor::PortState& state);
    void followPortChanges();

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuillmereAudioProcessorEditor)
};
