#pragma once

// The command line without the program's name: a quoted name ends at the next double quote
// (without one, the whole line is the tail), an unquoted one at the first blank; the blanks
// after the name go. A pointer into the line itself. Both builds' entries take their tail
// from GetCommandLineA by this rule.
char *commandLineTail(char *commandLine);
