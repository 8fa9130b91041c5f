#pragma once

#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace testing_helpers
{
    /** Makes a JUCE assertion fail the test that trips it.

        A debug build of JUCE, with JUCE_LOG_ASSERTIONS set, reports each failed assertion as a
        "JUCE Assertion failure in <file>:<line>" message to the current logger. This logger
        passes every message on to the standard error stream, with the stack of an assertion,
        and adds a failure to the test
        that is running when an assertion arrives, from whichever thread it comes. An assertion
        tripped outside any test (while JUCE starts or shuts down) makes the program fail, and
        one tripped after that (JUCE's leak detector as the program exits) ends it at once with
        failure.
    */
    class JuceAssertionTrap final : public juce::Logger
    {
    public:
        /** Makes the trap JUCE's logger; call it once, first thing in main. */
        static void install() { juce::Logger::setCurrentLogger (&get()); }

        /** Returns the program's exit code: the tests' result, or failure if an assertion was
            tripped outside the tests. Call it last thing in main, after JUCE has shut down.
        */
        static int finish (int testsResult)
        {
            auto& trap = get();
            trap.finished = true;

            if (trap.trippedOutsideTests > 0)
            {
                std::fprintf (stderr, "%d JUCE assertion(s) failed outside the tests\n", trap.trippedOutsideTests.load());
                return 1;
            }

            return testsResult;
        }

        void logMessage (const juce::String& message) override
        {
            std::fprintf (stderr, "%s\n", message.toRawUTF8());
            std::fflush (stderr);

            if (! message.startsWith ("JUCE Assertion failure"))
                return;

            // Where it was tripped, for the developer who reads the failure.
            std::fputs (juce::SystemStats::getStackBacktrace().toRawUTF8(), stderr);
            std::fflush (stderr);

            if (finished)
            {
                std::fputs ("a JUCE assertion failed after the tests had ended\n", stderr);
                std::_Exit (1);
            }

            if (testing::UnitTest::GetInstance()->current_test_info() != nullptr)
                ADD_FAILURE() << message;
            else
                ++trippedOutsideTests;
        }

    private:
        JuceAssertionTrap() = default;

        // Never destroyed: objects that JUCE counts for leaks may outlive any static here,
        // and their counters report to the logger as the program exits.
        static JuceAssertionTrap& get()
        {
            static auto* trap = new JuceAssertionTrap();
            return *trap;
        }

        std::atomic<int> trippedOutsideTests { 0 };
        std::atomic<bool> finished { false };
    };
}
