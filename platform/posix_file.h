// Files that are replaced whole: the settings file and the autostart entries. A crash or a
// full disk leaves the old file or the new one, never a part.
#pragma once

#include <string>
#include <sys/types.h>

// Writes content to a temporary file made from temporaryTemplate (ending in "XXXXXX", in the
// target's folder), with the given mode, flushes it to the disk and renames it over target,
// then flushes the folder. Returns 0, or the errno of the step that failed (the temporary
// file is then gone and target untouched).
int replaceFileWhole(const std::string &target, std::string temporaryTemplate, const std::string &content,
                     mode_t mode);
