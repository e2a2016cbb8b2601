// What the fuzz targets share: a scratch folder on a memory file system (the layer flushes
// every file it replaces), files written and removed there, and a loud failure that libFuzzer
// records as a crash with its input.
#pragma once

#include "platform/posix_file.h" // makeFolders, the layer's own

#include <string>
#include <string_view>
#include <vector>

// Made once per process (/dev/shm, else $TMPDIR or /tmp) and removed when the process exits.
const std::string &scratchFolder();

// Writes the file whole; false when it cannot.
bool writeFile(const std::string &path, std::string_view bytes);
// The file's bytes; empty when it cannot be read.
std::string readFile(const std::string &path);
// Removes everything inside the folder, leaving the folder.
void emptyFolder(const std::string &path);

// The parts of text between separators (one part more than there are separators).
std::vector<std::string> split(std::string_view text, char separator);

// Reports a broken property and aborts.
[[noreturn, gnu::format(printf, 1, 2)]] void fuzzFailure(const char *format, ...);

// Bytes as a C string literal would spell them, for failure reports.
std::string printable(std::string_view bytes);
