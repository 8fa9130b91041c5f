#include "RestrictableLabel.h"

RestrictableLabel::RestrictableLabel()
    : juce::Label ({}, {})
{
}

juce::TextEditor* RestrictableLabel::createEditorComponent()
{
    auto* textEditor = juce::Label::createEditorComponent();
    textEditor->setInputRestrictions (maxTextLength, allowedCharacters);

    // Lays the text out where the label draws it, so that it stays in place when editing
    // begins: the label's justification inside the label's border, without the editor's
    // own indents (the editor fills the label).
    textEditor->setJustification (getJustificationType());
    textEditor->setBorder (getBorderSize());
    textEditor->setIndents (0, 0);
    return textEditor;
}
