// The command-line tail that WinMain reads (commandLineTail). The first byte chooses:
//   bit 0 clear: the rest is a line of any bytes; the tail must lie inside it and start with
//     no blank (unless a quote never closes, when it is the whole line);
//   bit 0 set: the rest is a program name, a zero byte, then the arguments. The line is made
//     as Windows' start-up makes it (the name quoted when bit 1 is set or when it holds a
//     blank, then (byte 0 >> 3 & 3) blanks, tabs when bit 2 is set), and the tail must be the
//     arguments exactly, less their leading blanks.
#include "app/command_line.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstring>
#include <string>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

void checkAnyLine(std::string line)
{
    const char *tail = commandLineTail(line.data());
    if (tail < line.c_str() || tail > line.c_str() + line.size())
        fuzzFailure("tail outside the line %s", printable(line).c_str());
    if (tail != line.c_str() && isBlank(*tail))
        fuzzFailure("tail %s of %s starts with a blank", printable(tail).c_str(), printable(line).c_str());
    if (tail == line.c_str() && !line.empty() && line[0] != '"')
        fuzzFailure("an unquoted name %s was kept in the tail", printable(line).c_str());
}

void checkMadeLine(unsigned char mode, std::string_view rest)
{
    size_t zero = rest.find('\0');
    if (zero == std::string_view::npos)
        return;
    std::string program(rest.substr(0, zero));
    std::string_view after = rest.substr(zero + 1);
    std::string arguments(after.substr(0, after.find('\0')));
    bool quoted = (mode & 2) || program.find_first_of(" \t") != std::string::npos;
    // A Windows file name holds no quote; an unquoted name ends at a blank.
    if (program.find('"') != std::string::npos || (!quoted && program.empty()))
        return;
    size_t blanks = (mode >> 3) & 3;
    if (!quoted && blanks == 0 && !arguments.empty())
        return;
    std::string line = quoted ? "\"" + program + "\"" : program;
    line.append(blanks, (mode & 4) ? '\t' : ' ');
    line += arguments;

    size_t first = arguments.find_first_not_of(" \t");
    std::string expected = first == std::string::npos ? std::string() : arguments.substr(first);
    const char *tail = commandLineTail(line.data());
    if (tail < line.c_str() || tail > line.c_str() + line.size() || expected != tail)
        fuzzFailure("line %s: tail %s, expected %s", printable(line).c_str(), printable(tail).c_str(),
                    printable(expected).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    if (data[0] & 1)
        checkMadeLine(data[0], rest);
    else
        checkAnyLine(std::string(rest.substr(0, rest.find('\0'))));
    return 0;
}
