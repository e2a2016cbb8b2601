// The settings file and the autostart entries: read only when they are regular files, whole
// or not at all, and replaced whole, so that a crash or a full disk leaves the old file or the
// new one, never a part.
#pragma once

#include <string>
#include <sys/types.h>

// Writes content to a temporary file made from temporaryTemplate (ending in "XXXXXX", in the
// target's folder), with the given mode, flushes it to the disk and renames it over target,
// then flushes the folder. Returns 0, or the errno of the step that failed (the temporary
// file is then gone and target untouched).
int replaceFileWhole(const std::string &target, std::string temporaryTemplate, const std::string &content,
                     mode_t mode);

// Reads the regular file at path whole into content, which is left empty on failure. Returns
// 0, or an errno: ENOENT or ENOTDIR when there is nothing at the path, EINVAL for a node that
// is no regular file (a FIFO, device, socket or folder, also behind a link: never opened, so
// nothing blocks), EFBIG for a file longer than limit, or the error of the open or a read.
int readRegularFile(const char *path, std::string &content, size_t limit);

// $XDG_CONFIG_HOME, or ~/.config when the variable is unset or not absolute (the home from
// the password database when $HOME is no absolute path); empty when there is no home at all.
std::string userConfigFolder();

// Makes the folder and those above it that are missing, each for the user alone. Returns
// false, with errno set, when one cannot be made.
bool makeFolders(const std::string &folder);
