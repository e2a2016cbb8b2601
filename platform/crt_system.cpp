// The C runtime's system() as the program reaches it on Linux: every executable that links the
// layer is linked with --wrap=system, so calls land here first.
// Supports: any command, handed to the real system() unchanged, except Windows' "diskperf"
// (which switches a Windows machine's disk performance counters on or off). Linux has no such
// program and no such switch: the kernel counts every block device's I/O from boot, and a
// drive without counters here is one without a block device (an overlay or ZFS root), which no
// command can change. The command is therefore not given to a shell, which would print "not
// found" or, worse, run whatever program of that name the PATH holds; it ends as a command
// that does not exist ends, with status 127, and nothing runs.
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <sys/wait.h>

extern "C" int __real_system(const char *command);

extern "C" int __wrap_system(const char *command)
{
    if (command) {
        const char *word = command + std::strspn(command, " \t");
        size_t length = std::strcspn(word, " \t");
        if (length == 8 && strncasecmp(word, "diskperf", 8) == 0)
            return W_EXITCODE(127, 0);
    }
    return __real_system(command);
}
