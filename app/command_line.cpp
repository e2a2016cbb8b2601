#include "app/command_line.h"

#include <cstring>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

char *commandLineTail(char *commandLine)
{
    char *p = commandLine;
    if (*p == '"') {
        char *close = std::strchr(p + 1, '"');
        if (!close)
            return commandLine;
        p = close + 1;
    } else {
        while (*p && !isBlank(*p))
            ++p;
    }
    while (isBlank(*p))
        ++p;
    return p;
}
