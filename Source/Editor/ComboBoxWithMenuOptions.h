#pragma once

#include "FilteredComboBox.h"

/** A FilteredComboBox that opens its own menu, with a fixed item height, instead of the one
    the framework builds from its items. The owner keeps the menu and the item list in step.
    The menu is drawn as the framework draws a combo box's list: in the box's look-and-feel,
    the selected item ticked and highlighted.
*/
class ComboBoxWithMenuOptions final : public FilteredComboBox
{
public:
    ComboBoxWithMenuOptions() = default;

    float menuItemHeight = 26.0f;
    juce::PopupMenu menu;

    /** Opens the menu asynchronously; a chosen item is selected in the box and its listeners
        hear of it asynchronously on the message thread.
    */
    void showPopup() override;

    /** The menu as it opens: the owner's menu in the box's look-and-feel, with the item of
        the selected ID ticked.
    */
    juce::PopupMenu getMenuToShow();

    /** The options the menu opens with: under the box, the selected item visible and
        highlighted, at least as wide as the box, in one column, with the standard item height.
    */
    juce::PopupMenu::Options getMenuOptions();

    /** What a closed menu does: the box closes its popup state, and an item chosen (result
        not 0) is selected with an asynchronous notification.
    */
    void menuClosed (int result);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ComboBoxWithMenuOptions)
};
