#pragma once

#include <cerrno>

/** Reports what the test sequencer refuses to pretend: a call it does not implement, or a use
    of the library that the real one would get wrong. The line goes to the standard error
    stream and, while a router's folder is set, to that folder's fault log, where the tests
    look for it, so that a new caller or a misuse shows up at once.
*/
namespace test_sequencer
{
    void reportFault (const char* format, ...) __attribute__ ((format (printf, 1, 2)));

    /** Reports that the named function is not implemented; returns -ENOSYS for its caller. */
    int notImplemented (const char* function);
}
