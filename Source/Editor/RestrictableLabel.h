#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

/** A label whose in-place text editor accepts at most maxTextLength characters, all from
    allowedCharacters. The editor's scribble strip, where the console shows at most a few
    characters of a fixed set.
*/
class RestrictableLabel final : public juce::Label
{
public:
    RestrictableLabel();

    int maxTextLength = 8;
    juce::String allowedCharacters;

    /** The label's text editor, restricted to the length and the characters above, with its
        text placed where the label draws it.
    */
    juce::TextEditor* createEditorComponent() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RestrictableLabel)
};
