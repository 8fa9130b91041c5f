#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

// The test host's entry point. Its output is read on Linux (CTest lists its tests from it), so
// it writes plain line feeds, not the C runtime's carriage-return pairs.
int main (int argc, char** argv)
{
    _setmode (_fileno (stdout), _O_BINARY);
    _setmode (_fileno (stderr), _O_BINARY);

    testing::InitGoogleTest (&argc, argv);
    return RUN_ALL_TESTS();
}
