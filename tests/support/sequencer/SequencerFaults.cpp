#include "SequencerFaults.h"
#include "SequencerProtocol.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace test_sequencer
{
    void reportFault (const char* format, ...)
    {
        char text[512];
        va_list args;
        va_start (args, format);
        std::vsnprintf (text, sizeof (text), format, args);
        va_end (args);

        const auto line = std::string ("quillmere test sequencer: ") + text + "\n";
        [[maybe_unused]] auto written = ::write (STDERR_FILENO, line.data(), line.size());

        if (const auto* folder = std::getenv (folderVariable))
        {
            const auto path = std::string (folder) + "/" + faultLogName;
            const auto fd = ::open (path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);

            if (fd >= 0)
            {
                written = ::write (fd, line.data(), line.size());
                ::close (fd);
            }
        }
    }

    int notImplemented (const char* function)
    {
        reportFault ("%s() is not implemented: the test sequencer has only what its callers use", function);
        return -ENOSYS;
    }
}
