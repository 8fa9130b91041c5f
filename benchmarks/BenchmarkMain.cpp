#include <benchmark/benchmark.h>
#include <juce_gui_basics/juce_gui_basics.h>

// The benchmarks run on the message thread of one JUCE environment, without a display, so that
// timers tick and editors can be made as in the tests.
int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI juce;

    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
