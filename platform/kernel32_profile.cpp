// KERNEL32 private profile (INI) files: GetPrivateProfileStringA, WritePrivateProfileStringA.
// Windows' semantics: section and key names match without regard to case and blanks around
// them; a value is read with its surrounding blanks and one pair of matching quotes removed;
// a section NULL lists the section names, a key NULL the keys of a section; the section named
// "" is "[]"; lines before the first section belong to none. Lines end in CR LF, LF or CR.
// A write edits the file's text: a key is replaced in its line, a new key goes after the last
// non-blank line of its section, a new section at the end of the file; comments, blank lines
// and everything else stay as they are; new lines end in CR LF; a value loses its leading
// blanks, as Wine writes it; a write that changes nothing leaves the file alone. A NULL key
// deletes the section, a NULL value the key. Every write reaches the disk whole: a temporary
// file beside the target, fsync, rename (through a symbolic link, keeping the file's mode),
// so a crash or a full disk leaves the old file or the new one, never a torn one; a crash
// can leave the temporary "<name>.XXXXXX" beside it.
// Not supported: relative file names (Windows looks in its own folder), win.ini (a NULL file
// name), the IniFileMapping registry redirection, multibyte code pages, Unicode files.
#include "platform/win32.h"
#include "platform/posix_file.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

enum LineKind { LINE_BLANK, LINE_SECTION, LINE_KEY, LINE_TEXT };

struct IniLine {
    size_t start;          // offset of the line in the file
    size_t end;            // offset of its line break (or of the end of the file)
    size_t next;           // offset after its line break
    LineKind kind;
    std::string_view name; // section name, key name, or the whole text of a line without '='
    std::string_view value;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<IniLine> parse(const std::string &file)
{
    std::vector<IniLine> lines;
    size_t start = 0;
    // A UTF-8 byte order mark is not part of the first line.
    if (file.compare(0, 3, "\xEF\xBB\xBF") == 0)
        start = 3;
    while (start < file.size()) {
        size_t end = start;
        while (end < file.size() && file[end] != '\r' && file[end] != '\n')
            ++end;
        size_t next = end;
        if (next < file.size() && file[next] == '\r')
            ++next;
        if (next < file.size() && file[next] == '\n' && (next == end || file[end] == '\r'))
            ++next;
        IniLine line = {start, end, next, LINE_BLANK, {}, {}};
        std::string_view text = trim(std::string_view(file).substr(start, end - start));
        if (text.empty()) {
            line.kind = LINE_BLANK;
        } else if (text.front() == '[') {
            size_t close = text.find(']');
            line.kind = LINE_SECTION;
            line.name = trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        } else if (size_t equals = text.find('='); equals != std::string_view::npos) {
            line.kind = LINE_KEY;
            line.name = trim(text.substr(0, equals));
            line.value = trim(text.substr(equals + 1));
        } else {
            line.kind = LINE_TEXT;
            line.name = text;
        }
        lines.push_back(line);
        start = next;
    }
    return lines;
}

// The header line of the first section with that name, or -1.
long findSection(const std::vector<IniLine> &lines, std::string_view section)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == LINE_SECTION && sameName(lines[i].name, section))
            return long(i);
    return -1;
}

// One past the last line of the section whose header is at index header.
size_t sectionEnd(const std::vector<IniLine> &lines, size_t header)
{
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LINE_SECTION)
        ++i;
    return i;
}

// The key's line in the section, or -1. withoutEquals also finds a bare "name" line.
long findKey(const std::vector<IniLine> &lines, size_t header, std::string_view key, bool withoutEquals)
{
    for (size_t i = header + 1; i < sectionEnd(lines, header); ++i)
        if ((lines[i].kind == LINE_KEY || (withoutEquals && lines[i].kind == LINE_TEXT)) &&
            sameName(lines[i].name, key))
            return long(i);
    return -1;
}

[[maybe_unused]] bool isRelative(const char *path)
{
    return path[0] != '/' && !(path[0] && path[1] == ':');
}

// The whole file; false when there is none (or it cannot be read).
bool readFile(const char *path, std::string &content)
{
    content.clear();
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char chunk[8192];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR))
        if (got > 0)
            content.append(chunk, size_t(got));
    close(fd);
    return got == 0;
}

DWORD errorOf(int error)
{
    switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// Replaces the file with content, or leaves it as it was: the new text goes to a temporary
// file in the same folder, reaches the disk, and takes the old one's place in one rename.
bool replaceFile(const char *path, const std::string &content)
{
    std::string target = path;
    struct stat info;
    bool exists = lstat(path, &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        // Keep the link: write where it points.
        if (char *resolved = realpath(path, nullptr)) {
            target = resolved;
            std::free(resolved);
        }
        exists = stat(target.c_str(), &info) == 0;
    }
    mode_t mode;
    if (exists) {
        mode = info.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    if (int error = replaceFileWhole(target, target + ".XXXXXX", content, mode)) {
        SetLastError(errorOf(error));
        return false;
    }
    return true;
}

// Copies text into a buffer of size characters as Windows does: cut to size - 1 characters,
// always terminated. Returns the number of characters copied.
DWORD copyValue(LPSTR buffer, DWORD size, std::string_view text)
{
    size_t length = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = 0;
    return DWORD(length);
}

// A list of names, each terminated, and one more terminator. When it does not fit, the last
// name is cut so that both terminators fit, and the answer is size - 2.
DWORD copyList(LPSTR buffer, DWORD size, const std::vector<std::string_view> &names)
{
    if (size < 2) {
        buffer[0] = 0;
        return 0;
    }
    size_t used = 0;
    for (std::string_view name : names) {
        // Windows keeps room for both terminators even when the list would just fit.
        if (used + name.size() + 2 >= size) {
            size_t room = size - 2 - used;
            std::memcpy(buffer + used, name.data(), room);
            buffer[size - 2] = 0;
            buffer[size - 1] = 0;
            return size - 2;
        }
        std::memcpy(buffer + used, name.data(), name.size());
        used += name.size();
        buffer[used++] = 0;
    }
    buffer[used] = 0;
    return DWORD(used);
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText, LPSTR returnedString,
                               DWORD size, LPCSTR fileName)
{
    if (!returnedString || size == 0)
        return 0;
    assert((!fileName || !*fileName || !isRelative(fileName)) && "GetPrivateProfileStringA: relative file names");

    std::string file;
    bool exists = fileName && *fileName && readFile(fileName, file);
    std::vector<IniLine> lines = parse(file);

    if (!appName) {
        std::vector<std::string_view> names;
        for (const IniLine &line : lines)
            if (line.kind == LINE_SECTION && !line.name.empty())
                names.push_back(line.name);
        return copyList(returnedString, size, names);
    }
    long header = exists ? findSection(lines, trim(appName)) : -1;
    if (!keyName) {
        std::vector<std::string_view> names;
        if (header >= 0)
            for (size_t i = size_t(header) + 1; i < sectionEnd(lines, size_t(header)); ++i)
                if (lines[i].kind == LINE_KEY)
                    names.push_back(lines[i].name);
        return copyList(returnedString, size, names);
    }
    long key = header >= 0 ? findKey(lines, size_t(header), trim(keyName), false) : -1;
    if (key < 0) {
        // Windows drops the default's trailing blanks.
        std::string_view fallback = defaultText ? defaultText : "";
        while (!fallback.empty() && isBlank(fallback.back()))
            fallback.remove_suffix(1);
        return copyValue(returnedString, size, fallback);
    }
    std::string_view value = lines[size_t(key)].value;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return copyValue(returnedString, size, value);
}

BOOL WritePrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR text, LPCSTR fileName)
{
    if (!appName) {
        // (NULL, NULL, NULL) flushes Windows' cache; there is none here.
        if (!keyName && !text)
            return TRUE;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!fileName || !*fileName) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    assert(!isRelative(fileName) && "WritePrivateProfileStringA: relative file names");

    std::string file;
    readFile(fileName, file);
    std::vector<IniLine> lines = parse(file);
    std::string_view section = trim(appName);
    long header = findSection(lines, section);

    if (!keyName || !text) {
        if (header < 0)
            return TRUE;
        size_t from, to;
        if (!keyName) {
            from = lines[size_t(header)].start;
            size_t end = sectionEnd(lines, size_t(header));
            to = end < lines.size() ? lines[end].start : file.size();
        } else {
            long key = findKey(lines, size_t(header), trim(keyName), true);
            if (key < 0)
                return TRUE;
            from = lines[size_t(key)].start;
            to = lines[size_t(key)].next;
        }
        file.erase(from, to - from);
        return replaceFile(fileName, file);
    }

    std::string_view name = trim(keyName);
    std::string_view value = text;
    while (!value.empty() && isBlank(value.front()))
        value.remove_prefix(1);

    if (header < 0) {
        if (!file.empty() && file.back() != '\n' && file.back() != '\r')
            file += "\r\n";
        file.append("[").append(section).append("]\r\n");
        file.append(name).append("=").append(value).append("\r\n");
        return replaceFile(fileName, file);
    }
    long key = findKey(lines, size_t(header), name, true);
    if (key >= 0) {
        const IniLine &line = lines[size_t(key)];
        if (line.kind == LINE_KEY && line.value == value)
            return TRUE; // nothing changes: the file is left alone
        std::string replacement = std::string(line.name) + "=" + std::string(value);
        file.replace(line.start, line.end - line.start, replacement);
        return replaceFile(fileName, file);
    }
    // After the section's last non-blank line, so blank lines before the next section stay.
    size_t last = size_t(header);
    for (size_t i = last + 1; i < sectionEnd(lines, size_t(header)); ++i)
        if (lines[i].kind != LINE_BLANK)
            last = i;
    size_t at = lines[last].next;
    std::string insertion;
    if (lines[last].next == lines[last].end)
        insertion = "\r\n"; // the line had no line break: the file ended there
    insertion.append(name).append("=").append(value).append("\r\n");
    file.insert(at, insertion);
    return replaceFile(fileName, file);
}
