#pragma once

#include <juce_core/juce_core.h>

#include <sys/types.h>

/** The console process (QuillmereTestConsole) run by a test: started with the arguments given,
    played and read through its standard streams, and always ended, also when the test fails.
    It runs on the sequencer that the test program runs under (QuillmereSequencerRouter).
    Every wait has a bound. Test thread only.
*/
class ConsoleProcess final
{
public:
    ConsoleProcess() = default;
    ~ConsoleProcess();

    /** Starts the console and waits for it to report its port; false (with the reason in
        getError) if it does not within five seconds.
    */
    bool start (const juce::StringArray& arguments = {});

    /** Runs one command and returns the lines it answered before its closing "ok"; sets the
        error (and returns what came) when it answers with an error or not within ten seconds.
    */
    juce::StringArray run (const juce::String& command);

    /** The events the console has received so far, as "HH HH ..." byte lists, one per event. */
    juce::StringArray getEvents();

    /** Ends the process at once, as a console switched off or unplugged vanishes. */
    void kill();

    /** Asks the process to quit and waits for it; kills it if it does not quit in time. */
    void stop();

    bool isRunning() const { return pid > 0; }
    const juce::String& getError() const { return error; }

private:
    bool readLine (juce::String& line, int timeoutMs);
    void reap (int timeoutMs);

    pid_t pid = -1;
    int toConsole = -1, fromConsole = -1;
    std::string pending;
    juce::String error;

    JUCE_DECLARE_NON_COPYABLE (ConsoleProcess)
};
