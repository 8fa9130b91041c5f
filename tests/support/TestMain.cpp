#include <gtest/gtest.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

// One JUCE environment for the whole test program: the message manager, timers and
// components work without a display.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
