// Reads TallowLAMP.exe itself and checks what the Windows program promises: a GUI program of
// the expected kind (PE32 for i386, or PE32+ for x86-64 in the 64-bit test build) that imports
// system DLLs only, so it runs without any MinGW runtime beside it, and carries dialog 100
// and the nine lamp and meter icons; and the help page lies beside it.
//   pe_contract PROGRAM.exe 32|64
// Built with the build machine's compiler: it runs where the tests run, without Wine.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> image;
int failures = 0;

void check(bool ok, const std::string &what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    failures += !ok;
}

uint32_t read(size_t at, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | (at + i < image.size() ? image[at + i] : 0);
    return value;
}

struct Section {
    uint32_t virtualAddress, virtualSize, fileOffset;
};
std::vector<Section> sections;

// A relative virtual address to its place in the file (0 when it lies in no section).
size_t fileOffset(uint32_t rva)
{
    for (const Section &s : sections)
        if (rva >= s.virtualAddress && rva < s.virtualAddress + s.virtualSize)
            return rva - s.virtualAddress + s.fileOffset;
    return 0;
}

std::string textAt(size_t at)
{
    std::string text;
    while (at < image.size() && image[at])
        text += char(image[at++]);
    return text;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The numeric ids of the entries of one resource type (a directory below the root).
std::set<uint32_t> resourceIds(size_t root, uint32_t type)
{
    std::set<uint32_t> ids;
    auto entries = [&](size_t directory, auto visit) {
        uint32_t count = read(directory + 12, 2) + read(directory + 14, 2);
        for (uint32_t i = 0; i < count; ++i)
            visit(read(directory + 16 + 8 * i, 4), read(directory + 20 + 8 * i, 4));
    };
    entries(root, [&](uint32_t name, uint32_t target) {
        if (name != type || !(target & 0x80000000u))
            return;
        entries(root + (target & 0x7fffffffu), [&](uint32_t id, uint32_t) {
            if (!(id & 0x80000000u))
                ids.insert(id);
        });
    });
    return ids;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[2], "32") && std::strcmp(argv[2], "64"))) {
        std::fprintf(stderr, "usage: pe_contract PROGRAM.exe 32|64\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    image.assign(std::istreambuf_iterator<char>(file), {});
    bool wide = std::strcmp(argv[2], "64") == 0;
    check(image.size() > 1024 && read(0, 2) == 0x5a4d, "an MZ executable");
    size_t pe = read(0x3c, 4);
    check(read(pe, 4) == 0x00004550, "with a PE header");
    check(read(pe + 4, 2) == (wide ? 0x8664u : 0x014cu), wide ? "for x86-64" : "for i386");
    size_t optional = pe + 24;
    check(read(optional, 2) == (wide ? 0x20bu : 0x10bu), wide ? "PE32+" : "PE32");
    check(read(optional + 68, 2) == 2, "GUI subsystem");
    if (failures)
        return 1;

    uint32_t sectionCount = read(pe + 6, 2);
    size_t table = optional + read(pe + 20, 2);
    for (uint32_t i = 0; i < sectionCount; ++i) {
        size_t s = table + 40 * i;
        sections.push_back({read(s + 12, 4), std::max(read(s + 8, 4), read(s + 16, 4)), read(s + 20, 4)});
    }
    size_t directories = optional + (wide ? 112 : 96);

    const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll",   "advapi32.dll",
                                          "shell32.dll",  "shlwapi.dll", "comctl32.dll", "msvcrt.dll"};
    std::vector<std::string> imported;
    for (size_t entry = fileOffset(read(directories + 8, 4)); entry && read(entry + 12, 4); entry += 20)
        imported.push_back(lower(textAt(fileOffset(read(entry + 12, 4)))));
    check(!imported.empty(), "imports found");
    for (const std::string &dll : imported)
        check(system.count(dll) == 1, "imports " + dll + (system.count(dll) ? ", a system DLL" : ", not a system DLL"));

    size_t resources = fileOffset(read(directories + 16, 4));
    check(resources != 0, "a resource section");
    check(resourceIds(resources, 5) == std::set<uint32_t>{100}, "dialog 100, and no other");
    const std::set<uint32_t> icons = {107, 137, 138, 139, 140, 141, 146, 147, 148};
    check(resourceIds(resources, 14) == icons, "the nine icons 107, 137-141, 146-148");
    check(resourceIds(resources, 3).size() >= icons.size(), "their images");

    std::string folder = argv[1];
    folder = folder.substr(0, folder.find_last_of("/\\") + 1);
    check(std::ifstream(folder + "help.html").good(), "help.html beside it");
    return failures ? 1 : 0;
}
