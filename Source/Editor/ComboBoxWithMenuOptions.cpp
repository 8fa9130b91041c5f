#include "ComboBoxWithMenuOptions.h"

void ComboBoxWithMenuOptions::showPopup()
{
    getMenuToShow().showMenuAsync (getMenuOptions(), [safeThis = juce::Component::SafePointer<ComboBoxWithMenuOptions> (this)] (int result)
                                   {
        if (safeThis != nullptr)
            safeThis->menuClosed (result); });
}

juce::PopupMenu ComboBoxWithMenuOptions::getMenuToShow()
{
    // Looks like the framework's own list of a combo box: drawn by the box's look-and-feel
    // (the one it has now, not the default it had when the menu was made) and with the
    // selected item ticked. The owner's menu stays as it was filled.
    auto shown = menu;
    shown.setLookAndFeel (&getLookAndFeel());
    const auto selectedId = getSelectedId();

    for (juce::PopupMenu::MenuItemIterator it (shown, true); it.next();)
        if (auto& item = it.getItem(); item.itemID != 0)
            item.isTicked = item.itemID == selectedId;

    return shown;
}

juce::PopupMenu::Options ComboBoxWithMenuOptions::getMenuOptions()
{
    return juce::PopupMenu::Options()
        .withTargetComponent (this)
        .withItemThatMustBeVisible (getSelectedId())
        .withInitiallySelectedItem (getSelectedId())
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
