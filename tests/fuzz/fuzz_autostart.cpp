// The Run value as an XDG autostart entry (RegSetValueExA, RegQueryValueExA, RegDeleteValueA,
// XDG_CONFIG_HOME in a scratch folder). The input's first byte has the flags (bit 0: quote
// the program even when it needs no quotes), then fields split by zero bytes: the value's
// name, the program's path below a scratch folder (made as a file first), its arguments.
// The command is written as Windows writes one: the program, then each argument by the C
// runtime's quoting rules.
// Properties, for every command accepted: it reads back byte for byte; the entry is one
// [Desktop Entry] group with each key once, its Name the value's name, and its Exec line read
// by the Desktop Entry rules (string escapes, then quoting, no reserved character outside
// quotes, no field code) runs exactly that program with exactly those arguments; deleting
// removes it. A refused command leaves no entry. A plain name and a plain command are never
// refused.
#include "platform/win32.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// One argument as CommandLineToArgvW reads it back.
std::string windowsArgument(const std::string &word)
{
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos)
        return word;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    return out.append(backslashes * 2, '\\') + "\"";
}

// The arguments a launcher runs from an Exec value, or an empty list and *error.
std::vector<std::string> launcherArguments(const std::string &value, std::string *error)
{
    std::string exec;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            exec += value[i];
            continue;
        }
        char c = i + 1 < value.size() ? value[++i] : 0;
        if (!c || !std::strchr("sntr\\", c))
            return *error = "unknown string escape", std::vector<std::string>();
        exec += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    std::vector<std::string> words;
    for (size_t i = 0; i < exec.size();) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string word;
        while (i < exec.size() && exec[i] != ' ') {
            if (exec[i] != '"') {
                if (std::strchr("\t\n'\\><~|&;$*?#()`", exec[i]))
                    return *error = "a reserved character outside quotes", std::vector<std::string>();
                word += exec[i++];
                continue;
            }
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size() && std::strchr("\"`$\\", exec[i + 1]))
                    ++i;
                else if (std::strchr("`$\\", exec[i]))
                    return *error = "an unescaped character inside quotes", std::vector<std::string>();
                word += exec[i];
            }
            if (i == exec.size())
                return *error = "an unterminated quote", std::vector<std::string>();
            ++i;
        }
        std::string expanded;
        for (size_t k = 0; k < word.size(); ++k) {
            if (word[k] == '%' && (k + 1 == word.size() || word[++k] != '%'))
                return *error = "a field code", std::vector<std::string>();
            expanded += word[k];
        }
        words.push_back(expanded);
    }
    return words;
}

std::vector<std::string> entriesIn(const std::string &folder)
{
    std::vector<std::string> names;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
                names.push_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

// The keys of the entry's one group; fails on anything a reader could take another way.
std::map<std::string, std::string> readEntry(const std::string &text)
{
    std::map<std::string, std::string> keys;
    std::vector<std::string> lines = split(text, '\n');
    if (lines.size() < 2 || lines[0] != "[Desktop Entry]" || !lines.back().empty())
        fuzzFailure("not one Desktop Entry group: %s", printable(text).c_str());
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        size_t equals = lines[i].find('=');
        if (equals == std::string::npos || equals == 0 || lines[i][0] == '[' || lines[i][0] == '#')
            fuzzFailure("line %s of %s", printable(lines[i]).c_str(), printable(text).c_str());
        if (!keys.emplace(lines[i].substr(0, equals), lines[i].substr(equals + 1)).second)
            fuzzFailure("a key twice in %s", printable(text).c_str());
    }
    return keys;
}

std::string unescapeString(const std::string &value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            char c = value[++i];
            out += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            out += value[i];
        }
    }
    return out;
}

// Letters, digits and a few marks that any file name and command line may hold.
bool plain(const std::string &text, const char *marks)
{
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr(marks, c)))
            return false;
    return true;
}

void checkEntry(const std::string &folder, const std::string &name, const std::vector<std::string> &argv,
                const std::string &command)
{
    std::vector<std::string> entries = entriesIn(folder);
    if (entries.size() != 1 || entries[0] != name + ".desktop")
        fuzzFailure("value %s: %zu entries", printable(name).c_str(), entries.size());
    std::string text = readFile(folder + "/" + entries[0]);
    std::map<std::string, std::string> keys = readEntry(text);
    if (keys["Type"] != "Application" || unescapeString(keys["Name"]) != name)
        fuzzFailure("type or name in %s", printable(text).c_str());
    std::string error;
    std::vector<std::string> run = launcherArguments(keys["Exec"], &error);
    if (!error.empty())
        fuzzFailure("%s in the Exec line of %s", error.c_str(), printable(text).c_str());
    if (run != argv) {
        std::string got;
        for (const std::string &word : run)
            got += printable(word) + " ";
        fuzzFailure("command %s runs %s", printable(command).c_str(), got.c_str());
    }
}

void checkQuery(HKEY key, const std::string &name, const std::string &command)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ ||
        size != command.size() + 1)
        fuzzFailure("value %s: type %u, size %u", printable(name).c_str(), type, size);
    // A buffer of exactly the size asked for, and one a byte short.
    std::unique_ptr<BYTE[]> data(new BYTE[size]);
    DWORD room = size - 1;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data.get(), &room) != ERROR_MORE_DATA || room != size)
        fuzzFailure("a short buffer for %s", printable(name).c_str());
    room = size;
    if (RegQueryValueExA(key, name.c_str(), nullptr, &type, data.get(), &room) != ERROR_SUCCESS ||
        std::string(reinterpret_cast<char *>(data.get()), room) != std::string(command.c_str(), command.size() + 1))
        fuzzFailure("%s reads back as %s", printable(command).c_str(),
                    printable(std::string(reinterpret_cast<char *>(data.get()), room)).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const std::string config = scratchFolder() + "/config";
    static const std::string autostart = config + "/autostart";
    static const std::string programs = scratchFolder() + "/programs";
    static bool pointed = setenv("XDG_CONFIG_HOME", config.c_str(), 1) == 0;
    (void)pointed;
    if (size == 0)
        return 0;
    std::vector<std::string> fields = split(std::string_view(reinterpret_cast<const char *>(data) + 1, size - 1), '\0');
    // The key's default value is no Run value (the layer asserts).
    if (fields.size() < 2 || fields.size() > 12 || fields[0].empty())
        return 0;

    // The program: a file of its own, reached through no "." or "..".
    emptyFolder(programs);
    emptyFolder(autostart);
    const std::string &name = fields[0];
    std::vector<std::string> parts = split(fields[1], '/');
    for (const std::string &part : parts)
        if (part == "." || part == ".." || part.size() > 255)
            return 0;
    std::string program = programs + "/" + fields[1];
    if (!makeFolders(program.substr(0, program.rfind('/'))) || !writeFile(program, ""))
        return 0;

    bool quoted = (data[0] & 1) || program.find_first_of(" \t") != std::string::npos;
    std::string command = quoted ? "\"" + program + "\"" : program;
    std::vector<std::string> argv = {program};
    for (size_t i = 2; i < fields.size(); ++i) {
        command += " " + windowsArgument(fields[i]);
        argv.push_back(fields[i]);
    }

    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        fuzzFailure("the Run key does not open");
    LSTATUS status = RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                                    DWORD(command.size() + 1));
    if (status != ERROR_SUCCESS) {
        if (!entriesIn(autostart).empty())
            fuzzFailure("a refused value %s left an entry", printable(name).c_str());
        if (name.size() < 100 && plain(name, " -_") && plain(command, " -_./"))
            fuzzFailure("value %s of %s refused: %ld", printable(name).c_str(), printable(command).c_str(),
                        long(status));
    } else {
        checkQuery(key, name, command);
        checkEntry(autostart, name, argv, command);
        if (RegDeleteValueA(key, name.c_str()) != ERROR_SUCCESS || !entriesIn(autostart).empty())
            fuzzFailure("value %s is not deleted", printable(name).c_str());
    }
    RegCloseKey(key);
    return 0;
}
