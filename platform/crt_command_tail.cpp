// The start-up code's view of the command line (used by crt_main.cpp): the tail that WinMain
// gets. Windows' rule: a program name in double quotes ends at the next double quote (none:
// the whole line is the tail); an unquoted one at the first blank; the blanks after it go.
#include "platform/layer_testing.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

const char *layerCommandTail(const char *line)
{
    const char *p = line;
    if (*p == '"') {
        const char *close = p + 1;
        while (*close && *close != '"')
            ++close;
        if (!*close)
            return line;
        p = close + 1;
    } else {
        while (*p && !isBlank(*p))
            ++p;
    }
    while (isBlank(*p))
        ++p;
    return p;
}
