// The settings file (GetPrivateProfileStringA, WritePrivateProfileStringA): a file of any
// bytes, then writes to it. The input is the file, "\0\0", then one write a line ('\n'), its
// fields split by '\1': "section\1key\1value" writes, "section\1key" deletes the key,
// "section" the section.
// Properties: a write that succeeds reads back (blanks around the value and one pair of
// quotes go, as on reading); every key that no write named keeps its value; a write that
// fails leaves the file's bytes as they were; lists and values never overrun a short buffer.
#include "platform/win32.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// Values hold no line break, so a default of one means "no such key".
const char kAbsent[] = "\n";
const DWORD kRoom = 1 << 16;

struct Write {
    std::string section;
    std::string key;   // unused when deleting the section
    std::string value; // unused when deleting
    int fields;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string trim(const std::string &text)
{
    size_t first = 0, last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// Names match without case and without the blanks around them.
std::string nameKey(const std::string &name)
{
    std::string key = trim(name);
    for (char &c : key)
        if (c >= 'A' && c <= 'Z')
            c = char(c + ('a' - 'A'));
    return key;
}

// What a written value reads back as.
std::string readBack(const std::string &value)
{
    std::string text = trim(value);
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
        text = text.substr(1, text.size() - 2);
    return text;
}

std::string readValue(const std::string &path, const std::string &section, const std::string &key)
{
    static std::vector<char> buffer(kRoom);
    DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), kAbsent, buffer.data(), kRoom, path.c_str());
    return std::string(buffer.data(), length);
}

// The names of a list answer, each ended by a zero.
std::vector<std::string> readList(const std::string &path, const char *section)
{
    static std::vector<char> buffer(kRoom);
    DWORD length = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), kRoom, path.c_str());
    std::vector<std::string> names;
    for (size_t at = 0; at < length;) {
        size_t end = std::find(buffer.data() + at, buffer.data() + length, '\0') - buffer.data();
        names.emplace_back(buffer.data() + at, end - at);
        at = end + 1;
    }
    return names;
}

// Writes whose effect the reading rules define: no line breaks or zeros, a section name
// without ']', a key that neither holds '=' nor starts like a section.
bool definedWrite(const Write &write)
{
    auto plain = [](const std::string &text) { return text.find_first_of("\r\n", 0, 3) == std::string::npos; };
    if (!plain(write.section) || !plain(write.key) || !plain(write.value))
        return false;
    if (write.section.find(']') != std::string::npos)
        return false;
    std::string key = trim(write.key);
    return key.find('=') == std::string::npos && (key.empty() || key[0] != '[');
}

std::vector<Write> parseWrites(std::string_view text)
{
    std::vector<Write> writes;
    while (!text.empty() && writes.size() < 16) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        Write write{{}, {}, {}, 1};
        std::string *field = &write.section;
        for (char c : line) {
            if (c != '\1')
                *field += c;
            else if (write.fields < 3)
                field = ++write.fields == 2 ? &write.key : &write.value;
        }
        if (definedWrite(write))
            writes.push_back(write);
    }
    return writes;
}

// Lists and values cut to a buffer of exactly size characters, which ASan guards.
void readIntoShortBuffers(const std::string &path, DWORD size)
{
    std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
    DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", buffer.get(), size, path.c_str());
    // Two zeros end the list: after the last name's own, or after a name cut short.
    bool ended = size >= 2 && length <= size - 2 && !buffer[length] &&
                 (length == 0 || !buffer[length - 1] || !buffer[length + 1]);
    if (size >= 2 && !ended)
        fuzzFailure("a section list of %u in a buffer of %u is not ended by two zeros", length, size);
    std::vector<std::string> sections = readList(path, nullptr);
    for (const std::string &section : sections) {
        length = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.get(), size, path.c_str());
        if (size >= 2 && length > size - 2)
            fuzzFailure("a key list of %u in a buffer of %u", length, size);
        for (const std::string &key : readList(path, section.c_str())) {
            length = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.get(), size, path.c_str());
            if (size && (length >= size || buffer[length]))
                fuzzFailure("a value of %u in a buffer of %u", length, size);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view input(reinterpret_cast<const char *>(data), size);
    size_t split = input.find(std::string_view("\0\0", 2));
    std::string_view initial = input.substr(0, split);
    std::vector<Write> writes =
        parseWrites(split == std::string_view::npos ? std::string_view() : input.substr(split + 2));

    static const std::string path = scratchFolder() + "/TallowLAMP.ini";
    if (!writeFile(path, initial))
        fuzzFailure("cannot write %s", path.c_str());

    // What the file holds now, by section and key as the calls match them.
    std::vector<std::string> sections = readList(path, nullptr);
    sections.push_back("");
    for (const Write &write : writes)
        sections.push_back(write.section);
    std::map<std::string, std::map<std::string, std::string>> expected;
    std::map<std::string, std::string> spelling; // a section's name as given to the calls
    for (const std::string &section : sections) {
        std::string sectionKey = nameKey(section);
        if (!spelling.emplace(sectionKey, section).second)
            continue;
        for (const std::string &key : readList(path, section.c_str()))
            expected[sectionKey].emplace(nameKey(key), readValue(path, section, key));
    }

    for (const Write &write : writes) {
        std::string before = readFile(path);
        const char *key = write.fields >= 2 ? write.key.c_str() : nullptr;
        const char *value = write.fields >= 3 ? write.value.c_str() : nullptr;
        if (!WritePrivateProfileStringA(write.section.c_str(), key, value, path.c_str())) {
            if (readFile(path) != before)
                fuzzFailure("a failed write of [%s] changed the file", printable(write.section).c_str());
            continue;
        }
        std::string sectionKey = nameKey(write.section);
        spelling.emplace(sectionKey, write.section);
        // A deleted key or section may uncover a later one of the same name: not checked.
        if (!key)
            expected.erase(sectionKey);
        else if (!value)
            expected[sectionKey].erase(nameKey(write.key));
        else
            expected[sectionKey][nameKey(write.key)] = readBack(write.value);
        if (value && readValue(path, write.section, write.key) != readBack(write.value))
            fuzzFailure("[%s] %s=%s reads back as %s", printable(write.section).c_str(), printable(write.key).c_str(),
                        printable(write.value).c_str(), printable(readValue(path, write.section, write.key)).c_str());
    }

    for (const auto &[sectionKey, keys] : expected)
        for (const auto &[key, value] : keys) {
            std::string now = readValue(path, spelling[sectionKey], key);
            if (now != value)
                fuzzFailure("[%s] %s was %s, now %s", printable(spelling[sectionKey]).c_str(), printable(key).c_str(),
                            printable(value).c_str(), printable(now).c_str());
        }
    readIntoShortBuffers(path, DWORD(size % 41));
    return 0;
}
