#include "RestrictableLabel.h"

RestrictableLabel::RestrictableLabel()
    : juce::Label ({}, {})
{
}

juce::TextEditor* RestrictableLabel::createEditorComponent()
{
    auto* textEditor = juce::Label::createEditorComponent();
    textEditor->setInputRestrictions (maxTextLength, allowedCharacters);
    return textEditor;
}
