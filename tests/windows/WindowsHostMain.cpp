#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

// The test host's entry point. Its output is read on Linux (CTest lists its tests from it), so
// it writes plain line feeds, not the C runtime's carriage-return pairs.
int main (int argc, char** argv)
{
    _setmode (_fileno (stdout), _O_BINARY);
    _setmode (_fileno (stderr), _O_BINARY);

    testing::InitGoogleTest (&argc, argv);
    const auto result = RUN_ALL_TESTS();

    // Tells the wrapper that runs the program (tests/windows/wine-run-with-console) that the
    // tests ran to the end, and with what result, in case wine fails as the process ends.
    if (const auto* path = getenv ("QUILLMERE_WINDOWS_HOST_RESULT"))
        if (auto* file = fopen (path, "w"))
        {
            fprintf (file, "%d\n", result);
            fclose (file);
        }

    return result;
}
