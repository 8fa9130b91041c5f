#include "ConsoleProcess.h"

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

ConsoleProcess::~ConsoleProcess()
{
    stop();
}

bool ConsoleProcess::start (const juce::StringArray& arguments)
{
    stop();
    error = {};

    // A console that vanished must not take the test program with it when written to.
    std::signal (SIGPIPE, SIG_IGN);

    int input[2], output[2];

    if (::pipe2 (input, O_CLOEXEC) != 0 || ::pipe2 (output, O_CLOEXEC) != 0)
    {
        error = "no pipes";
        return false;
    }

    std::vector<std::string> words { QUILLMERE_TEST_CONSOLE };

    for (const auto& argument : arguments)
        words.push_back (argument.toStdString());

    std::vector<char*> argv;

    for (auto& word : words)
        argv.push_back (word.data());

    argv.push_back (nullptr);

    // Spawned, not forked: the test programs run threads of their own (JUCE's, the port
    // watcher's), and a forked copy of a multithreaded program may hang on a lock held at the
    // fork. The console sets its own parent-death signal, so it never outlives the test program.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init (&actions);
    ::posix_spawn_file_actions_adddup2 (&actions, input[0], STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2 (&actions, output[1], STDOUT_FILENO);
    const auto spawned = ::posix_spawn (&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy (&actions);

    if (spawned != 0)
    {
        pid = -1;

        for (const auto fd : { input[0], input[1], output[0], output[1] })
            ::close (fd);

        error = "cannot start the console: " + juce::String (std::strerror (spawned));
        return false;
    }

    ::close (input[0]);
    ::close (output[1]);
    toConsole = input[1];
    fromConsole = output[0];
    pending.clear();

    juce::String line;

    while (readLine (line, 5000))
        if (line.startsWith ("ready ") || line.startsWith ("error "))
            break;

    if (! line.startsWith ("ready "))
    {
        error = line.isNotEmpty() ? line : juce::String ("the console did not report its port");
        kill();
        return false;
    }

    return true;
}

juce::StringArray ConsoleProcess::run (const juce::String& command)
{
    juce::StringArray lines;

    if (pid <= 0)
    {
        error = "the console is not running";
        return lines;
    }

    const auto text = (command + "\n").toStdString();

    if (::write (toConsole, text.data(), text.size()) != (ssize_t) text.size())
    {
        error = "the console does not listen";
        return lines;
    }

    juce::String line;

    while (readLine (line, 10000))
    {
        if (line == "ok")
            return lines;

        if (line.startsWith ("error "))
        {
            error = command + ": " + line;
            return lines;
        }

        lines.add (line);
    }

    error = command + ": no answer within ten seconds";
    return lines;
}

juce::StringArray ConsoleProcess::getEvents()
{
    juce::StringArray events;

    for (const auto& line : run ("events"))
        if (line.startsWith ("event "))
            events.add (line.fromFirstOccurrenceOf ("event ", false, false));

    return events;
}

bool ConsoleProcess::readLine (juce::String& line, int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    for (;;)
    {
        const auto newline = pending.find ('\n');

        if (newline != std::string::npos)
        {
            line = juce::String (pending.substr (0, newline));
            pending.erase (0, newline + 1);
            return true;
        }

        const auto now = juce::Time::getMillisecondCounter();

        if (now >= deadline || fromConsole < 0)
            return false;

        pollfd fd { fromConsole, POLLIN, 0 };

        if (::poll (&fd, 1, (int) (deadline - now)) <= 0)
            continue;

        char buffer[4096];
        const auto received = ::read (fromConsole, buffer, sizeof (buffer));

        if (received <= 0)
            return false;

        pending.append (buffer, (size_t) received);
    }
}

void ConsoleProcess::reap (int timeoutMs)
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (pid > 0)
    {
        if (::waitpid (pid, nullptr, WNOHANG) == pid)
            break;

        if (juce::Time::getMillisecondCounter() > deadline)
        {
            ::kill (pid, SIGKILL);
            ::waitpid (pid, nullptr, 0);
            break;
        }

        juce::Thread::sleep (5);
    }

    pid = -1;

    for (auto* fd : { &toConsole, &fromConsole })
    {
        if (*fd >= 0)
            ::close (*fd);

        *fd = -1;
    }
}

void ConsoleProcess::kill()
{
    if (pid > 0)
        ::kill (pid, SIGKILL);

    reap (5000);
}

void ConsoleProcess::stop()
{
    if (pid <= 0)
        return;

    const std::string quit ("quit\n");
    [[maybe_unused]] const auto written = ::write (toConsole, quit.data(), quit.size());
    reap (5000);
}
