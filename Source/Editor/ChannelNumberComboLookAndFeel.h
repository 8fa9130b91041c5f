#pragma once

#include "VelmoraLookAndFeel.h"

/** The channel selector's style: the small hover frame and the large channel number face. */
class ChannelNumberComboLookAndFeel final : public VelmoraLookAndFeel
{
public:
    ChannelNumberComboLookAndFeel();
    ~ChannelNumberComboLookAndFeel() override;

    void drawComboBox (juce::Graphics& g, int width, int height, bool isButtonDown, int buttonX, int buttonY, int buttonW, int buttonH, juce::ComboBox& box) override;
    juce::Font getComboBoxFont (juce::ComboBox& box) override;
    void positionComboBoxText (juce::ComboBox& box, juce::Label& label) override;

    juce::Image smallFrameImage;
    juce::Typeface::Ptr channelTypeface; // the process's one, from EmbeddedTypefaces

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ChannelNumberComboLookAndFeel)
};
