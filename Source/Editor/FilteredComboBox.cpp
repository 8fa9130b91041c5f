#include "FilteredComboBox.h"

FilteredComboBox::FilteredComboBox()
    : juce::ComboBox (juce::String())
{
    lookAndFeelChanged();
}

FilteredComboBox::~FilteredComboBox()
{
    if (textLabel != nullptr)
        textLabel->removeListener (this);
}

void FilteredComboBox::lookAndFeelChanged()
{
    juce::ComboBox::lookAndFeelChanged();

    // The box rebuilds its text label here; listen to the new one for its editor.
    if (textLabel != nullptr)
        textLabel->removeListener (this);

    textLabel = nullptr;

    for (auto* child : getChildren())
    {
        if (auto* childLabel = dynamic_cast<juce::Label*> (child))
        {
            textLabel = childLabel;
            childLabel->addListener (this);
            break;
        }
    }
}

bool FilteredComboBox::isBeingEdited() const
{
    return textLabel != nullptr && textLabel->isBeingEdited();
}

void FilteredComboBox::editorShown (juce::Label*, juce::TextEditor& editor)
{
    editor.addListener (this);
    updateInputRestrictions (editor);
}

void FilteredComboBox::textEditorTextChanged (juce::TextEditor& editor)
{
    updateInputRestrictions (editor);
}

void FilteredComboBox::updateInputRestrictions (juce::TextEditor& editor)
{
    // Typing replaces a selection, so a selected text is judged as if it were gone.
    const auto current = editor.getHighlightedRegion().isEmpty() ? editor.getText() : juce::String();

    // A digit is allowed when the number it makes, appended at the end, stays within range.
    juce::String allowed;

    for (char digit = '0'; digit <= '9'; ++digit)
        if ((current + digit).getIntValue() <= maxValue)
            allowed << digit;

    // Never empty: an empty set would admit every character.
    allowed << '\n';

    editor.setInputRestrictions (2, allowed);
}
