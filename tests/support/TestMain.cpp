#include "JuceAssertionTrap.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>
#include <juce_gui_basics/juce_gui_basics.h>

// One JUCE environment for the whole test program: the message manager, timers and
// components work without a display. A JUCE assertion fails the test that trips it; one
// tripped while JUCE starts or shuts down fails the program.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    testing_helpers::JuceAssertionTrap::install();

    int result = 0;

    {
        juce::ScopedJuceInitialiser_GUI juce;
        result = RUN_ALL_TESTS();
    }

    return testing_helpers::JuceAssertionTrap::finish (result);
}
