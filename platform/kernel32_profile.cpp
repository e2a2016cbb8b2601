// KERNEL32 private profile (INI) files: GetPrivateProfileStringA, WritePrivateProfileStringA.
// Windows' semantics: section and key names match without regard to case and blanks around
// them; a value is read with its surrounding blanks and one pair of matching quotes removed;
// a section NULL lists the section names, a key NULL the keys of a section; the section named
// "" is "[]"; lines before the first section belong to none. Lines end in CR LF, LF or CR.
// The first line of a key's name is the key, as Wine reads it: a bare "name" without '=' is a
// key without a value, which reads as missing, hides a later "name=" and is what a write of
// the name replaces or deletes (uncovering the later one, as with any key written twice).
// A write edits the file's text: a key is replaced in its line, a new key goes after the last
// non-blank line of its section, a new section at the end of the file; comments, blank lines
// and everything else stay as they are; new lines end in CR LF; a value loses its leading
// blanks, as Wine writes it; a write that changes nothing leaves the file alone. A NULL key
// deletes the section, a NULL value the key. Every write reaches the disk whole: a temporary
// file beside the target, fsync, rename (through a symbolic link, keeping the file's mode),
// so a crash or a full disk leaves the old file or the new one, never a torn one; a crash
// can leave the temporary "<name>.XXXXXX" beside it.
// A profile beside the executable, in a folder the user cannot write (an installed package),
// is virtualised as Windows does for a legacy program in a protected folder: it is read from
// and written to $XDG_CONFIG_HOME/<program>/<name>, <program> the executable's name in lower
// case, and the file beside the executable gives the defaults until that copy exists.
// Only a regular file of at most 8 MiB is a profile. Anything else at the path (a FIFO, a
// device, a socket, a folder, also behind a link), a bigger file, or one that cannot be read
// whole reads as no file and fails every write, which then leaves it untouched: an edit of
// part of a file would lose the rest. Reading never blocks, and costs time linear in the
// file's size.
// Not supported: relative file names (Windows looks in its own folder), win.ini (a NULL file
// name), the IniFileMapping registry redirection, multibyte code pages, Unicode files.
#include "platform/win32.h"
#include "platform/posix_file.h"

#include <algorithm>
#include <cassert>
#include <cctype>
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
    return a.size() == b.size() && (a.empty() || strncasecmp(a.data(), b.data(), a.size()) == 0);
}

// A UTF-8 byte order mark is not part of the first line.
size_t firstLine(std::string_view file)
{
    return file.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// The line that begins at offset start.
IniLine lineAt(std::string_view file, size_t start)
{
    const char *text = file.data();
    const char *p = text + start;
    const char *stop = text + file.size();
    while (p < stop && *p != '\r' && *p != '\n')
        ++p;
    size_t end = size_t(p - text);
    size_t next = end;
    if (next < file.size() && file[next] == '\r')
        ++next;
    if (next < file.size() && file[next] == '\n' && (next == end || file[end] == '\r'))
        ++next;
    IniLine line = {start, end, next, LINE_BLANK, {}, {}};
    std::string_view body = trim(file.substr(start, end - start));
    if (body.empty()) {
        line.kind = LINE_BLANK;
    } else if (body.front() == '[') {
        size_t close = body.find(']');
        line.kind = LINE_SECTION;
        line.name = trim(body.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    } else if (size_t equals = body.find('='); equals != std::string_view::npos) {
        line.kind = LINE_KEY;
        line.name = trim(body.substr(0, equals));
        line.value = trim(body.substr(equals + 1));
    } else {
        line.kind = LINE_TEXT;
        line.name = body;
    }
    return line;
}

// The header of the first section with that name.
bool findSection(std::string_view file, std::string_view section, IniLine *header)
{
    for (size_t at = firstLine(file); at < file.size(); at = header->next) {
        *header = lineAt(file, at);
        if (header->kind == LINE_SECTION && sameName(header->name, section))
            return true;
    }
    return false;
}

// One walk through a section's lines, for everything a lookup or an edit needs from it.
struct SectionScan {
    size_t end = 0;     // where the next section begins, or the end of the file
    IniLine last = {};  // the last line that is not blank, the header if none
    bool found = false; // the key asked for, its first line
    IniLine key = {};
    std::vector<std::string_view> keys; // every key's name, when asked for
};

// The key found is the first line of its name, a bare "name" too.
SectionScan scanSection(std::string_view file, const IniLine &header, std::string_view key, bool listKeys = false)
{
    SectionScan scan;
    scan.last = header;
    size_t at = header.next;
    while (at < file.size()) {
        IniLine line = lineAt(file, at);
        if (line.kind == LINE_SECTION)
            break;
        if (line.kind != LINE_BLANK)
            scan.last = line;
        if (line.kind == LINE_KEY && listKeys)
            scan.keys.push_back(line.name);
        if (!scan.found && (line.kind == LINE_KEY || line.kind == LINE_TEXT) &&
            sameName(line.name, key)) {
            scan.found = true;
            scan.key = line;
        }
        at = line.next;
    }
    scan.end = at;
    return scan;
}

[[maybe_unused]] bool isRelative(const char *path)
{
    return path[0] != '/' && !(path[0] && path[1] == ':');
}

constexpr size_t kLargestFile = 8 << 20;
constexpr DWORD kErrorReadFault = 30;
constexpr DWORD kErrorFileTooLarge = 223;

enum FileState { FILE_READ, FILE_ABSENT, FILE_REFUSED };

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

// The whole file. FILE_ABSENT: nothing at the path; FILE_REFUSED, with the reason in
// *error: not a regular file, too big, or not readable to its end.
FileState readFile(const char *path, std::string &content, DWORD *error)
{
    int failure = readRegularFile(path, content, kLargestFile);
    *error = failure == EFBIG ? kErrorFileTooLarge : failure == EIO ? kErrorReadFault : errorOf(failure);
    return !failure ? FILE_READ : failure == ENOENT || failure == ENOTDIR ? FILE_ABSENT : FILE_REFUSED;
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
    if (exists && !S_ISREG(info.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
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

const char *programFolderForTests = nullptr;

// Where a profile is read from and written to: the file itself, or its per-user copy.
struct ProfilePlace {
    std::string read, write;
    bool virtualised = false;
};

ProfilePlace profilePlace(const char *fileName)
{
    ProfilePlace place = {fileName, fileName};
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return place;
    std::string_view executable(self, size_t(length));
    size_t slash = executable.rfind('/');
    std::string folder(programFolderForTests ? std::string_view(programFolderForTests) : executable.substr(0, slash));
    std::string_view path = fileName;
    if (path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 || path[folder.size()] != '/' ||
        path.find('/', folder.size() + 1) != std::string_view::npos || access(folder.c_str(), W_OK) == 0)
        return place;
    std::string store = userConfigFolder();
    if (store.empty())
        return place;
    std::string program(executable.substr(slash + 1));
    for (char &c : program)
        c = char(std::tolower((unsigned char)c));
    place.write = store + "/" + program + "/" + std::string(path.substr(folder.size() + 1));
    struct stat info;
    if (lstat(place.write.c_str(), &info) == 0)
        place.read = place.write;
    place.virtualised = true;
    return place;
}

} // namespace

void layerPlaceProgramForProfiles(const char *folder)
{
    programFolderForTests = folder;
}

DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText, LPSTR returnedString,
                               DWORD size, LPCSTR fileName)
{
    if (!returnedString || size == 0)
        return 0;
    assert((!fileName || !*fileName || !isRelative(fileName)) && "GetPrivateProfileStringA: relative file names");

    std::string file;
    DWORD error;
    if (fileName && *fileName)
        readFile(profilePlace(fileName).read.c_str(), file, &error); // no file, or one refused, reads as empty

    if (!appName) {
        std::vector<std::string_view> names;
        for (size_t at = firstLine(file); at < file.size();) {
            IniLine line = lineAt(file, at);
            if (line.kind == LINE_SECTION && !line.name.empty())
                names.push_back(line.name);
            at = line.next;
        }
        return copyList(returnedString, size, names);
    }
    IniLine header;
    bool inFile = findSection(file, trim(appName), &header);
    std::string_view key = keyName ? trim(keyName) : std::string_view();
    SectionScan scan;
    if (inFile)
        scan = scanSection(file, header, key, !keyName);
    if (!keyName)
        return copyList(returnedString, size, scan.keys);
    if (!scan.found || scan.key.kind != LINE_KEY) {
        // Windows drops the default's trailing blanks.
        std::string_view fallback = defaultText ? defaultText : "";
        while (!fallback.empty() && isBlank(fallback.back()))
            fallback.remove_suffix(1);
        return copyValue(returnedString, size, fallback);
    }
    std::string_view value = scan.key.value;
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

    ProfilePlace place = profilePlace(fileName);
    std::string file;
    DWORD error;
    // A defaults file that cannot be read gives no defaults: the user's own copy is written.
    if (readFile(place.read.c_str(), file, &error) == FILE_REFUSED && !(place.virtualised && place.read != place.write)) {
        SetLastError(error);
        return FALSE;
    }
    if (place.virtualised && !makeFolders(place.write.substr(0, place.write.rfind('/')))) {
        SetLastError(errorOf(errno));
        return FALSE;
    }
    fileName = place.write.c_str();
    std::string_view section = trim(appName);
    std::string_view name = keyName ? trim(keyName) : std::string_view();
    IniLine header;
    if (!findSection(file, section, &header)) {
        if (!keyName || !text)
            return TRUE; // nothing to delete
        if (!file.empty() && file.back() != '\n' && file.back() != '\r')
            file += "\r\n";
        std::string_view value = text;
        while (!value.empty() && isBlank(value.front()))
            value.remove_prefix(1);
        file.append("[").append(section).append("]\r\n");
        file.append(name).append("=").append(value).append("\r\n");
        return replaceFile(fileName, file);
    }
    SectionScan scan = scanSection(file, header, name);

    if (!keyName || !text) {
        if (!keyName)
            file.erase(header.start, scan.end - header.start);
        else if (scan.found)
            file.erase(scan.key.start, scan.key.next - scan.key.start);
        else
            return TRUE;
        return replaceFile(fileName, file);
    }

    std::string_view value = text;
    while (!value.empty() && isBlank(value.front()))
        value.remove_prefix(1);
    if (scan.found) {
        const IniLine &line = scan.key;
        if (line.kind == LINE_KEY && line.value == value)
            return TRUE; // nothing changes: the file is left alone
        std::string replacement = std::string(line.name) + "=" + std::string(value);
        file.replace(line.start, line.end - line.start, replacement);
        return replaceFile(fileName, file);
    }
    // After the section's last non-blank line, so blank lines before the next section stay.
    std::string insertion;
    if (scan.last.next == scan.last.end)
        insertion = "\r\n"; // the line had no line break: the file ended there
    insertion.append(name).append("=").append(value).append("\r\n");
    file.insert(scan.last.next, insertion);
    return replaceFile(fileName, file);
}
