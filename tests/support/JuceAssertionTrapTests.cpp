#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <thread>

// The suite relies on seeing JUCE's assertions as failures, from the test's own thread and
// from the threads it starts, as the senders and the MIDI input are.
TEST (JuceAssertionTrap, AnAssertionFailsTheTestThatTripsIt)
{
#if JUCE_DEBUG
    EXPECT_NONFATAL_FAILURE (jassertfalse, "JUCE Assertion failure in JuceAssertionTrapTests.cpp");
    EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS (std::thread ([]
                                                         { jassertfalse; })
                                                .join(),
                                            "JUCE Assertion failure in JuceAssertionTrapTests.cpp");
#else
    GTEST_SKIP() << "release builds report no assertions";
#endif
}
