// ADVAPI32 registry: the current user's Run key, as XDG autostart entries.
//
// Supported: RegCreateKeyExA of HKEY_CURRENT_USER "Software\Microsoft\Windows\CurrentVersion\Run"
// (names compared without case; it always exists, as on Windows); RegSetValueExA (REG_SZ),
// RegQueryValueExA, RegDeleteValueA on that key; RegCloseKey.
// A value named N is the file $XDG_CONFIG_HOME/autostart/N.desktop (~/.config when the
// variable is unset or not absolute; N compared without case, as value names are). Its
// command text, a Windows command line (a program, quoted or not, then arguments), becomes
// the Exec line with every argument quoted by the Desktop Entry rules, so that no character
// of a path can split it, add an argument or reach a shell; the text itself is kept in
// X-TallowLAMP-Command for RegQueryValueExA, and the program in TryExec. The file is written whole: a temporary file
// beside it, flushed to the disk, then renamed over it. Only regular files are entries (a
// folder or FIFO of that name is no value and is never replaced), and since value names
// ignore case, every file whose name matches is the value's: deleting removes them all.
// A quoted program must name an existing regular file: the quotes are never read any other
// way, so a text whose program names no file (a deleted executable, "... (deleted)") is
// refused with ERROR_FILE_NOT_FOUND.
// Not supported: any other key or root (ERROR_ACCESS_DENIED, as the program may meet on
// Windows too); value types other than REG_SZ and the key's default value (debug builds
// assert); names that cannot be file names (a '/', a leading '.', control characters) and
// texts that are not UTF-8 or hold control characters (ERROR_INVALID_PARAMETER).
#include "platform/win32.h"
#include "platform/posix_file.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct HKEY__ {
    uint32_t magic;
};

namespace {

constexpr uint32_t kKeyMagic = 0x52554e4b; // 'RUNK'
constexpr LSTATUS kErrorDiskFull = 112;
constexpr DWORD kRegOpenedExistingKey = 2;
const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kCommandKey[] = "X-TallowLAMP-Command=";

std::vector<HKEY> openKeys;

bool isOpen(HKEY key)
{
    return key && std::find(openKeys.begin(), openKeys.end(), key) != openKeys.end();
}

LSTATUS unsupported(const char *what)
{
    std::fprintf(stderr, "TallowLAMP layer: registry: unsupported %s\n", what);
    assert(!"unsupported registry request");
    return ERROR_NOT_SUPPORTED;
}

bool sameIgnoringCase(const char *a, const char *b)
{
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return !*a && !*b;
}

bool hasControlCharacter(const std::string &text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool isUtf8(const std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = c < 0x80 ? 0 : c < 0xc2 ? 4 : c < 0xe0 ? 1 : c < 0xf0 ? 2 : c < 0xf5 ? 3 : 4;
        if (extra == 4 || i + extra >= text.size() + (extra ? 0 : 1))
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80)
                return false;
        i += extra + 1;
    }
    return true;
}

// A value name that can be a file name of its own in the autostart folder.
bool usableName(const char *name)
{
    return name && *name && name[0] != '.' && !std::strchr(name, '/') && std::strlen(name) < 200 &&
           !hasControlCharacter(name) && isUtf8(name);
}

std::string autostartFolder()
{
    std::string config = userConfigFolder();
    return config.empty() ? config : config + "/autostart";
}

bool isRegularFile(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The files of a value's entries: every name in the folder that differs from the value's only
// in case (value names ignore case; each keeps its own spelling, as Windows keeps it).
std::vector<std::string> entryFiles(const std::string &folder, const char *name)
{
    std::vector<std::string> files;
    std::string file = std::string(name) + ".desktop";
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            if (sameIgnoringCase(entry->d_name, file.c_str()))
                files.push_back(folder + "/" + entry->d_name);
        closedir(dir);
    }
    return files;
}

// The entry of a value: the first regular file among its names, else the name itself.
std::string entryPath(const char *name)
{
    std::string folder = autostartFolder();
    if (folder.empty())
        return folder;
    for (const std::string &file : entryFiles(folder, name))
        if (isRegularFile(file))
            return file;
    return folder + "/" + name + ".desktop";
}

// Creates the folder and its missing parents.
LSTATUS errorFrom(int error)
{
    switch (error) {
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    default: return ERROR_ACCESS_DENIED;
    }
}

// --- command text to Exec line -------------------------------------------------------------

// The program and arguments of a Windows command line. The program is quoted or ends at the
// first blank, as CreateProcess reads it. A quoted program whose path itself holds quotes
// ends at the last closing quote that leaves an existing file; when none does, there is no
// program (an empty list): cut at some other quote, the path would name another program.
// The arguments follow the C runtime's rules.
std::vector<std::string> splitCommandLine(const std::string &line)
{
    std::vector<std::string> words;
    size_t at = 0;
    if (!line.empty() && line[0] == '"') {
        for (at = line.size() - 1; at > 0; --at) {
            bool endsWord = line[at] == '"' && (at + 1 == line.size() || line[at + 1] == ' ' || line[at + 1] == '\t');
            if (endsWord && isRegularFile(line.substr(1, at - 1)))
                break;
        }
        if (at == 0)
            return words;
        words.push_back(line.substr(1, at - 1));
        ++at;
    } else {
        at = line.find_first_of(" \t");
        words.push_back(line.substr(0, at));
        if (at == std::string::npos)
            return words;
    }
    while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
        std::string word;
        bool quoted = false;
        while (at < line.size() && (quoted || (line[at] != ' ' && line[at] != '\t'))) {
            char c = line[at];
            if (c == '\\') {
                size_t run = line.find_first_not_of('\\', at);
                size_t backslashes = (run == std::string::npos ? line.size() : run) - at;
                at += backslashes;
                if (at < line.size() && line[at] == '"') {
                    word.append(backslashes / 2, '\\');
                    if (backslashes % 2)
                        word += '"', ++at;
                } else {
                    word.append(backslashes, '\\');
                }
            } else if (c == '"') {
                if (quoted && at + 1 < line.size() && line[at + 1] == '"')
                    word += '"', ++at;
                else
                    quoted = !quoted;
                ++at;
            } else {
                word += c;
                ++at;
            }
        }
        words.push_back(word);
    }
    return words;
}

// Desktop Entry "string" escapes, applied to a whole value (control characters never get
// this far).
std::string escapeValue(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

std::string unescapeValue(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return out;
}

// One argument of an Exec line: always quoted; inside the quotes '"', '`', '$' and '\' take a
// backslash, and '%' is doubled so that it is never a field code.
std::string quoteArgument(const std::string &word)
{
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            out += '\\';
        out += c;
        if (c == '%')
            out += '%';
    }
    return out + "\"";
}

std::string desktopEntry(const char *name, const std::vector<std::string> &words, const std::string &command)
{
    std::string exec;
    for (const std::string &word : words)
        exec += (exec.empty() ? "" : " ") + quoteArgument(word);
    // TryExec: once the program is removed, desktops skip the entry instead of failing at log-on.
    return "[Desktop Entry]\nType=Application\nName=" + escapeValue(name) + "\nExec=" + escapeValue(exec) +
           "\nTryExec=" + escapeValue(words[0]) + "\n" + kCommandKey + escapeValue(command) + "\n";
}

// Writes the file whole: readers see the old entry or the new one, never a part.
LSTATUS writeWhole(const std::string &path, const std::string &text)
{
    size_t slash = path.rfind('/');
    std::string folder = path.substr(0, slash);
    if (!makeFolders(folder))
        return errorFrom(errno);
    std::string temporary = folder + "/." + path.substr(slash + 1) + ".XXXXXX";
    int error = replaceFileWhole(path, temporary, text, 0644);
    return error ? errorFrom(error) : ERROR_SUCCESS;
}

// Entries are small; anything bigger is no entry of ours.
constexpr size_t kLargestEntry = 65536;

// The command text of an entry: ours from its own key, another's from its Exec line.
std::string commandOf(const std::string &entry)
{
    std::string exec;
    for (size_t at = 0; at < entry.size();) {
        size_t end = entry.find('\n', at);
        std::string line = entry.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? entry.size() : end + 1;
        if (line.rfind(kCommandKey, 0) == 0)
            return unescapeValue(line.substr(std::strlen(kCommandKey)));
        if (line.rfind("Exec=", 0) == 0 && exec.empty())
            exec = unescapeValue(line.substr(5));
    }
    return exec;
}

} // namespace

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR, DWORD options, REGSAM,
                        LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition)
{
    if (!result || reserved)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (options != REG_OPTION_NON_VOLATILE)
        return unsupported("key options");
    if (key != HKEY_CURRENT_USER || !subKey || !sameIgnoringCase(subKey, kRunKey))
        return ERROR_ACCESS_DENIED;
    HKEY opened = new HKEY__{kKeyMagic};
    openKeys.push_back(opened);
    *result = opened;
    if (disposition)
        *disposition = kRegOpenedExistingKey;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    if (!isOpen(key))
        return ERROR_INVALID_HANDLE;
    if (reserved || (!data && size))
        return ERROR_INVALID_PARAMETER;
    if (type != REG_SZ)
        return unsupported("value type");
    if (!valueName || !*valueName)
        return unsupported("default value");
    if (!usableName(valueName))
        return ERROR_INVALID_PARAMETER;
    // REG_SZ data ends at its terminator, wherever the given size ends.
    const char *text = reinterpret_cast<const char *>(data);
    std::string command(text ? text : "", text ? strnlen(text, size) : 0);
    if (command.empty() || hasControlCharacter(command) || !isUtf8(command))
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string> words = splitCommandLine(command);
    if (words.empty())
        return ERROR_FILE_NOT_FOUND;
    std::string path = entryPath(valueName);
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !isRegularFile(path))
        return ERROR_ACCESS_DENIED; // a folder, FIFO or such of that name is never replaced
    LSTATUS status = writeWhole(path, desktopEntry(valueName, words, command));
    // One value, one entry: others of the same name in another case would start it again.
    if (status == ERROR_SUCCESS)
        for (const std::string &file : entryFiles(autostartFolder(), valueName))
            if (file != path && isRegularFile(file))
                unlink(file.c_str());
    return status;
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE *data, LPDWORD size)
{
    if (!isOpen(key))
        return ERROR_INVALID_HANDLE;
    if (reserved || (data && !size))
        return ERROR_INVALID_PARAMETER;
    std::string entry;
    if (!usableName(valueName) || readRegularFile(entryPath(valueName).c_str(), entry, kLargestEntry) != 0)
        return ERROR_FILE_NOT_FOUND;
    std::string command = commandOf(entry);
    DWORD needed = DWORD(command.size() + 1);
    if (type)
        *type = REG_SZ;
    if (!size)
        return ERROR_SUCCESS;
    DWORD room = *size;
    *size = needed;
    if (!data)
        return ERROR_SUCCESS;
    if (room < needed)
        return ERROR_MORE_DATA;
    std::memcpy(data, command.c_str(), needed);
    return ERROR_SUCCESS;
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName)
{
    if (!isOpen(key))
        return ERROR_INVALID_HANDLE;
    if (!usableName(valueName))
        return ERROR_FILE_NOT_FOUND;
    std::string folder = autostartFolder();
    LSTATUS status = ERROR_FILE_NOT_FOUND;
    LSTATUS failure = ERROR_SUCCESS;
    for (const std::string &file : entryFiles(folder, valueName)) {
        if (!isRegularFile(file))
            continue;
        if (unlink(file.c_str()) == 0)
            status = ERROR_SUCCESS;
        else
            failure = errorFrom(errno);
    }
    return failure != ERROR_SUCCESS ? failure : status;
}

LSTATUS RegCloseKey(HKEY key)
{
    auto found = std::find(openKeys.begin(), openKeys.end(), key);
    if (!key || found == openKeys.end())
        return ERROR_INVALID_HANDLE;
    openKeys.erase(found);
    delete key;
    return ERROR_SUCCESS;
}
