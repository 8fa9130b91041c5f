#include "ComboBoxWithMenuOptions.h"

ComboBoxWithMenuOptions::ComboBoxWithMenuOptions()
{
    // The box has no parent and no look-and-feel of its own yet, so this is the framework's
    // default, and the menu keeps it when the owner gives the box another one.
    menu.setLookAndFeel (&getLookAndFeel());
}

void ComboBoxWithMenuOptions::showPopup()
{
    menu.showMenuAsync (getMenuOptions(), [safeThis = juce::Component::SafePointer<ComboBoxWithMenuOptions> (this)] (int result)
                        {
        if (safeThis != nullptr)
            safeThis->menuClosed (result); });
}

juce::PopupMenu::Options ComboBoxWithMenuOptions::getMenuOptions()
{
    return juce::PopupMenu::Options()
        .withTargetComponent (this)
        .withItemThatMustBeVisible (getSelectedId())
        .withMinimumWidth (getWidth())
        .withMaximumNumColumns (1)
        .withStandardItemHeight ((int) menuItemHeight);
}

void ComboBoxWithMenuOptions::menuClosed (int result)
{
    hidePopup();

    if (result != 0)
        setSelectedId (result, juce::sendNotificationAsync);
}
