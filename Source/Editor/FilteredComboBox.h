#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A combo box with typed text that admits only digits keeping the number within maxValue,
    at most two of them.
*/
class FilteredComboBox : public juce::ComboBox
    , public juce::TextEditor::Listener
    , private juce::Label::Listener
{
public:
    FilteredComboBox();
    ~FilteredComboBox() override;

    /** The largest number that may be typed; the owner sets the console's channel count. */
    int maxValue = 999;

    /** Whether a number is being typed into the box now. */
    bool isBeingEdited() const;

    void editorShown (juce::Label* label, juce::TextEditor& editor) override;
    void textEditorTextChanged (juce::TextEditor& editor) override;
    void lookAndFeelChanged() override;

private:
    void labelTextChanged (juce::Label*) override {}
    void updateInputRestrictions (juce::TextEditor& editor);

    // The box's own text label, which the look-and-feel creates and may replace.
    juce::Component::SafePointer<juce::Label> textLabel;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (FilteredComboBox)
};
