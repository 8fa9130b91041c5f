#include "ChannelNumberComboLookAndFeel.h"
#include "EmbeddedImages.h"

#include "EmbeddedTypefaces.h"

#include <BinaryData.h>

ChannelNumberComboLookAndFeel::ChannelNumberComboLookAndFeel()
    : smallFrameImage (EmbeddedImages::get (BinaryData::frame_small_png, BinaryData::frame_small_pngSize))
    , channelTypeface (EmbeddedTypefaces::getInstance()->channelTypeface)
{
}

ChannelNumberComboLookAndFeel::~ChannelNumberComboLookAndFeel() = default;

void ChannelNumberComboLookAndFeel::drawComboBox (juce::Graphics& g, int, int, bool, int, int, int, int, juce::ComboBox& box)
{
    if (shouldDrawFrame (box))
        g.drawImage (smallFrameImage, 0, 0, 70, 60, 0, 0, smallFrameImage.getWidth(), smallFrameImage.getHeight());
}

juce::Font ChannelNumberComboLookAndFeel::getComboBoxFont (juce::ComboBox&)
{
    return fontOf (channelTypeface, 44.0f);
}

void ChannelNumberComboLookAndFeel::positionComboBoxText (juce::ComboBox& box, juce::Label& label)
{
    VelmoraLookAndFeel::positionComboBoxText (box, label);

    // The large number sits a little lower in the square frame.
    label.setBounds (1, 5, box.getWidth() - 2, box.getHeight() - 2);
}
